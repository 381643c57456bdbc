// What the application costs while it only waits for a call: CPU and resident memory of the real
// program over 60 s, with automatic call recording on, an empty library and its window closed (it
// stays in the tray of a private X server), beside `pactl subscribe`, the minimal libpulse
// subscriber that any program watching the sound server costs at least. Both are measured from
// /proc over the same minute, after the program has settled.
//
//   scripts/test-sound-server build/<dir>/bench/idle_bench [seconds=60]
// Needs Xvfb, trayer and xdotool; PARLO_PROGRAM overrides the program (default: ../src/mello-parlo),
// IDLE_BENCH_LOG names a file for the standard error of the processes it starts.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A helper process, ended by its own pid when the object goes. Its standard output is kept for
// reading only when asked; its standard error goes to IDLE_BENCH_LOG when that names a file.
class Helper {
public:
    Helper(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
           bool readOutput = false) {
        process.setProcessEnvironment(env);
        if (!readOutput)
            process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(qEnvironmentVariable("IDLE_BENCH_LOG", text("/dev/null")),
                                     QIODevice::Append);
        process.start(program, arguments);
        process.waitForStarted(10000);
    }
    ~Helper() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool running() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }
    QProcess process;
};

// The cost of a process so far: CPU time of all its threads, context switches, resident memory.
struct Usage {
    double cpuSeconds = 0;
    long long switches = 0;
    double residentMB = 0;
};

long long statusField(const QByteArray& status, const char* name) {
    const qsizetype at = status.indexOf(name);
    if (at < 0)
        return 0;
    return status.mid(at + qstrlen(name)).trimmed().split(' ').first().toLongLong();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Usage usageOf(qint64 pid) {
    Usage usage;
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    // schedstat gives nanoseconds on the CPU per thread: finer than the clock ticks of stat.
    for (const QString& task : QDir(proc + text("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = proc + text("/task/") + task;
        usage.cpuSeconds += readFile(folder + text("/schedstat")).split(' ').first().toDouble() / 1e9;
        const QByteArray status = readFile(folder + text("/status"));
        usage.switches += statusField(status, "voluntary_ctxt_switches:") +
                          statusField(status, "nonvoluntary_ctxt_switches:");
    }
    usage.residentMB = static_cast<double>(statusField(readFile(proc + text("/status")), "VmRSS:")) / 1024.0;
    return usage;
}

QString xdotool(const QProcessEnvironment& env, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(text("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Asks a window to close, as a window manager's close button does (WM_DELETE_WINDOW).
bool closeWindow(const QString& display, std::uint32_t window) {
    xcb_connection_t* connection = xcb_connect(display.toUtf8().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(qstrlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    xcb_disconnect(connection);
    return true;
}

template <typename Predicate> bool waitUntil(Predicate done, int seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000)
            return false;
        QThread::msleep(100);
    }
    return true;
}

void report(const char* name, const Usage& before, const Usage& after, double seconds) {
    const double cpu = after.cpuSeconds - before.cpuSeconds;
    std::printf("%-34s CPU %6.3f %% of a core (%.3f s)  %6.1f wake-ups/s  RSS %6.1f MB\n", name,
                100.0 * cpu / seconds, cpu, static_cast<double>(after.switches - before.switches) / seconds,
                after.residentMB);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        std::fputs("idle_bench: run it under scripts/test-sound-server\n", stderr);
        return 1;
    }
    QString program = qEnvironmentVariable("PARLO_PROGRAM");
    if (program.isEmpty())
        program = QCoreApplication::applicationDirPath() + text("/../src/mello-parlo");

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No session bus (no secret store, the tray takes trayer's XEmbed road), a private library,
    // settings with automatic recording on, and a service nobody answers on loopback.
    env.insert(text("DBUS_SESSION_BUS_ADDRESS"), text("unix:path=/nonexistent/parlo-bench-bus"));
    env.insert(text("XDG_CONFIG_HOME"), home.filePath(text("config")));
    env.insert(text("MELLO_PARLO_DATA_DIR"), home.filePath(text("data")));
    env.insert(text("MELLO_PARLO_SERVICE_URL"), text("https://127.0.0.1:9"));
    env.insert(text("QT_QPA_PLATFORM"), text("xcb"));
    {
        QSettings settings(home.filePath(text("config/fernwick/parlo.conf")), QSettings::IniFormat);
        settings.setValue(text("automaticCallRecording"), true);
    }

    Helper xserver(text("Xvfb"),
                   {text("-displayfd"), text("1"), text("-screen"), text("0"), text("1280x960x24"),
                    text("-nolisten"), text("tcp")},
                   env, true);
    QByteArray announced;
    waitUntil(
        [&] {
            xserver.process.waitForReadyRead(100);
            announced += xserver.process.readAllStandardOutput();
            return announced.contains('\n');
        },
        20);
    const QString display = text(":") + QString::fromUtf8(announced.trimmed());
    env.insert(text("DISPLAY"), display);
    Helper tray(text("trayer"), {text("--edge"), text("top"), text("--height"), text("32")}, env);
    if (!waitUntil(
            [&] {
                return !xdotool(env, {text("search"), text("--name"), text("^panel$")}).isEmpty();
            },
            20)) {
        std::fputs("idle_bench: Xvfb or trayer did not start\n", stderr);
        return 1;
    }

    Helper application(program, {}, env);
    Helper floor(text("pactl"), {text("subscribe")}, env);
    // The program's visible windows named "Mello Parlo": the main window is the large one, the tray
    // icon the small one.
    const auto visibleWindow = [&](bool main) {
        const QString found =
            xdotool(env, {text("search"), text("--onlyvisible"), text("--pid"),
                          QString::number(application.pid()), text("--name"), text("^Mello Parlo$")});
        for (const QString& window : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString geometry = xdotool(env, {text("getwindowgeometry"), text("--shell"), window});
            const int width = geometry.section(text("WIDTH="), 1).section(QLatin1Char('\n'), 0, 0).toInt();
            if ((width >= 400) == main)
                return window;
        }
        return QString();
    };
    // Closing the window before the icon sits in the tray would end the program, as it should.
    QString window;
    waitUntil(
        [&] {
            window = visibleWindow(true);
            return (!window.isEmpty() && !visibleWindow(false).isEmpty()) || !application.running();
        },
        60);
    QThread::sleep(1);
    for (int attempt = 0; attempt < 3 && !window.isEmpty() && !visibleWindow(true).isEmpty(); ++attempt) {
        closeWindow(display, window.toUInt());
        waitUntil([&] { return visibleWindow(true).isEmpty(); }, 5);
    }
    if (window.isEmpty() || !visibleWindow(true).isEmpty() || !application.running()) {
        std::fputs("idle_bench: the application's window did not open and close, or the application ended\n",
                   stderr);
        return 1;
    }
    // Start-up work (fonts, the first picture of the sound server, the first ticks) is not idling.
    QThread::sleep(5);

    const Usage appBefore = usageOf(application.pid());
    const Usage floorBefore = usageOf(floor.pid());
    QThread::sleep(static_cast<unsigned long>(seconds));
    const Usage appAfter = usageOf(application.pid());
    const Usage floorAfter = usageOf(floor.pid());
    if (!application.running() || !floor.running()) {
        std::fputs("idle_bench: a measured process ended early\n", stderr);
        return 1;
    }
    std::printf("idle for %d s, automatic recording on, window closed, empty library\n", seconds);
    report("mello-parlo", appBefore, appAfter, seconds);
    report("pactl subscribe (the floor)", floorBefore, floorAfter, seconds);
    std::printf("goals: at most 0.1 %% of a core and 50 MB\n");
    return 0;
}
