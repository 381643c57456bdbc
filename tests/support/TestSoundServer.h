#pragma once

// What the capture tests share: a private sound-server daemon per test, a player that plays tones
// into its sinks as another application would, and small signal measurements.

#include "capture/CapturePermissions.h"
#include "codec/AacFileWriter.h"
#include "platform/PlatformParts.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <memory>
#include <numbers>
#include <optional>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace parlo::test {

// A child process started with posix_spawn and ended by its pid. Not QProcess: its fork runs Qt
// code in the child, which upsets the thread sanitizer's bookkeeping in the parent (the recorder
// runs under it in these tests).
class Child {
public:
    // `environment` entries ("NAME=value") are added to ours, replacing ours of the same name. With
    // `capture`, stdout goes into a pipe read by readAll()/readableWithin(); otherwise to `logFile`, like
    // stderr.
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
          bool capture = false, const std::string& logFile = "/dev/null") {
        // Replaced, not added: with two entries of one name the program would read the first.
        const auto overridden = [&environment](const std::string& entry) {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            return std::any_of(environment.begin(), environment.end(),
                               [&name](const std::string& e) { return e.starts_with(name); });
        };
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (!overridden(*e))
                env.emplace_back(*e);
        }
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> argv;
        for (const auto& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipeFds[2] = {-1, -1};
        if (capture && ::pipe2(pipeFds, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
            readFd_ = pipeFds[0];
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                             0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pipeFds[1] >= 0)
            ::close(pipeFds[1]);
    }
    ~Child() {
        stop(SIGTERM);
        if (readFd_ >= 0)
            ::close(readFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    int readFd() const { return readFd_; }

    // Sends `signal` (if still running) and reaps the child; returns its exit status or -1.
    int stop(int signal) {
        if (pid_ <= 0)
            return status_;
        ::kill(pid_, signal);
        ::kill(pid_, SIGCONT); // a stopped process acts on nothing else
        return wait();
    }

    int wait() {
        if (pid_ <= 0)
            return status_;
        int status = 0;
        if (::waitpid(pid_, &status, 0) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return status_;
    }

    // Everything the child writes to its stdout until it ends (capture mode).
    std::string readAll() {
        std::string out;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(readFd_, buffer, sizeof buffer);
            if (n > 0)
                out.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                break;
        }
        return out;
    }

    // Whether stdout delivers something within `milliseconds` (capture mode).
    bool readableWithin(int milliseconds) {
        pollfd fd{readFd_, POLLIN, 0};
        return ::poll(&fd, 1, milliseconds) > 0 && (fd.revents & POLLIN);
    }

private:
    pid_t pid_ = -1;
    int readFd_ = -1;
    int status_ = -1;
};

// A sound server of this test alone, started by scripts/test-sound-server --serve (PulseAudio, or
// PipeWire with PARLO_SOUND_SERVER=pipewire) with its devices and private runtime folder;
// PULSE_SERVER points at it while it lives. `extraModules` are load-module arguments for devices a
// scenario needs besides the usual ones. Stopped through the script, which ends every process it
// started by its pid.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QByteArray& micMaster = "micfeed.monitor",
                                const QStringList& extraModules = {}) {
        // The extra devices come with the others, so that they are as old as those when a test
        // starts (a monitor of a new PulseAudio null sink starts recording late).
        std::vector<std::string> arguments{PARLO_TEST_SOUND_SERVER,
                                           "--mic-master=" + micMaster.toStdString()};
        for (const QString& module : extraModules)
            arguments.push_back("--module=" + module.toStdString());
        arguments.push_back("--serve");
        script_ = std::make_unique<Child>(arguments, std::vector<std::string>{}, true,
                                          QString(dir_.path() + text("/server.log")).toStdString());
        if (qEnvironmentVariableIsSet("PULSE_SERVER"))
            previous_ = qgetenv("PULSE_SERVER");
        if (!script_->started())
            return;
        // The script prints the server's address and the pid clients talk to, then "ready".
        std::string line;
        while (!ready_ && readLine(line)) {
            if (line.starts_with("PARLO_SOUND_SERVER="))
                pipeWire_ = line == "PARLO_SOUND_SERVER=pipewire";
            else if (line.starts_with("PULSE_SERVER="))
                server_ = QByteArray::fromStdString(line.substr(13));
            else if (line.starts_with("PARLO_TEST_PULSE_DAEMON_PID="))
                daemonPid_ = std::stoi(line.substr(28));
            else if (line == "ready")
                ready_ = !server_.isEmpty() && daemonPid_ > 0;
        }
        if (!ready_)
            return;
        qputenv("PULSE_SERVER", server_);
        // Right after the daemon starts, a monitor recording starts up to two seconds late on
        // PulseAudio, until the keep-alive loopbacks run: wait for that, so the tests measure the
        // recorder.
        if (ready_)
            ready_ = warmUp("speakers.monitor") && warmUp("mic");
        if (!ready_) {
            QFile log(dir_.path() + text("/server.log"));
            if (log.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "test sound server:\n%s\n", log.readAll().constData());
        }
        // A fresh backend: the previous one may remember an answer of another daemon.
        CapturePermissions::setBackend(platform::soundServerPermissions());
    }

    ~PrivateSoundServer() {
        stop();
        if (previous_)
            qputenv("PULSE_SERVER", *previous_);
        else
            qunsetenv("PULSE_SERVER");
        // No backend rather than one connected to whatever server is left.
        CapturePermissions::setBackend(nullptr);
    }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool ready() const { return ready_; }
    bool onPipeWire() const { return pipeWire_; }
    QByteArray server() const { return server_; }
    pid_t daemonPid() const { return daemonPid_; }

    // Ends the server for good (PULSE_SERVER still points at where it was); the script wakes a
    // frozen daemon before it stops it.
    void stop() { script_->stop(SIGTERM); }

    // Ends the process clients talk to the hard way, as a crash would.
    void kill() {
        if (daemonPid_ > 0)
            ::kill(daemonPid_, SIGKILL);
    }
    // Stops the process clients talk to where it is: its socket still accepts connections, but
    // nothing is answered.
    void freeze() { ::kill(daemonPid_, SIGSTOP); }
    void thaw() { ::kill(daemonPid_, SIGCONT); }

    // PulseAudio only: ends the daemon and starts another on the configuration the script wrote in
    // its runtime folder, so it listens at the same address, as a restarted server comes back. The
    // new daemon is this fixture's child and ends with it.
    bool restart() {
        const std::string socket = server_.toStdString();
        const std::string suffix = "/runtime/native";
        if (pipeWire_ || !socket.starts_with("unix:") || !socket.ends_with(suffix))
            return false;
        const std::string runtime = socket.substr(5, socket.size() - 5 - suffix.size());
        kill();
        restarted_ = std::make_unique<Child>(
            std::vector<std::string>{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "-F",
                                     runtime + "/daemon.pa", "--use-pid-file=no", "--disallow-exit"},
            std::vector<std::string>{"HOME=" + runtime + "/home", "XDG_RUNTIME_DIR=" + runtime + "/runtime"},
            false, QString(dir_.path() + text("/restarted.log")).toStdString());
        daemonPid_ = restarted_->pid();
        for (int i = 0; i < 200 && restarted_->started(); ++i) {
            if (pactl({text("info")}).has_value())
                return true;
            QThread::msleep(25);
        }
        return false;
    }

    bool warmUp(const char* source) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            Child parec({"parec", std::string("--device=") + source, "--raw", "--latency-msec=10"}, {}, true);
            const bool prompt = parec.readableWithin(150);
            parec.stop(SIGKILL);
            if (prompt)
                return true;
        }
        return false;
    }

    std::optional<QString> pactl(const QStringList& arguments) const {
        std::vector<std::string> argv{"pactl"};
        for (const auto& a : arguments)
            argv.push_back(a.toStdString());
        Child process(argv, {"LC_ALL=C"}, true); // the listings are parsed
        const std::string out = process.readAll();
        if (process.wait() != 0)
            return std::nullopt;
        return QString::fromStdString(out);
    }

private:
    // One line of the script's output; false at its end or after 30 s of silence.
    bool readLine(std::string& line) {
        line.clear();
        char c = 0;
        while (script_->readableWithin(30000) && ::read(script_->readFd(), &c, 1) == 1) {
            if (c == '\n')
                return true;
            line.push_back(c);
        }
        return false;
    }

    QTemporaryDir dir_;
    std::unique_ptr<Child> script_;
    std::unique_ptr<Child> restarted_; // the daemon restart() started
    std::optional<QByteArray> previous_;
    QByteArray server_;
    pid_t daemonPid_ = -1;
    bool pipeWire_ = false;
    bool ready_ = false;
};

inline constexpr int playbackRate = 48000;

// Seeded white noise, uniform in ±amplitude: every stretch of it is found in one place only.
inline std::vector<float> whiteNoise(double seconds, unsigned seed, float amplitude,
                                     int rate = playbackRate) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-amplitude, amplitude);
    std::vector<float> v(static_cast<std::size_t>(seconds * rate));
    for (auto& x : v)
        x = value(random);
    return v;
}

inline std::vector<float> tone(double hz, double seconds, float amplitude, int rate = playbackRate) {
    std::vector<float> v(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = amplitude *
               static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

// Plays mono float samples into a sink with pacat, as another application would. Each player is an
// application of its own name: the server remembers a mute per application name (WirePlumber's
// stream restore on PipeWire) and would start a namesake muted. The server holds `latencyMs` of
// the sound, which keeps it playing through a busy machine: with 20 ms, a player that missed its
// turn for longer left holes in its own tone, which the recording then faithfully kept.
class Player {
public:
    Player(const QString& folder, const char* sink, const std::vector<float>& samples,
           const QStringList& properties = {}, int latencyMs = 250) {
        const QString file = folder + text("/play-") + text(sink) + QString::number(++counter) + text(".raw");
        std::ofstream out(file.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * 4));
        out.close();
        std::vector<std::string> arguments{"pacat",
                                           "--playback",
                                           std::string("--device=") + sink,
                                           "--format=float32le",
                                           "--rate=48000",
                                           "--channels=1",
                                           "--raw",
                                           "--latency-msec=" + std::to_string(latencyMs),
                                           "--client-name=test player " + std::to_string(counter)};
        for (const auto& property : properties)
            arguments.push_back("--property=" + property.toStdString());
        arguments.push_back(file.toStdString());
        process_ = std::make_unique<Child>(arguments);
    }

private:
    static inline int counter = 0;
    std::unique_ptr<Child> process_; // ended by its pid when the player goes
};

// Busy loops in `count` processes of their own, competing for the processors while it lives.
class CpuLoad {
public:
    explicit CpuLoad(int count) {
        for (int i = 0; i < count; ++i)
            loops_.push_back(
                std::make_unique<Child>(std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
    }

private:
    std::vector<std::unique_ptr<Child>> loops_; // each ended by its pid
};

// The amplitude of the `hz` component of `samples` (a sine of amplitude a gives about a).
inline double amplitudeAt(const std::vector<float>& samples, std::size_t from, std::size_t to, double hz,
                          int rate) {
    double re = 0;
    double im = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double phase = 2 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        re += samples[i] * std::cos(phase);
        im += samples[i] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(to - from);
}

// The mean amplitude of a `hz` tone over [from, to) seconds of `audio`, a quarter second at a time:
// the capture follows the sound server's clock drift, so over seconds a tone comes back a fraction of
// a hertz off, and one long transform would cancel it out.
inline double toneLevel(const DecodedAudio& audio, double hz, double from, double to) {
    const auto frame = [&](double seconds) {
        return std::min(static_cast<std::size_t>(std::max(seconds, 0.0) * audio.sampleRate),
                        audio.samples.size());
    };
    // Windows past the end of the audio count as silence, not as an empty (undefined) transform.
    double sum = 0;
    int windows = 0;
    for (double t = from; t + 0.25 <= to + 1e-9; t += 0.25, ++windows)
        if (frame(t) < frame(t + 0.25))
            sum += amplitudeAt(audio.samples, frame(t), frame(t + 0.25), hz, audio.sampleRate);
    return windows > 0 ? sum / windows : 0.0;
}

inline double secondsOf(const DecodedAudio& audio) {
    return static_cast<double>(audio.samples.size()) / audio.sampleRate;
}

// Where a `hz` tone is first heard in `audio`, in seconds to a tenth: a player starts late on a busy
// machine, and PipeWire starts streams corked.
inline double toneOnset(const DecodedAudio& audio, double hz) {
    const auto tenth = static_cast<std::size_t>(audio.sampleRate / 10);
    std::size_t onset = 0;
    while (onset + tenth < audio.samples.size() &&
           amplitudeAt(audio.samples, onset, onset + tenth, hz, audio.sampleRate) < 0.1)
        onset += tenth;
    return static_cast<double>(onset) / audio.sampleRate;
}

// The levels of `tones` in every half second of `audio`, one line each, for a failure's message:
// it tells a tone that stopped from one that came back weak or at another pitch.
inline std::string toneLevelsOverTime(const DecodedAudio& audio, std::initializer_list<double> tones) {
    std::ostringstream lines;
    lines << std::fixed << std::setprecision(2);
    for (double t = 0; t + 0.5 <= secondsOf(audio); t += 0.5) {
        lines << t << " s:";
        for (double hz : tones)
            lines << "  " << hz << " Hz " << toneLevel(audio, hz, t, t + 0.5);
        lines << '\n';
    }
    return lines.str();
}

} // namespace parlo::test
