#pragma once

#include "server/SessionVault.h"

namespace parlo::platform {

// The desktop's secret store through QtKeychain: the Secret Service (GNOME Keyring, KeePassXC ...)
// or KWallet. No session bus means an immediate failure, never a hang.
class DesktopSecretStore final : public SecretStore {
public:
    QCoro::Task<Lookup> read(QString service, QString account) override;
    QCoro::Task<std::optional<QString>> remove(QString service, QString account) override;
    QCoro::Task<std::optional<QString>> write(QString service, QString account, QByteArray data) override;
};

} // namespace parlo::platform
