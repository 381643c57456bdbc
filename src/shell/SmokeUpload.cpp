#include "shell/CheckModes.h"

#include "core/CoreTexts.h"
#include "core/ParloError.h"
#include "core/Uuid.h"
#include "library/LocalStore.h"
#include "library/MeetingResult.h"
#include "server/ServerClient.h"
#include "shell/RunMode.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <qcoro/qcorotimer.h>

#include <chrono>
#include <cstdio>

namespace parlo {

namespace {

using namespace std::chrono_literals;

// The meeting is fetched at most this many times, with this pause between fetches.
constexpr int kPollLimit = 360;
constexpr auto kPollPause = 3s;

void printLine(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

std::filesystem::path toPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString readAccessKey(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PlatformError(file.errorString());
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw PlatformError(QStringLiteral("The access file is not UTF-8 text."));
    std::optional<QString> key = accessKeyFromText(text);
    if (!key)
        throw ParloError("Access file is invalid");
    return *key;
}

void writeAtomically(const QString& path, const std::string& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(file.errorString());
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        throw PlatformError(file.errorString());
    if (!file.commit())
        throw PlatformError(file.errorString());
    // Files in the data folder are private to the user.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

QCoro::Task<int> runSmokeUpload(const RunSelection& selection) {
    // Copied before the first suspension: the selection belongs to the caller.
    const QString audioFile = selection.smokeFile;
    const QString accessFile = selection.accessFile;
    const QString testRoot = selection.testRoot;
    try {
        // Every data path of the process (the temporary upload bodies among them) now lies in the test root.
        qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(testRoot));
        const QString key = readAccessKey(accessFile);

        ServerClientOptions options = ServerClientOptions::fromEnvironment();
        options.scratchFolder = LocalStore::root();
        ServerClient client(false, std::move(options));
        co_await client.login(key);

        const Uuid clientID = Uuid::random();
        const QString title = QStringLiteral("Проверка нативного приложения Mac");
        const QString first = co_await client.upload(toPath(audioFile), title, clientID);
        const QString second = co_await client.upload(toPath(audioFile), title, clientID);
        if (second != first)
            throw ParloError("Idempotency test failed");
        printLine(QStringLiteral("Native HTTPS login, upload and retry deduplication: PASS"));

        std::string lastStage;
        int polls = 0;
        ServerMeeting meeting;
        for (;;) {
            meeting = co_await client.detail(first);
            if (meeting.stage != lastStage)
                printLine(QStringLiteral("Processing: ") + QString::fromStdString(meeting.stage));
            if (meeting.status == "error")
                throw ParloError(meeting.error ? QString::fromStdString(*meeting.error)
                                               : QStringLiteral("Processing failed"));
            if (meeting.status == "done")
                break;
            co_await QCoro::sleepFor(kPollPause);
            lastStage = meeting.stage;
            if (++polls == kPollLimit)
                throw ParloError("Processing timeout");
        }

        writeAtomically(QDir(testRoot).filePath(QStringLiteral("native-smoke-result.json")),
                        encodeServerMeeting(meeting));
        const QByteArray exported = co_await client.exportMeeting(first, QStringLiteral("md"));
        if (exported.isEmpty() || !meeting.result || meeting.result->segments.empty())
            throw ParloError("Result verification failed");
        printLine(QStringLiteral("Native result, transcript and authenticated export: PASS"));
        co_await client.logout();
        co_return 0;
    } catch (const std::exception& error) {
        const QString line =
            QStringLiteral("Native smoke failed: ") + describeError(error) + QLatin1Char('\n');
        std::fputs(line.toUtf8().constData(), stderr);
    } catch (...) {
        std::fprintf(stderr, "Native smoke failed: %s\n", CoreText::unknownError);
    }
    co_return 1;
}

} // namespace parlo
