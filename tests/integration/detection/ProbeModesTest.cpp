// The built program's "--probe-calls" and "--probe-zoom" against a real sound-server daemon, with
// test clients (parec, paplay, parlo_stream_client) taking whatever identity a scenario needs.
#include "capture/CapturePermissions.h"
#include "support/SnapshotDecode.h"
#include "support/TestSoundServer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using parlo::test::PrivateSoundServer;
using parlo::test::text;

namespace {

// The streams of clients (the devices' own streams, the remapped microphone's recording and the
// keep-alive loopbacks, have none) and how many of them are paused.
struct ClientStreams {
    int streams = 0;
    int corked = 0;
};

ClientStreams clientStreams(const PrivateSoundServer& server, const QString& kind) {
    ClientStreams found;
    const auto listing = server.pactl({text("list"), kind});
    if (!listing)
        return {-1, -1};
    // One block per stream, separated by empty lines.
    for (const QString& block : listing->split(text("\n\n"))) {
        if (!block.contains(text("\n\tClient: ")) || block.contains(text("\n\tClient: n/a\n")))
            continue;
        ++found.streams;
        if (block.contains(text("\n\tCorked: yes\n")))
            ++found.corked;
    }
    return found;
}

// Waits until the server holds this many client playbacks and recordings, `corked` of them paused.
// On PipeWire a stream may show up paused for a moment before it starts.
bool awaitStreams(const PrivateSoundServer& server, int playbacks, int recordings, int corked = 0) {
    for (int i = 0; i < 200; ++i) {
        const ClientStreams out = clientStreams(server, text("sink-inputs"));
        const ClientStreams in = clientStreams(server, text("source-outputs"));
        if (out.streams == playbacks && in.streams == recordings && out.corked + in.corked == corked)
            return true;
        QThread::msleep(25);
    }
    return false;
}

// A child process of the test, ended by its pid when the object goes.
class TestClient {
public:
    virtual ~TestClient() = default;
    virtual qint64 pid() const = 0;
};

class ClientProcess final : public TestClient {
public:
    ClientProcess(const QString& program, const QStringList& arguments, bool awaitReady = false) {
        if (!awaitReady)
            process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(program, arguments);
        started_ = process_.waitForStarted(5000);
        if (started_ && awaitReady) {
            while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
            }
            started_ = process_.readLine().trimmed() == "ready";
        }
    }
    ~ClientProcess() override {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
            process_.waitForFinished(5000);
        }
    }
    bool started() const { return started_; }
    qint64 pid() const override { return process_.processId(); }

private:
    QProcess process_;
    bool started_ = false;
};

// A copy of this test program standing in for a helper process of an application.
class ForkedHelper final : public TestClient {
public:
    ForkedHelper() : pid_(::fork()) {
        if (pid_ == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~ForkedHelper() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    qint64 pid() const override { return pid_; }

private:
    pid_t pid_;
};

struct ProbeRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    std::chrono::milliseconds elapsed{};
};

ProbeRun probe(const QStringList& arguments) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(text(PARLO_PROGRAM), arguments);
    ProbeRun run;
    if (!process.waitForFinished(20000)) {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        return run;
    }
    run.elapsed = std::chrono::milliseconds(timer.elapsed());
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// One snapshot line, checked for a clean run of the mode.
std::string probeLine(const char* mode) {
    const ProbeRun run = probe({text(mode)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err.toStdString(), "");
    return run.out.toStdString();
}

constexpr const char* idleLine = "{\"active\":false,\"applications\":[],\"probeAvailable\":true}\n";
constexpr const char* noZoomLine = "{\"running\":false,\"inputActive\":false,\"outputActive\":false,"
                                   "\"processCount\":0,\"probeAvailable\":true}\n";

class ProbeModes : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<PrivateSoundServer>();
        ASSERT_TRUE(server_->ready()) << "the private sound server did not start";
        // The test process stands in for a browser in one scenario: it keeps no connection of its own
        // (the fixture's permission backend would be one, named after this program).
        parlo::CapturePermissions::setBackend(nullptr);
    }

    // Starts a test client; parec's recording goes nowhere, paplay plays silence for ever.
    TestClient& record(const QStringList& options) { return start(text("parec"), options); }
    TestClient& play(const QStringList& options) {
        return start(text("paplay"), QStringList{text("--raw")} + options + QStringList{text("/dev/zero")});
    }
    TestClient& streamClient(const QStringList& arguments) {
        auto client = std::make_unique<ClientProcess>(text(PARLO_STREAM_CLIENT), arguments, true);
        EXPECT_TRUE(client->started()) << "parlo_stream_client " << arguments.join(u' ').toStdString();
        children_.push_back(std::move(client));
        return *children_.back();
    }

    std::unique_ptr<PrivateSoundServer> server_;
    std::vector<std::unique_ptr<TestClient>> children_;

private:
    TestClient& start(const QString& program, const QStringList& arguments) {
        auto client = std::make_unique<ClientProcess>(program, arguments);
        EXPECT_TRUE(client->started()) << program.toStdString();
        children_.push_back(std::move(client));
        return *children_.back();
    }
};

} // namespace

TEST_F(ProbeModes, AServerWithoutClientsIsIdle) {
    EXPECT_EQ(probeLine("--probe-calls"), idleLine);
    EXPECT_EQ(probeLine("--probe-zoom"), noZoomLine);
}

TEST_F(ProbeModes, ARecordingClientOfAnyIdentityIsACall) {
    record({text("--client-name=Test Caller"), text("--property=application.id=org.example.Caller")});
    ASSERT_TRUE(awaitStreams(*server_, 0, 1));
    EXPECT_EQ(probeLine("--probe-calls"),
              "{\"active\":true,\"applications\":[\"Test Caller\"],\"probeAvailable\":true}\n");
    EXPECT_EQ(probeLine("--probe-zoom"), noZoomLine);
}

TEST_F(ProbeModes, PlaybackAloneIsNoCallUnlessItIsZoom) {
    play({text("--client-name=Music Player"), text("--property=application.id=org.example.Player")});
    ASSERT_TRUE(awaitStreams(*server_, 1, 0));
    EXPECT_EQ(probeLine("--probe-calls"), idleLine);

    // The Flatpak's identity; the binary names are checked with the mapping's unit tests.
    play({text("--client-name=Zoom"), text("--property=application.id=us.zoom.Zoom")});
    ASSERT_TRUE(awaitStreams(*server_, 2, 0));
    EXPECT_EQ(probeLine("--probe-calls"),
              "{\"active\":true,\"applications\":[\"Zoom\"],\"probeAvailable\":true}\n");
    const std::string zoom = "{\"running\":true,\"inputActive\":false,\"outputActive\":true,\"processCount\":"
                             "1,\"probeAvailable\":true}\n";
    EXPECT_EQ(probeLine("--probe-zoom"), zoom);

    // Both modes asked for: only the Zoom snapshot.
    const ProbeRun both = probe({text("--probe-calls"), text("--probe-zoom")});
    EXPECT_EQ(both.exitCode, 0);
    EXPECT_EQ(both.out.toStdString(), zoom);
}

TEST_F(ProbeModes, PausedMonitorAndLevelMeterStreamsAreNoCall) {
    // A volume control's meter on the microphone, under a neutral name: its peak detection gives it away.
    streamClient({text("peak"), text("Level Meter"), text("org.example.Meter"), text("mic")});
    streamClient({text("corked-record"), text("Paused Recorder"), text("org.example.Paused")});
    streamClient({text("corked-playback"), text("Zoom"), text("us.zoom.Zoom")});
    record({text("--client-name=Screen Recorder"), text("--property=application.id=org.example.Screen"),
            text("--device=speakers.monitor")});
    ASSERT_TRUE(awaitStreams(*server_, 1, 3, 2));
    EXPECT_EQ(probeLine("--probe-calls"), idleLine);
    // Paused Zoom still has an audio process, neither capturing nor playing.
    EXPECT_EQ(probeLine("--probe-zoom"),
              "{\"running\":true,\"inputActive\":false,\"outputActive\":false,\"processCount\":1,"
              "\"probeAvailable\":true}\n");
}

TEST_F(ProbeModes, OurOwnRecordingIsNoCall) {
    record({text("--client-name=Mello Parlo"), text("--property=application.id=com.fernwick.parlo")});
    record({text("--client-name=Mello Parlo Capture"),
            text("--property=application.id=com.fernwick.parlo.capture")});
    record({text("--client-name=Look-alike"), text("--property=application.id=com.fernwick.parlox")});
    ASSERT_TRUE(awaitStreams(*server_, 0, 3));
    EXPECT_EQ(probeLine("--probe-calls"),
              "{\"active\":true,\"applications\":[\"Look-alike\"],\"probeAvailable\":true}\n");
}

TEST_F(ProbeModes, HelpersOfOneApplicationAreListedOnceByCodePoint) {
    // Two copies of this program stand in for a browser's audio helpers; the test process is the
    // browser. The helpers' connections carry their pids, as a real browser's do.
    children_.push_back(std::make_unique<ForkedHelper>());
    const qint64 inputHelper = children_.back()->pid();
    children_.push_back(std::make_unique<ForkedHelper>());
    const qint64 outputHelper = children_.back()->pid();
    ASSERT_GT(inputHelper, 0);
    ASSERT_GT(outputHelper, 0);
    const QString binary = text("--property=application.process.binary=chromium");
    record({text("--client-name=Chromium input"), binary,
            text("--property=application.process.id=") + QString::number(inputHelper)});
    // On PulseAudio pipewire.sec.pid is a property like any other, which any client may set: a
    // claim pointing elsewhere (at init) is not taken over the pid the client reports.
    play({text("--client-name=Chromium"), binary,
          text("--property=application.process.id=") + QString::number(outputHelper),
          text("--property=pipewire.sec.pid=1")});
    record({text("--client-name=alpha recorder"), text("--property=application.id=org.example.Alpha")});
    record({text("--client-name=Zed Talk"), text("--property=application.id=org.example.Zed")});
    record({text("--client-name=Zed Talk"), text("--property=application.id=org.example.Zed")});
    ASSERT_TRUE(awaitStreams(*server_, 1, 4));
    EXPECT_EQ(probeLine("--probe-calls"),
              "{\"active\":true,\"applications\":[\"Chromium\",\"Zed Talk\",\"alpha recorder\"],"
              "\"probeAvailable\":true}\n");
}

TEST_F(ProbeModes, OnPipeWireTheServersPidInEveryClientDoesNotHideTheApplication) {
    if (!server_->onPipeWire())
        GTEST_SKIP() << "pipewire-pulse records its own pid in the clients it relays: PipeWire only";
    record({text("--client-name=Test Caller"), text("--property=application.id=org.example.Caller")});
    play({text("--client-name=Music Player"), text("--property=application.id=org.example.Player")});
    ASSERT_TRUE(awaitStreams(*server_, 1, 1));
    // What the probe has to see past: every relayed client's pipewire.sec.pid is the server's pid.
    const auto clients = server_->pactl({text("list"), text("clients")});
    ASSERT_TRUE(clients.has_value());
    int relayed = 0;
    const QString serverPid =
        text("pipewire.sec.pid = \"") + QString::number(server_->daemonPid()) + text("\"");
    for (const QString& block : clients->split(text("\n\n"))) {
        if (!block.contains(text("client.api = \"pipewire-pulse\"")))
            continue;
        ++relayed;
        EXPECT_TRUE(block.contains(serverPid)) << block.toStdString();
    }
    EXPECT_GE(relayed, 2);
    EXPECT_EQ(probeLine("--probe-calls"),
              "{\"active\":true,\"applications\":[\"Test Caller\"],\"probeAvailable\":true}\n");
}

TEST_F(ProbeModes, AStoppedServerIsUnavailableAtOnce) {
    record({text("--client-name=Test Caller"), text("--property=application.id=org.example.Caller")});
    ASSERT_TRUE(awaitStreams(*server_, 0, 1));
    server_->stop();

    const ProbeRun calls = probe({text("--probe-calls")});
    EXPECT_EQ(calls.exitCode, 0);
    EXPECT_EQ(calls.out.toStdString(), "{\"active\":false,\"applications\":[],\"probeAvailable\":false}\n");
    // Program start included, slow under sanitizers; the probe itself gives up after 0.3 s.
    EXPECT_LT(calls.elapsed, 3s);
    const ProbeRun zoom = probe({text("--probe-zoom")});
    EXPECT_EQ(zoom.out.toStdString(),
              "{\"running\":false,\"inputActive\":false,\"outputActive\":false,\"processCount\":0,"
              "\"probeAvailable\":false}\n");
}

TEST_F(ProbeModes, AServerThatDoesNotAnswerIsUnavailableWithinTheTimeOut) {
    record({text("--client-name=Test Caller"), text("--property=application.id=org.example.Caller")});
    ASSERT_TRUE(awaitStreams(*server_, 0, 1));
    server_->freeze();

    const ProbeRun run = probe({text("--probe-calls")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.elapsed, 3s);
    const auto snapshot = parlo::decodeCallActivitySnapshot(run.out.toStdString());
    EXPECT_FALSE(snapshot.probeAvailable);
    EXPECT_FALSE(snapshot.active);
    EXPECT_TRUE(snapshot.applications.empty());
}

TEST_F(ProbeModes, ZoomRunningWithoutAudioIsSeenEvenWithoutServer) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString zoom = dir.path() + text("/zoom");
    ASSERT_TRUE(QFile::copy(text("/bin/sleep"), zoom));
    ClientProcess running(zoom, {text("30")});
    ASSERT_TRUE(running.started());

    EXPECT_EQ(probeLine("--probe-zoom"),
              "{\"running\":true,\"inputActive\":false,\"outputActive\":false,\"processCount\":0,"
              "\"probeAvailable\":true}\n");
    server_->stop();
    EXPECT_EQ(probeLine("--probe-zoom"),
              "{\"running\":true,\"inputActive\":false,\"outputActive\":false,\"processCount\":0,"
              "\"probeAvailable\":false}\n");
}
