// The self-test mode of the built program end to end: parlo-devservice as a separate process, reached
// through MELLO_PARLO_SERVICE_URL and trusted through MELLO_PARLO_CA_FILE, exactly as on a developer's
// machine or in CI.

#include "DevService.h"
#include "library/MeetingResult.h"
#include "server/ServerClient.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using parlo::dev::TlsFiles;

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

class SmokeUpload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        tls = parlo::dev::generateCertificate(folder.path());
        root = folder.filePath(QStringLiteral("root"));
        ASSERT_TRUE(QDir().mkpath(root));
        audio = folder.filePath(QStringLiteral("call.m4a"));
        QFile file(audio);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(64 * 1024, 'a'));
        access =
            writeAccessFile(QStringLiteral("Mello Parlo, личный доступ\r\nПароль:   parlo-smoke-key \r\n"));
    }

    void TearDown() override {
        if (service.state() != QProcess::NotRunning) {
            service.kill(); // the service is our own child: ended by its PID
            service.waitForFinished(5000);
        }
    }

    QString writeAccessFile(const QString& text) {
        const QString path = folder.filePath(QStringLiteral("access-%1.txt").arg(++accessFiles));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        return path;
    }

    // Starts parlo-devservice on a free port and returns its base URL.
    QString startService(QStringList extra = {}) {
        service.setProgram(QStringLiteral(PARLO_DEVSERVICE_BINARY));
        service.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                         QStringLiteral("--key"), QStringLiteral("parlo-smoke-key"),
                                         QStringLiteral("--cert"), tls.certificate,
                                         QStringLiteral("--tls-key"), tls.key, QStringLiteral("--stage-ms"),
                                         QStringLiteral("200")} +
                             extra);
        service.start();
        EXPECT_TRUE(service.waitForStarted(10000));
        QByteArray output;
        while (!output.contains("Listening on ") || !output.endsWith('\n')) {
            if (!service.waitForReadyRead(10000))
                break;
            output += service.readAllStandardOutput();
        }
        const qsizetype at = output.indexOf("Listening on ");
        EXPECT_GE(at, 0) << output.toStdString() << service.readAllStandardError().toStdString();
        return QString::fromUtf8(output.mid(at + 13)).trimmed().section(QLatin1Char('\n'), 0, 0);
    }

    Outcome smoke(const QString& serviceUrl, const QString& accessFile) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MELLO_PARLO_SERVICE_URL"), serviceUrl);
        environment.insert(QStringLiteral("MELLO_PARLO_CA_FILE"), tls.certificate);
        environment.insert(QStringLiteral("MELLO_PARLO_DATA_DIR"),
                           folder.filePath(QStringLiteral("elsewhere")));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(MELLO_PARLO_BINARY),
                      {QStringLiteral("--smoke-upload"), audio, QStringLiteral("--access-file"), accessFile,
                       QStringLiteral("--test-root"), root});
        EXPECT_TRUE(program.waitForFinished(120000));
        return Outcome{program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
                       QString::fromUtf8(program.readAllStandardOutput()),
                       QString::fromUtf8(program.readAllStandardError())};
    }

    QTemporaryDir folder;
    TlsFiles tls;
    QString root;
    QString audio;
    QString access;
    int accessFiles = 0;
    QProcess service;
};

TEST_F(SmokeUpload, PassesAgainstTheDevelopmentServiceAndLeavesTheResult) {
    const Outcome run = smoke(startService(), access);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, QString());
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3) << run.out.toStdString();
    EXPECT_EQ(lines.first(), QStringLiteral("Native HTTPS login, upload and retry deduplication: PASS"));
    EXPECT_EQ(lines.last(), QStringLiteral("Native result, transcript and authenticated export: PASS"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Processing: Готово")));
    EXPECT_EQ(QStringList(lines).removeDuplicates(), 0); // a stage is printed once however often it is seen

    QFile result(QDir(root).filePath(QStringLiteral("native-smoke-result.json")));
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    const QByteArray json = result.readAll();
    const parlo::ServerMeeting meeting =
        parlo::decodeServerMeeting(std::string_view(json.constData(), json.size()));
    EXPECT_EQ(meeting.status, "done");
    EXPECT_EQ(meeting.title, "Проверка нативного приложения Mac");
    ASSERT_TRUE(meeting.result.has_value());
    EXPECT_FALSE(meeting.result->segments.empty());
    // The temporary upload bodies were made and removed in the test root.
    EXPECT_TRUE(QDir(root).entryList({QStringLiteral("*.multipart")}, QDir::Files).isEmpty());
    EXPECT_FALSE(QDir(folder.filePath(QStringLiteral("elsewhere"))).exists());
}

TEST_F(SmokeUpload, FailsWhenTheServiceGivesTwoIdsForOneRecording) {
    const Outcome run = smoke(startService({QStringLiteral("--duplicate-ids")}), access);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, QStringLiteral("Native smoke failed: Idempotency test failed\n"));
    EXPECT_EQ(run.out, QString());
    EXPECT_FALSE(QFile::exists(QDir(root).filePath(QStringLiteral("native-smoke-result.json"))));
}

TEST_F(SmokeUpload, FailsVerificationOfAResultWithoutTranscriptButStillWritesIt) {
    const QString fixture = folder.filePath(QStringLiteral("empty.json"));
    QFile file(fixture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        R"({"language":"ru","segments":[],"summary":{"mode":"m","summary":[],"decisions":[],"tasks":[]},)"
        R"("duration":1.5,"warnings":["тишина"]})");
    file.close();
    const Outcome run = smoke(startService({QStringLiteral("--result"), fixture}), access);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, QStringLiteral("Native smoke failed: Result verification failed\n"));
    EXPECT_TRUE(
        run.out.startsWith(QStringLiteral("Native HTTPS login, upload and retry deduplication: PASS\n")));
    EXPECT_TRUE(QFile::exists(QDir(root).filePath(QStringLiteral("native-smoke-result.json"))));
}

TEST_F(SmokeUpload, RefusesAnAccessFileWithoutAProperKeyLineBeforeAnyNetwork) {
    for (const QString& text :
         {QStringLiteral("пароль: parlo-smoke-key\n"), QStringLiteral("Ключ. Пароль: x\n"),
          QStringLiteral("Пароль:parlo-smoke-key\n")}) {
        const Outcome run = smoke(QStringLiteral("https://127.0.0.1:9"), writeAccessFile(text));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, QStringLiteral("Native smoke failed: Access file is invalid\n"));
    }
    const Outcome wrongKey = smoke(startService(), writeAccessFile(QStringLiteral("Пароль: not-the-key\n")));
    EXPECT_EQ(wrongKey.status, 1);
    EXPECT_EQ(wrongKey.err, QStringLiteral("Native smoke failed: Неверный ключ доступа.\n"));
}

TEST_F(SmokeUpload, RefusesAServiceWithoutHttpsBeforeSendingTheKey) {
    const Outcome run = smoke(QStringLiteral("http://127.0.0.1:9"), access);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.endsWith(QStringLiteral("Native smoke failed: ") +
                                 QString::fromUtf8(parlo::ServerText::insecureBase) + QLatin1Char('\n')))
        << run.err.toStdString();
    EXPECT_EQ(run.out, QString()); // no PASS line
}

} // namespace
