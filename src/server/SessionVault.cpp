#include "server/SessionVault.h"

#include "platform/SecretStore.h"
#include "server/ParloError.h"

#include <QStringDecoder>

namespace parlo::SessionVault {

namespace {

const QString kService = QStringLiteral("com.fernwick.parlo.session");
const QString kAccount = QStringLiteral("personal");

} // namespace

QCoro::Task<std::optional<QString>> load() {
    const platform::SecretLookup lookup = co_await platform::readSecret(kService, kAccount);
    if (lookup.outcome != platform::SecretLookup::Outcome::Found)
        co_return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(lookup.data);
    if (decoder.hasError())
        co_return std::nullopt;
    co_return text;
}

QCoro::Task<> save(std::optional<QString> token) {
    const std::optional<QString> deleteFailure = co_await platform::deleteSecret(kService, kAccount);
    Q_UNUSED(deleteFailure); // a failed delete is followed by the add, whose failure is reported
    if (!token)
        co_return;
    const std::optional<QString> writeFailure =
        co_await platform::writeSecret(kService, kAccount, token->toUtf8());
    if (writeFailure)
        throw ParloError("Не удалось сохранить сессию в Связке ключей.");
}

} // namespace parlo::SessionVault
