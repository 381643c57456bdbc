#pragma once

#include <QByteArray>
#include <QString>
#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace parlo {

// The desktop's per-user secret store, one generic secret per service and account. There is no
// insecure fallback: without a reachable store every operation fails, and fails promptly.
class SecretStore {
public:
    struct Lookup {
        enum class Outcome { Found, Absent, Failed };
        Outcome outcome = Outcome::Failed;
        QByteArray data;          // Found: the secret
        QString errorDescription; // Failed: the store's own description
    };

    virtual ~SecretStore() = default;
    virtual QCoro::Task<Lookup> read(QString service, QString account) = 0;
    // Both return the store's description of the failure, or nothing on success. Removing an absent
    // secret succeeds.
    virtual QCoro::Task<std::optional<QString>> remove(QString service, QString account) = 0;
    virtual QCoro::Task<std::optional<QString>> write(QString service, QString account, QByteArray data) = 0;
};

// The remembered session token in the secret store: service "com.fernwick.parlo.session", account
// "personal". Only the token is ever stored, never the access key. Without a store nothing is
// remembered and saving a token fails as an unreachable store would.
class SessionVault {
public:
    explicit SessionVault(std::shared_ptr<SecretStore> store) : store_(std::move(store)) {}

    // The stored token; nothing when there is none, it is not UTF-8, or the store cannot be reached.
    QCoro::Task<std::optional<QString>> load();

    // Deletes the stored item (a failure there is ignored) and, when `token` has a value, adds it anew.
    // Throws ParloError "Не удалось сохранить сессию в хранилище паролей." when the add fails.
    QCoro::Task<> save(std::optional<QString> token);

private:
    std::shared_ptr<SecretStore> store_;
};

} // namespace parlo
