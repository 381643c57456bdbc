#pragma once

#include <QByteArray>
#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

namespace parlo::platform {

// The desktop's per-user secret store (Secret Service or KWallet through QtKeychain), one generic
// secret per service and account. There is no insecure fallback: without a reachable store every
// operation fails, and fails promptly (no session bus means an immediate error, never a hang).
struct SecretLookup {
    enum class Outcome { Found, Absent, Failed };
    Outcome outcome = Outcome::Failed;
    QByteArray data;          // Found: the secret
    QString errorDescription; // Failed: the store's own description
};

QCoro::Task<SecretLookup> readSecret(QString service, QString account);
// Both return the store's description of the failure, or nothing on success. Deleting an absent
// secret succeeds.
QCoro::Task<std::optional<QString>> deleteSecret(QString service, QString account);
QCoro::Task<std::optional<QString>> writeSecret(QString service, QString account, QByteArray data);

} // namespace parlo::platform
