#include "server/SessionVault.h"

#include "core/ParloError.h"
#include "server/ServerTexts.h"

#include <QStringDecoder>

namespace parlo {

namespace {

const QString kService = QStringLiteral("com.fernwick.parlo.session");
const QString kAccount = QStringLiteral("personal");

} // namespace

QCoro::Task<std::optional<QString>> SessionVault::load() {
    if (!store_)
        co_return std::nullopt;
    const SecretStore::Lookup lookup = co_await store_->read(kService, kAccount);
    if (lookup.outcome != SecretStore::Lookup::Outcome::Found)
        co_return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(lookup.data);
    if (decoder.hasError())
        co_return std::nullopt;
    co_return text;
}

QCoro::Task<> SessionVault::save(std::optional<QString> token) {
    std::optional<QString> writeFailure;
    if (store_) {
        const std::optional<QString> deleteFailure = co_await store_->remove(kService, kAccount);
        Q_UNUSED(deleteFailure); // a failed delete is followed by the add, whose failure is reported
        if (!token)
            co_return;
        writeFailure = co_await store_->write(kService, kAccount, token->toUtf8());
    }
    if (token && (!store_ || writeFailure))
        throw ParloError(ServerText::sessionNotStored);
}

} // namespace parlo
