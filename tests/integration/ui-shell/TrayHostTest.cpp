// The real application on a real X server with a real tray host: Xvfb, trayer as the tray and
// xdotool as the user's mouse and keyboard. The application is started with --preview, so nothing is
// captured or sent; the test finds its icon in the tray, opens the menu, chooses "Настройки…", sees
// the settings sheet dim the window, and quits through the menu.
#include "shell/SingleInstance.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QRgb>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace {

using namespace std::chrono_literals;
using parlo::test::text;
using parlo::test::waitUntil;

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    QRect rect() const { return {x, y, width, height}; }
};

// A helper process that is ended (by its own pid) when the test ends.
class Helper {
public:
    Helper(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
           bool merged = true) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(merged ? QProcess::MergedChannels : QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
        process_.waitForStarted(5000);
    }
    ~Helper() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(2000);
            }
        }
    }
    bool running() const { return process_.state() == QProcess::Running; }
    QProcess& process() { return process_; }

private:
    QProcess process_;
};

class TrayHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "trayer", "xdotool"})
            if (QStandardPaths::findExecutable(text(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
        ASSERT_TRUE(home.isValid());
        QDir(home.path()).mkpath(text("fb"));
        env = QProcessEnvironment::systemEnvironment();
        // No session bus: the tray icon takes the XEmbed road that trayer hosts.
        env.insert(text("DBUS_SESSION_BUS_ADDRESS"), text("unix:path=/nonexistent/parlo-test-bus"));
        env.insert(text("XDG_CONFIG_HOME"), home.filePath(text("config")));
        env.insert(text("MELLO_PARLO_DATA_DIR"), home.filePath(text("data")));

        // Xvfb picks a free display itself and writes its number once it accepts clients.
        server = std::make_unique<Helper>(
            text("Xvfb"),
            QStringList{text("-displayfd"), text("1"), text("-screen"), text("0"), text("1600x1000x24"),
                        text("-fbdir"), home.filePath(text("fb")), text("-nolisten"), text("tcp")},
            env, false);
        QByteArray announced;
        ASSERT_TRUE(waitUntil(
            [&] {
                announced += server->process().readAllStandardOutput();
                return announced.contains('\n');
            },
            20s))
            << "Xvfb did not start";
        display = announced.trimmed().toInt();
        env.insert(text("DISPLAY"), QStringLiteral(":%1").arg(display));
        // A client must get through before the tests start theirs: once, under load, the program
        // could not connect to the display Xvfb had just announced.
        ASSERT_TRUE(waitUntil([&] { return !xdotool({text("getdisplaygeometry")}).isEmpty(); }, 10s))
            << "Xvfb announced display :" << display << " but takes no client";
    }

    void startTray() {
        // trayer now and then gives up when it starts right after the server: try again.
        for (int attempt = 0; attempt < 3 && !trayReady(); ++attempt) {
            tray.reset();
            tray = std::make_unique<Helper>(text("trayer"),
                                            QStringList{text("--edge"), text("top"), text("--align"),
                                                        text("right"), text("--widthtype"), text("request"),
                                                        text("--height"), text("32")},
                                            env);
            waitUntil([&] { return trayReady() || !tray->running(); }, 10s);
        }
        ASSERT_TRUE(trayReady()) << "trayer did not start";
    }

    bool trayReady() { return tray && tray->running() && !windows(text("^panel$")).isEmpty(); }

    // The application, shown on the X server rather than offscreen.
    std::unique_ptr<Helper> startApplication(const QStringList& arguments) {
        QProcessEnvironment appEnv = env;
        appEnv.insert(text("QT_QPA_PLATFORM"), text("xcb"));
        return std::make_unique<Helper>(text(MELLO_PARLO_BINARY), arguments, appEnv);
    }

    // Runs xdotool and returns its standard output.
    QString xdotool(const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(text("xdotool"), arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QStringList windows(const QString& namePattern, bool onlyVisible = false) {
        QStringList arguments{text("search")};
        if (onlyVisible)
            arguments << text("--onlyvisible");
        arguments << text("--name") << namePattern;
        return xdotool(arguments).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    std::optional<Geometry> geometry(const QString& window) {
        const QString out = xdotool({text("getwindowgeometry"), text("--shell"), window});
        Geometry g;
        int found = 0;
        for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString key = line.section(QLatin1Char('='), 0, 0);
            const int value = line.section(QLatin1Char('='), 1).toInt();
            if (key == text("X"))
                g.x = value, ++found;
            else if (key == text("Y"))
                g.y = value, ++found;
            else if (key == text("WIDTH"))
                g.width = value, ++found;
            else if (key == text("HEIGHT"))
                g.height = value, ++found;
        }
        if (found != 4)
            return std::nullopt;
        return g;
    }

    // The application's windows named "Mello Parlo": the tray icon is the small one, the main window
    // the large one.
    std::optional<Geometry> applicationWindow(bool icon) {
        // By the name each window reports: a name search does not reach the icon embedded in the tray.
        for (const QString& window : windows(text(""), true)) {
            if (xdotool({text("getwindowname"), window}).trimmed() != text("Mello Parlo"))
                continue;
            const std::optional<Geometry> g = geometry(window);
            if (!g)
                continue;
            const bool small = g->width >= 12 && g->width <= 64 && g->height >= 12 && g->height <= 64;
            const bool large = g->width >= 600 && g->height >= 400;
            if (icon ? small : large)
                return g;
        }
        return std::nullopt;
    }

    // One pixel of the screen, from the framebuffer file Xvfb keeps (XWD format).
    QRgb pixel(int x, int y) {
        QFile file(home.filePath(text("fb/Xvfb_screen0")));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray header = file.read(100);
        if (header.size() < 100)
            return 0;
        auto field = [&](int index) { return qFromBigEndian<quint32>(header.constData() + 4 * index); };
        const qint64 data = field(0) + static_cast<qint64>(field(19)) * 12;
        const qint64 at = data + static_cast<qint64>(y) * field(12) + static_cast<qint64>(x) * 4;
        file.seek(at);
        const QByteArray bytes = file.read(4);
        if (bytes.size() < 4)
            return 0;
        const auto b = static_cast<quint8>(bytes[0]), g = static_cast<quint8>(bytes[1]),
                   r = static_cast<quint8>(bytes[2]);
        return field(7) == 0 ? qRgb(r, g, b)
                             : qRgb(static_cast<quint8>(bytes[1]), static_cast<quint8>(bytes[2]),
                                    static_cast<quint8>(bytes[3]));
    }

    // Clicks the tray icon and waits for the menu: a new visible window by the icon.
    bool openMenu(const Geometry& icon) {
        const QStringList before = windows(text(""), true);
        xdotool({text("mousemove"), QString::number(icon.x + icon.width / 2),
                 QString::number(icon.y + icon.height / 2), text("click"), text("1")});
        return waitUntil(
            [&] {
                for (const QString& window : windows(text(""), true)) {
                    if (before.contains(window))
                        continue;
                    const std::optional<Geometry> g = geometry(window);
                    if (g && g->width > 100 && g->height > 100)
                        return true;
                }
                return false;
            },
            10s);
    }

    QTemporaryDir home;
    int display = 0;
    QProcessEnvironment env;
    std::unique_ptr<Helper> server;
    std::unique_ptr<Helper> tray;
};

} // namespace

TEST_F(TrayHostTest, ThePreviewShowsItsIconOpensSettingsFromTheMenuAndQuitsThroughIt) {
    ASSERT_NO_FATAL_FAILURE(startTray());
    auto started = startApplication({text("--preview")});
    Helper& app = *started;
    ASSERT_TRUE(app.running());

    std::optional<Geometry> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = applicationWindow(true)).has_value(); }, 20s))
        << "no tray icon; application output: " << app.process().readAll().toStdString();
    std::optional<Geometry> window;
    ASSERT_TRUE(waitUntil([&] { return (window = applicationWindow(false)).has_value(); }, 20s));
    EXPECT_EQ(window->width, 1260);
    EXPECT_EQ(window->height, 870);

    // A point of the window far from the sheet: the sheet dims everything around it.
    const QPoint corner = window->rect().bottomLeft() + QPoint(6, -6);
    QRgb before = 0;
    ASSERT_TRUE(waitUntil([&] { return qGray(before = pixel(corner.x(), corner.y())) > 150; }, 10s))
        << "the window is not drawn";

    ASSERT_TRUE(openMenu(*icon)) << "the tray menu did not open";
    // Down from the top: "Открыть приложение", "Автостарт звонков", "Записать", "Настройки…" (the two
    // texts above are disabled and skipped).
    xdotool({text("key"), text("--delay"), text("80"), text("Down"), text("Down"), text("Down"), text("Down"),
             text("Return")});
    QRgb after = before;
    EXPECT_TRUE(waitUntil(
        [&] {
            after = pixel(corner.x(), corner.y());
            return qGray(after) < qGray(before) * 0.92;
        },
        10s))
        << "the settings sheet did not dim the window: " << qGray(before) << " then " << qGray(after);

    ASSERT_TRUE(openMenu(*icon)) << "the tray menu did not open again";
    // Ctrl+Q while the menu is open quits, like choosing "Завершить Mello Parlo".
    xdotool({text("key"), text("ctrl+q")});
    ASSERT_TRUE(app.process().waitForFinished(20000)) << "the application did not quit";
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0);
}

// Started at login: the icon in the tray and no window, until the menu asks for it. The window would
// open a few seconds after the start if no tray had turned up: wait past that.
TEST_F(TrayHostTest, StartedInTheBackgroundItShowsOnlyItsIconUntilTheMenuOpensTheWindow) {
    ASSERT_NO_FATAL_FAILURE(startTray());
    auto app = startApplication({text("--preview"), text("--background")});
    std::optional<Geometry> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = applicationWindow(true)).has_value(); }, 20s))
        << "no tray icon; application output: " << app->process().readAll().toStdString();
    EXPECT_FALSE(waitUntil([&] { return applicationWindow(false).has_value(); }, 8s))
        << "a window opened although the tray shows the icon";

    ASSERT_TRUE(openMenu(*icon)) << "the tray menu did not open";
    // The first entry, "Открыть приложение".
    xdotool({text("key"), text("--delay"), text("80"), text("Down"), text("Return")});
    EXPECT_TRUE(waitUntil([&] { return applicationWindow(false).has_value(); }, 10s))
        << "the menu did not open the window";
}

TEST_F(TrayHostTest, StartedInTheBackgroundWithoutATrayItOpensItsWindowAfterAll) {
    auto app = startApplication({text("--preview"), text("--background")});
    // Five seconds of grace for a tray, then the window; a sanitizer build on a busy machine starts
    // slowly, and the wait costs nothing when the window comes.
    EXPECT_TRUE(waitUntil([&] { return applicationWindow(false).has_value(); }, 45s))
        << "no window and no tray: the application cannot be reached; its output: "
        << app->process().readAll().toStdString();
}

TEST(SecondStartTest, ASecondStartOverTheSameLibraryEndsAndLeavesTheFirstRunning) {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(text("QT_QPA_PLATFORM"), text("offscreen"));
    env.insert(text("DBUS_SESSION_BUS_ADDRESS"), text("unix:path=/nonexistent/parlo-test-bus"));
    env.insert(text("XDG_CONFIG_HOME"), home.filePath(text("config")));
    env.insert(text("MELLO_PARLO_DATA_DIR"), home.filePath(text("data")));
    Helper first(text(MELLO_PARLO_BINARY), {}, env);
    ASSERT_TRUE(first.running());
    // The first answers later starts once its socket is there.
    const QString socket =
        QDir::tempPath() + QLatin1Char('/') + parlo::SingleInstance::socketName(home.filePath(text("data")));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(socket); }, 20s)) << "the first start does not listen";

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(text(MELLO_PARLO_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(15000)) << "the second start did not end";
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(first.running());

    first.process().terminate();
    ASSERT_TRUE(first.process().waitForFinished(15000));
    EXPECT_EQ(first.process().exitCode(), 0);
}
