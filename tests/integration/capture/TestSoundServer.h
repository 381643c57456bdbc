#pragma once

// What the capture tests share: a private sound-server daemon per test, a player that plays tones
// into its sinks as another application would, and small signal measurements.

#include "capture/CapturePermissions.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <unistd.h>
#include <vector>

namespace parlo::test {

inline QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A PulseAudio daemon of this test alone, laid out like scripts/test-sound-server, in a private
// runtime folder; PULSE_SERVER points at it while it lives. Stopped by its own pid.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QByteArray& micMaster = "micfeed.monitor",
                                const QByteArray& extra = {}) {
        const QString runtime = dir_.path() + text("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(dir_.path() + text("/home"));
        const QString socket = runtime + text("/native");
        QFile config(dir_.path() + text("/daemon.pa"));
        config.open(QIODevice::WriteOnly);
        config.write("load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket.toUtf8() +
                     "\n" +
                     "load-module module-null-sink sink_name=speakers rate=48000 channels=2\n"
                     "load-module module-null-sink sink_name=micfeed rate=48000 channels=2\n"
                     "load-module module-remap-source master=" +
                     micMaster +
                     " source_name=mic\n"
                     "load-module module-null-source source_name=keepalive rate=48000 channels=2\n"
                     "load-module module-loopback source=keepalive sink=speakers latency_msec=10 "
                     "source_dont_move=true sink_dont_move=true\n"
                     "load-module module-loopback source=keepalive sink=micfeed latency_msec=10 "
                     "source_dont_move=true sink_dont_move=true\n" +
                     extra +
                     "set-default-sink speakers\n"
                     "set-default-source mic\n");
        config.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(text("HOME"), dir_.path() + text("/home"));
        env.insert(text("XDG_RUNTIME_DIR"), runtime);
        daemon_.setProcessEnvironment(env);
        daemon_.setStandardOutputFile(QProcess::nullDevice());
        daemon_.setStandardErrorFile(dir_.path() + text("/daemon.log"));
        daemon_.start(text("pulseaudio"),
                      {text("--daemonize=no"), text("--exit-idle-time=-1"), text("-n"), text("-F"),
                       config.fileName(), text("--use-pid-file=no"), text("--disallow-exit")});
        previous_ = qgetenv("PULSE_SERVER");
        server_ = "unix:" + socket.toUtf8();
        qputenv("PULSE_SERVER", server_);
        if (!daemon_.waitForStarted(5000))
            return;
        for (int i = 0; i < 200 && !ready_; ++i) {
            ready_ = pactl({text("info")}).has_value();
            if (!ready_)
                QThread::msleep(25);
        }
        // Right after the daemon starts, a monitor recording starts up to two seconds late, until
        // the keep-alive loopbacks run: wait for that, so the tests measure the recorder.
        if (ready_)
            ready_ = warmUp("speakers.monitor") && warmUp("mic");
        // A fresh backend: the previous one may remember an answer of another daemon.
        CapturePermissions::setBackend(nullptr);
    }

    ~PrivateSoundServer() {
        kill();
        qputenv("PULSE_SERVER", previous_);
        CapturePermissions::setBackend(nullptr);
    }

    bool ready() const { return ready_; }
    QByteArray server() const { return server_; }

    // Ends the daemon the hard way, as a crash would.
    void kill() {
        const qint64 pid = daemon_.processId();
        if (pid > 0 && daemon_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            daemon_.waitForFinished(5000);
        }
    }

    bool warmUp(const char* source) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            QProcess parec;
            parec.start(text("parec"),
                        {text("--device=") + text(source), text("--raw"), text("--latency-msec=10")});
            parec.waitForStarted(5000);
            const bool prompt = parec.waitForReadyRead(150);
            parec.kill();
            parec.waitForFinished(3000);
            if (prompt)
                return true;
        }
        return false;
    }

    std::optional<QString> pactl(const QStringList& arguments) const {
        QProcess process;
        process.start(text("pactl"), arguments);
        if (!process.waitForFinished(5000) || process.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QByteArray previous_;
    QByteArray server_;
    bool ready_ = false;
};

inline constexpr int playbackRate = 48000;

inline std::vector<float> tone(double hz, double seconds, float amplitude, int rate = playbackRate) {
    std::vector<float> v(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = amplitude *
               static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

// Plays mono float samples into a sink with pacat, as another application would.
class Player {
public:
    Player(const QString& folder, const char* sink, const std::vector<float>& samples,
           const QStringList& properties = {}) {
        const QString file = folder + text("/play-") + text(sink) + QString::number(counter++) + text(".raw");
        std::ofstream out(file.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * 4));
        out.close();
        QStringList arguments{text("--playback"),         text("--device=") + text(sink),
                              text("--format=float32le"), text("--rate=48000"),
                              text("--channels=1"),       text("--raw"),
                              text("--latency-msec=20"),  text("--client-name=test player")};
        for (const auto& property : properties)
            arguments << text("--property=") + property;
        arguments << file;
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(text("pacat"), arguments);
        process_.waitForStarted(5000);
    }
    ~Player() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(3000);
        }
    }

private:
    static inline int counter = 0;
    QProcess process_;
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

inline std::vector<float> readRaw(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

} // namespace parlo::test
