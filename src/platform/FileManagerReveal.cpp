#include "platform/FileManagerReveal.h"

#include "core/ParloError.h"
#include "platform/PlatformTexts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QUuid>
#include <qcoro/qcorosignal.h>

#include <chrono>
#include <memory>

namespace parlo::platform {

namespace {

// Long enough for the bus to start a file manager that is not running yet.
constexpr auto kShowItemsLimit = std::chrono::seconds(8);

QDBusConnection busAt(const QString& address) {
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(address,
                                         QStringLiteral("parlo-reveal-") + QUuid::createUuid().toString());
}

// True when a file manager took the request.
QCoro::Task<bool> showItems(const QString& file, const QString& busAddress) {
    QDBusConnection bus = busAt(busAddress);
    if (!bus.isConnected())
        co_return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)} << QString();
    auto watcher = std::make_unique<QDBusPendingCallWatcher>(
        bus.asyncCall(call, static_cast<int>(std::chrono::milliseconds(kShowItemsLimit).count())));
    if (!watcher->isFinished())
        co_await qCoro(watcher.get(), &QDBusPendingCallWatcher::finished);
    const bool answered = !watcher->isError();
    if (!busAddress.isEmpty())
        QDBusConnection::disconnectFromBus(bus.name());
    co_return answered;
}

} // namespace

QCoro::Task<> revealInFileManager(QString file, std::function<bool(const QUrl&)> openFolder,
                                  QString busAddress) {
    if (co_await showItems(file, busAddress))
        co_return;
    const QFileInfo info(file);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    if (openFolder && openFolder(QUrl::fromLocalFile(folder)))
        co_return;
    throw PlatformError(QString::fromUtf8(PlatformText::noFileManager).arg(folder));
}

} // namespace parlo::platform
