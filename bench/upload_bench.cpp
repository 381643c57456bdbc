// Peak memory and throughput of uploading the largest accepted recording (90 MiB) over loopback
// HTTPS. The service is parlo-devservice in its own process, so the numbers are the client's alone:
// the body is assembled on disk with a 1 MiB buffer and streamed from the file, so the peak should
// stay far below the body's size.
//
//   build/<dir>/bench/upload_bench [iterations]   (PARLO_DEVSERVICE overrides the service binary)

#include "core/ParloError.h"
#include "core/Uuid.h"
#include "server/MultipartBody.h"
#include "server/ServerClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Starts counting the peak resident size afresh from the current size.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

template <typename T> T await(QCoro::Task<T> task) {
    QEventLoop loop;
    std::optional<T> value;
    std::exception_ptr error;
    auto run = [&]() -> QCoro::Task<> {
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        loop.quit();
    };
    auto running = run();
    if (!value && !error)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

void await(QCoro::Task<> task) {
    auto wrapped = [](QCoro::Task<> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    };
    await(wrapped(std::move(task)));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir folder;
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(folder.filePath(QStringLiteral("data"))));

    QString binary = qEnvironmentVariable("PARLO_DEVSERVICE");
    if (binary.isEmpty())
        binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../devservice/parlo-devservice");
    QProcess service;
    service.start(binary, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--cert-dir"),
                           folder.filePath(QStringLiteral("tls")), QStringLiteral("--stage-ms"),
                           QStringLiteral("0")});
    if (!service.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(binary));
        return 1;
    }
    QByteArray banner;
    while (!banner.contains("Listening on ") && service.waitForReadyRead(30000))
        banner += service.readAllStandardOutput();
    const auto lineAfter = [&banner](const QByteArray& label) {
        const qsizetype at = banner.indexOf(label);
        return at < 0 ? QString()
                      : QString::fromUtf8(banner.mid(at + label.size()))
                            .section(QLatin1Char('\n'), 0, 0)
                            .trimmed();
    };

    // The largest accepted recording, with content that does not compress.
    const QString audio = folder.filePath(QStringLiteral("largest.m4a"));
    {
        QFile file(audio);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        quint32 state = 12345;
        for (qint64 written = 0; written < parlo::kMaximumUploadSize; written += chunk.size()) {
            for (char& byte : chunk) {
                state = state * 1664525u + 1013904223u;
                byte = static_cast<char>(state >> 24);
            }
            file.write(chunk.constData(),
                       std::min<qint64>(chunk.size(), parlo::kMaximumUploadSize - written));
        }
    }

    parlo::ServerClientOptions options;
    options.base = QUrl(lineAfter("Listening on "));
    options.caCertificates = QSslCertificate::fromPath(lineAfter("CA file: "));
    int status = 0;
    try {
        parlo::ServerClient client(false, options);
        await(client.login(QStringLiteral("parlo-dev-key")));
        const double mib = static_cast<double>(parlo::kMaximumUploadSize) / (1024.0 * 1024.0);
        std::vector<double> seconds;
        long worstPeakKiB = 0;
        const long baselineKiB = statusKiB("VmRSS");
        for (int i = 0; i < iterations; ++i) {
            resetPeak();
            const long before = statusKiB("VmRSS");
            QElapsedTimer clock;
            clock.start();
            const QString id = await(
                client.upload(audio.toStdString(), QStringLiteral("Замер загрузки"), parlo::Uuid::random()));
            seconds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
            const long peak = statusKiB("VmHWM");
            worstPeakKiB = std::max(worstPeakKiB, peak - before);
            std::printf(
                "upload %d: %.0f MiB in %.2f s (%.1f MiB/s), peak resident +%.1f MiB over %.1f MiB, id %s\n",
                i + 1, mib, seconds.back(), mib / seconds.back(), (peak - before) / 1024.0, before / 1024.0,
                qPrintable(id));
        }
        std::sort(seconds.begin(), seconds.end());
        const double median = seconds[seconds.size() / 2];
        std::printf("median: %.2f s, %.1f MiB/s (body assembled on disk, then sent over loopback TLS)\n",
                    median, mib / median);
        std::printf(
            "worst peak resident growth during an upload: %.1f MiB for a %.0f MiB body (baseline %.1f MiB)\n",
            worstPeakKiB / 1024.0, mib, baselineKiB / 1024.0);
        if (worstPeakKiB >= static_cast<long>(parlo::kMaximumUploadSize / 1024)) {
            std::printf("FAIL: the body was held in memory\n");
            status = 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "upload failed: %s\n", qPrintable(parlo::describeError(error)));
        status = 1;
    }
    service.kill(); // our own child, by its PID
    service.waitForFinished(5000);
    return status;
}
