#include "platform/FileManagerReveal.h"
#include "core/ParloError.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace parlo;

namespace {

// A file manager as far as the bus can tell: it records what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

// A private session bus that knows no services of its own (nothing is started on demand), ended
// by its process id when the test is over.
class PrivateBus {
public:
    PrivateBus() {
        QFile config(dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the bus configuration");
        config.write(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
            "<busconfig><type>session</type><listen>unix:dir=" +
            dir.path().toUtf8() +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1")});
        if (!daemon.waitForStarted(5000) || !test::waitUntil([this] { return daemon.canReadLine(); }))
            throw std::runtime_error("dbus-daemon did not start");
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon.terminate(); // SIGTERM to the daemon this object started, by its process id
        if (!daemon.waitForFinished(5000))
            daemon.kill();
    }
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
};

class FileManagerRevealTest : public ::testing::Test {
protected:
    PrivateBus bus;
    QTemporaryDir files;
    QString file = files.filePath(QStringLiteral("conversation.m4a"));
    std::optional<QUrl> opened;
    bool folderOpens = true;

    void SetUp() override {
        QFile audio(file);
        ASSERT_TRUE(audio.open(QIODevice::WriteOnly));
    }
    void reveal() {
        test::runTask(platform::revealInFileManager(
            file,
            [this](const QUrl& folder) {
                opened = folder;
                return folderOpens;
            },
            bus.address));
    }
};

} // namespace

TEST_F(FileManagerRevealTest, TheFileManagerIsAskedToShowTheFileByItsUri) {
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, QStringLiteral("fake-file-manager"));
    ASSERT_TRUE(service.isConnected());
    FakeFileManager manager;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    reveal();
    EXPECT_EQ(manager.shown, QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});
    EXPECT_FALSE(opened); // no folder opened besides

    QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
}

TEST_F(FileManagerRevealTest, WithoutAFileManagerOnTheBusTheFolderIsOpenedAndOtherwiseItFails) {
    reveal();
    EXPECT_EQ(opened, QUrl::fromLocalFile(files.path()));

    folderOpens = false;
    try {
        reveal();
        FAIL() << "nothing could show the file";
    } catch (const PlatformError& error) {
        EXPECT_TRUE(describeError(error).startsWith(QStringLiteral("Не удалось открыть папку записи")));
        EXPECT_TRUE(describeError(error).endsWith(files.path()));
    }
}

#include "FileManagerRevealTest.moc"
