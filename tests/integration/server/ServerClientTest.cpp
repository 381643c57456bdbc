// The service client against the development service over real TLS on loopback.

#include "support/LoopbackService.h"

#include "core/Json.h"
#include "server/MultipartBody.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <filesystem>
#include <sys/stat.h>

namespace parlo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using dev::Fault;
using dev::RecordedRequest;

std::string s(const QString& text) {
    return text.toStdString();
}

fs::path writeFile(const fs::path& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path.string()));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray audioBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((static_cast<qint64>(i) * 7919) % 251);
    return bytes;
}

QStringList multipartLeftovers(const fs::path& root) {
    return QDir(QString::fromStdString(root.string()))
        .entryList({QStringLiteral("*.multipart")}, QDir::Files);
}

class ServerClientTest : public ::testing::Test {
protected:
    void signIn(ServerClient& client) { runTask(client.login(QStringLiteral("parlo-dev-key"))); }

    ScopedDataDir data;
    LoopbackService loopback;
    std::unique_ptr<ServerClient> client = loopback.client();
};

TEST_F(ServerClientTest, SendsTheThreeHeadersInOrderAndTheCookieOnlyWhenSignedIn) {
    EXPECT_FALSE(runTask(client->checkSession())); // no token: no request at all
    EXPECT_TRUE(loopback.service.requests().isEmpty());

    signIn(*client);
    ASSERT_TRUE(client->token().has_value());
    EXPECT_TRUE(loopback.service.hasSession(*client->token()));
    const RecordedRequest login = loopback.service.requestsTo(QStringLiteral("/api/login")).value(0);
    EXPECT_EQ(login.header("x-parlo-action"), "1");
    EXPECT_EQ(login.header("origin"), loopback.service.baseUrl().toString().toUtf8());
    EXPECT_FALSE(login.hasHeader("cookie"));

    EXPECT_TRUE(runTask(client->checkSession()));
    const RecordedRequest session = loopback.service.requestsTo(QStringLiteral("/api/session")).value(0);
    EXPECT_EQ(session.header("cookie"), "__Host-parlo=" + client->token()->toUtf8());
    QList<QByteArray> ours;
    for (const auto& [name, value] : session.headers) {
        const QByteArray lower = name.toLower();
        if (lower == "x-parlo-action" || lower == "origin" || lower == "cookie")
            ours.append(lower);
    }
    EXPECT_EQ(ours, (QList<QByteArray>{"x-parlo-action", "origin", "cookie"}));
}

TEST_F(ServerClientTest, LoginTakesTheSessionCookieAmongOthersAndRefusalsKeepTheServersWords) {
    EXPECT_EQ(s(failureOf(client->login(QStringLiteral("wrong")))), "Неверный ключ доступа.");
    EXPECT_FALSE(client->hasToken());

    signIn(*client);
    ASSERT_TRUE(client->token());
    EXPECT_EQ(client->token()->size(), 64); // the service's token, not "light" or "1" of the other cookies

    LoopbackService bare;
    bare.service.injectFault("POST", QStringLiteral("/api/login"), Fault::withStatus(200, "{}"));
    auto other = bare.client();
    EXPECT_EQ(s(failureOf(other->login(QStringLiteral("parlo-dev-key")))), "Сервер не выдал личную сессию.");
    EXPECT_FALSE(other->hasToken());
}

TEST_F(ServerClientTest, AnswerCheckPrefersAStringDetailAndFallsBackToTheStatusTexts) {
    signIn(*client);
    const QString list = QStringLiteral("/api/meetings");
    struct Case {
        QByteArray body;
        QByteArray type;
        std::string expected;
    };
    const Case cases[] = {
        {R"({"detail":"Сервис на обслуживании."})", "application/json", "Сервис на обслуживании."},
        {"<html><body>502 Bad Gateway</body></html>", "text/html", s(kUnreachable)},
        {R"({"detail":[{"loc":["body"],"msg":"field required"}]})", "application/json", s(kUnreachable)},
        {R"({"detail":42})", "application/json", s(kUnreachable)},
        {R"({"detail":"unterminated)", "application/json", s(kUnreachable)},
        {R"(["detail"])", "application/json", s(kUnreachable)},
    };
    for (const Case& c : cases) {
        loopback.service.injectFault("GET", list, Fault::withStatus(500, c.body, c.type));
        EXPECT_EQ(s(failureOf(client->list())), c.expected) << c.body.toStdString();
    }
    EXPECT_TRUE(client->hasToken()); // only 401 signs out
}

TEST_F(ServerClientTest, A401SignsOutBeforeFailingAndTheNextRequestCarriesNoCookie) {
    signIn(*client);
    int changes = 0;
    QObject::connect(client.get(), &ServerClient::tokenChanged, client.get(), [&changes] { ++changes; });
    loopback.service.injectFault("GET", QStringLiteral("/api/meetings"),
                                 Fault::withStatus(401, R"({"detail":"Сессия отозвана."})"));
    EXPECT_EQ(s(failureOf(client->list())), "Сессия отозвана.");
    EXPECT_FALSE(client->hasToken());
    EXPECT_EQ(changes, 1);

    signIn(*client);
    loopback.service.injectFault("GET", QStringLiteral("/api/meetings"),
                                 Fault::withStatus(401, "", "text/plain"));
    EXPECT_EQ(s(failureOf(client->list())), "Войдите в личный кабинет.");
    EXPECT_FALSE(client->hasToken());

    loopback.service.clearRequests();
    EXPECT_EQ(s(failureOf(client->list())), "Сессия истекла. Войдите снова.");
    EXPECT_FALSE(loopback.service.requests().value(0).hasHeader("cookie"));
}

TEST_F(ServerClientTest, SessionCheckSignsOutOnlyWhenTheServiceSaysSo) {
    signIn(*client);
    loopback.service.injectFault("GET", QStringLiteral("/api/session"), Fault::withStatus(503, "{}"));
    EXPECT_TRUE(runTask(client->checkSession()));
    EXPECT_TRUE(client->hasToken());

    loopback.service.injectFault("GET", QStringLiteral("/api/session"), Fault::withStatus(200, "not json"));
    EXPECT_TRUE(runTask(client->checkSession()));

    loopback.service.injectFault("GET", QStringLiteral("/api/session"), Fault::reset());
    EXPECT_TRUE(runTask(client->checkSession())); // offline start stays signed in
    EXPECT_TRUE(client->hasToken());

    loopback.service.injectFault("GET", QStringLiteral("/api/session"),
                                 Fault::withStatus(200, R"({"authenticated":"yes"})"));
    EXPECT_FALSE(runTask(client->checkSession()));
    EXPECT_FALSE(client->hasToken());

    signIn(*client);
    loopback.service.injectFault("GET", QStringLiteral("/api/session"),
                                 Fault::withStatus(200, R"({"authenticated":false})"));
    EXPECT_FALSE(runTask(client->checkSession()));
    EXPECT_FALSE(client->hasToken());
}

TEST_F(ServerClientTest, LogoutEndsTheSessionAtTheServiceAndLocallyEvenWhenTheServiceFails) {
    signIn(*client);
    const QString token = *client->token();
    runTask(client->logout());
    EXPECT_FALSE(client->hasToken());
    EXPECT_FALSE(loopback.service.hasSession(token));

    signIn(*client);
    loopback.service.injectFault("POST", QStringLiteral("/api/logout"), Fault::reset());
    runTask(client->logout());
    EXPECT_FALSE(client->hasToken());

    loopback.service.clearRequests();
    runTask(client->logout()); // signed out: nothing is sent
    EXPECT_TRUE(loopback.service.requests().isEmpty());
}

TEST_F(ServerClientTest, RedirectsAreFollowedOnlyToTheServiceItself) {
    signIn(*client);
    const QByteArray base = loopback.service.baseUrl().toString().toUtf8();
    const QString list = QStringLiteral("/api/meetings");

    loopback.service.injectFault("GET", list, Fault::redirect(base + "/api/meetings?page=1", 307));
    EXPECT_NO_THROW(runTask(client->list()));
    const auto followed = loopback.service.requestsTo(list);
    ASSERT_EQ(followed.size(), 2);
    EXPECT_EQ(followed.at(1).header("cookie"), "__Host-parlo=" + client->token()->toUtf8());

    LoopbackService elsewhere(LoopbackService::zeroDelay(), QHostAddress(QStringLiteral("127.0.0.2")));
    const QByteArray targets[] = {
        elsewhere.service.baseUrl().toString().toUtf8() + "/api/meetings", // another host
        "http://127.0.0.1:" + QByteArray::number(loopback.service.baseUrl().port()) + "/api/meetings",
        "https://127.0.0.1:8443/api/meetings",
        "https://localhost:" + QByteArray::number(loopback.service.baseUrl().port()) + "/api/meetings",
    };
    for (const QByteArray& target : targets) {
        loopback.service.clearRequests();
        loopback.service.injectFault("GET", list, Fault::redirect(target));
        EXPECT_EQ(s(failureOf(client->list())), s(kUnreachable)) << target.toStdString();
        EXPECT_EQ(loopback.service.requests().size(), 1) << target.toStdString();
    }
    EXPECT_TRUE(elsewhere.service.requests().isEmpty()); // the cookie never went there
    EXPECT_TRUE(client->hasToken());
}

TEST_F(ServerClientTest, MeetingIdentifiersAreCheckedBeforeAnyRequest) {
    signIn(*client);
    loopback.service.clearRequests();
    const QString bad[] = {QString(31, QLatin1Char('a')), QString(33, QLatin1Char('a')),
                           QStringLiteral("0123456789abcdef0123456789abcdeg"),
                           QStringLiteral("../../api/session"),
                           QStringLiteral("0123456789abcdef0123456789abcde\u0661")};
    for (const QString& id : bad) {
        EXPECT_EQ(s(failureOf(client->detail(id))), "Некорректный номер записи.");
        EXPECT_EQ(s(failureOf(client->exportMeeting(id, QStringLiteral("md")))),
                  "Некорректный номер записи.");
        EXPECT_EQ(s(failureOf(client->audio(id, data.path() / "a.wav"))), "Некорректный номер записи.");
    }
    EXPECT_TRUE(loopback.service.requests().isEmpty());
}

TEST_F(ServerClientTest, UploadSendsTheExactMultipartBodyAndIsDeduplicatedByClientID) {
    signIn(*client);
    const QByteArray audio = audioBytes(3 * 1024 * 1024 + 17); // crosses several copy chunks
    const fs::path file = writeFile(data.path() / "meeting.WAV", audio);
    // 200 characters: emoji with modifiers and joiners, flags and combining marks count as one each.
    QString title;
    const QString units[] = {QStringLiteral("й"), QStringLiteral("e\u0301"),
                             QStringLiteral("👩🏽‍💻"), QStringLiteral("🇷🇺"), QStringLiteral("a")};
    for (int i = 0; i < 200; ++i)
        title += units[i % 5];
    const Uuid clientID = Uuid::random();

    const QString first = runTask(client->upload(file, title, clientID));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-fA-F]{32}$")).match(first).hasMatch());
    const RecordedRequest post = loopback.service.requestsTo(QStringLiteral("/api/meetings")).value(0);
    const QByteArray contentType = post.header("content-type");
    ASSERT_TRUE(contentType.startsWith("multipart/form-data; boundary=Parlo"));
    const QByteArray boundary = contentType.mid(contentType.indexOf("boundary=") + 9);

    QString cut;
    for (int i = 0; i < 160; ++i)
        cut += units[i % 5];
    const QByteArray expected = multipartHead(boundary, {cut, QString::fromStdString(clientID.toString()),
                                                         QStringLiteral("recording.wav")}) +
                                audio + multipartTail(boundary);
    EXPECT_TRUE(loopback.service.lastUploadBody() == expected);

    const QString second = runTask(client->upload(file, title, clientID));
    EXPECT_EQ(s(second), s(first));
    EXPECT_EQ(loopback.service.meetingCount(), 1);
    const auto posts = loopback.service.requestsTo(QStringLiteral("/api/meetings"));
    ASSERT_EQ(posts.size(), 2);
    EXPECT_NE(posts.at(0).header("content-type"), posts.at(1).header("content-type")); // fresh boundary
    EXPECT_TRUE(multipartLeftovers(data.path()).isEmpty());
}

TEST_F(ServerClientTest, UploadSizeBoundsAreCheckedBeforeAnythingIsWritten) {
    signIn(*client);
    loopback.service.clearRequests();
    const QString tooLarge = QStringLiteral("Размер записи должен быть меньше 90 МБ.");
    const fs::path small = writeFile(data.path() / "small.m4a", audioBytes(32));
    EXPECT_EQ(failureOf(client->upload(small, QStringLiteral("t"), Uuid::random())), tooLarge);

    const fs::path large = data.path() / "large.m4a";
    {
        QFile file(QString::fromStdString(large.string()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(kMaximumUploadSize + 1)); // sparse: costs no disk
    }
    EXPECT_EQ(failureOf(client->upload(large, QStringLiteral("t"), Uuid::random())), tooLarge);
    EXPECT_TRUE(loopback.service.requests().isEmpty());
    EXPECT_TRUE(multipartLeftovers(data.path()).isEmpty());

    EXPECT_FALSE(failureOf(client->upload(data.path() / "missing.m4a", QStringLiteral("t"), Uuid::random()))
                     .isEmpty());

    const fs::path smallest = writeFile(data.path() / "smallest", audioBytes(33));
    EXPECT_NO_THROW(runTask(client->upload(smallest, QStringLiteral("t"), Uuid::random())));
    EXPECT_TRUE(loopback.service.lastUploadBody().contains("filename=\"recording.m4a\""));

    fs::resize_file(large, static_cast<std::uintmax_t>(kMaximumUploadSize));
    const Uuid largeID = Uuid::random();
    EXPECT_NO_THROW(runTask(client->upload(large, QStringLiteral("t"), largeID), 120s));
    const RecordedRequest post = loopback.service.requestsTo(QStringLiteral("/api/meetings")).last();
    const QByteArray contentType = post.header("content-type");
    const QByteArray boundary = contentType.mid(contentType.indexOf("boundary=") + 9);
    const MultipartFields fields{QStringLiteral("t"), QString::fromStdString(largeID.toString()),
                                 QStringLiteral("recording.m4a")};
    EXPECT_EQ(post.bodySize,
              multipartHead(boundary, fields).size() + kMaximumUploadSize + multipartTail(boundary).size());
}

TEST_F(ServerClientTest, NoBodyFileRemainsAfterAFailedOrResetUpload) {
    signIn(*client);
    const fs::path file = writeFile(data.path() / "meeting.m4a", audioBytes(2 * 1024 * 1024));
    const QString meetings = QStringLiteral("/api/meetings");

    loopback.service.injectFault("POST", meetings, Fault::withStatus(500, "{}"));
    EXPECT_EQ(failureOf(client->upload(file, QStringLiteral("t"), Uuid::random())), kUnreachable);
    EXPECT_TRUE(multipartLeftovers(data.path()).isEmpty());

    loopback.service.injectFault("POST", meetings, Fault::withStatus(200, R"({"id":7})"));
    EXPECT_EQ(s(failureOf(client->upload(file, QStringLiteral("t"), Uuid::random()))),
              "Сервер не вернул номер записи.");
    loopback.service.injectFault("POST", meetings, Fault::withStatus(200, R"({"id":"abc"})"));
    EXPECT_EQ(s(failureOf(client->upload(file, QStringLiteral("t"), Uuid::random()))),
              "Некорректный номер записи.");
    loopback.service.injectFault("POST", meetings, Fault::withStatus(200, R"([1,2)"));
    EXPECT_EQ(s(failureOf(client->upload(file, QStringLiteral("t"), Uuid::random()))),
              ServerText::malformedAnswer);
    EXPECT_TRUE(multipartLeftovers(data.path()).isEmpty());

    loopback.service.resetConnectionsAfter(256 * 1024);
    // A transport failure: its sentence, the technical text only in the log.
    EXPECT_EQ(s(failureOf(client->upload(file, QStringLiteral("t"), Uuid::random()))), ServerText::network);
    EXPECT_TRUE(multipartLeftovers(data.path()).isEmpty());
    EXPECT_EQ(loopback.service.meetingCount(), 0);
}

TEST_F(ServerClientTest, TheBodyFileIsPrivateWhileTheUploadRunsAndGoneWhenItTimesOut) {
    ServerClientOptions options = loopback.clientOptions();
    options.timeouts.request = 1500ms;
    ServerClient impatient(false, options); // no login needed: the stall comes before any session check
    const fs::path file = writeFile(data.path() / "meeting.m4a", audioBytes(200 * 1024));
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), Fault::stall());

    QCoro::Task<QString> upload = impatient.upload(file, QStringLiteral("t"), Uuid::random());
    for (int i = 0; i < 100 && loopback.service.requestsTo(QStringLiteral("/api/meetings")).isEmpty(); ++i)
        spin(20ms);
    const QStringList bodies = multipartLeftovers(data.path());
    ASSERT_EQ(bodies.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.multipart$"))
            .match(bodies.first())
            .hasMatch())
        << bodies.first().toStdString();
    EXPECT_EQ(fs::status(data.path() / bodies.first().toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    EXPECT_EQ(s(failureOf(std::move(upload), 10s)), "Истекло время ожидания ответа сервера.");
    EXPECT_TRUE(multipartLeftovers(data.path()).isEmpty());
}

TEST_F(ServerClientTest, AStalledServiceTripsTheIdleAndTheTotalTimeOuts) {
    ServerClientOptions options = loopback.clientOptions();
    options.timeouts.request = 1500ms;
    ServerClient impatient(false, options);
    loopback.service.injectFault("GET", QStringLiteral("/api/session"), Fault::stall());
    runTask(impatient.login(QStringLiteral("parlo-dev-key")));
    EXPECT_TRUE(runTask(impatient.checkSession(), 10s)); // a stalled check keeps the session
    loopback.service.injectFault("GET", QStringLiteral("/api/meetings"), Fault::stall());
    const QString idle = failureOf(impatient.list(), 10s);
    EXPECT_EQ(s(idle), "Истекло время ожидания ответа сервера.");

    options.timeouts.request = 60s;
    options.timeouts.total = 1500ms;
    ServerClient bounded(false, options);
    loopback.service.injectFault("GET", QStringLiteral("/api/meetings"), Fault::stall());
    EXPECT_EQ(failureOf(bounded.list(), 10s), idle);
}

TEST_F(ServerClientTest, AnUntrustedCertificateFailsTheHandshake) {
    ServerClientOptions options = loopback.clientOptions();
    options.caCertificates.clear();
    ServerClient distrustful(false, options);
    EXPECT_EQ(s(failureOf(distrustful.login(QStringLiteral("parlo-dev-key")))), ServerText::tls);
    EXPECT_TRUE(loopback.service.requests().isEmpty());
}

TEST_F(ServerClientTest, DetailListAndExportReadTheMeetingBack) {
    signIn(*client);
    const fs::path file = writeFile(data.path() / "meeting.m4a", audioBytes(4096));
    const QString id = runTask(client->upload(file, QStringLiteral("Планёрка"), Uuid::random()));
    const QString elsewhere = loopback.service.addMeeting(QStringLiteral("Из кабинета"), 1.7e9);

    const std::vector<ServerMeeting> meetings = runTask(client->list());
    ASSERT_EQ(meetings.size(), 2u);
    EXPECT_EQ(meetings.at(0).id, id.toStdString());
    EXPECT_EQ(meetings.at(1).id, elsewhere.toStdString());

    const ServerMeeting meeting = runTask(client->detail(id));
    EXPECT_EQ(meeting.status, "done");
    EXPECT_EQ(meeting.title, "Планёрка");
    ASSERT_TRUE(meeting.result.has_value());
    EXPECT_FALSE(meeting.result->segments.empty());

    for (const char* format : {"md", "txt", "srt", "json"}) {
        const QByteArray document = runTask(client->exportMeeting(id, QString::fromLatin1(format)));
        EXPECT_FALSE(document.isEmpty()) << format;
    }
    EXPECT_TRUE(runTask(client->exportMeeting(id, QStringLiteral("srt"))).startsWith("1\n00:00:00,000 --> "));

    loopback.service.clearRequests();
    EXPECT_EQ(s(failureOf(client->exportMeeting(id, QStringLiteral("pdf")))), "Неизвестный формат.");
    EXPECT_EQ(s(failureOf(client->exportMeeting(id, QStringLiteral("MD")))), "Неизвестный формат.");
    EXPECT_TRUE(loopback.service.requests().isEmpty());

    loopback.service.injectFault("GET", QStringLiteral("/api/meetings/") + id,
                                 Fault::withStatus(200, R"({"id":"x","title":"t"})"));
    EXPECT_EQ(s(failureOf(client->detail(id))), ServerText::malformedAnswer);
    loopback.service.injectFault("GET", QStringLiteral("/api/meetings"), Fault::withStatus(200, "[{]"));
    EXPECT_EQ(s(failureOf(client->list())), ServerText::malformedAnswer);

    runTask(client->logout()); // signed out, the request still goes and the refusal is the message
    EXPECT_EQ(s(failureOf(client->exportMeeting(id, QStringLiteral("md")))),
              "Сессия истекла. Войдите снова.");
    EXPECT_FALSE(loopback.service.requests().last().hasHeader("cookie"));
}

TEST_F(ServerClientTest, AudioIsPlacedPrivatelyReplacingAnOldFileAndOnlyA200Counts) {
    signIn(*client);
    const QByteArray audio = audioBytes(300 * 1024);
    const fs::path file = writeFile(data.path() / "meeting.wav", audio);
    const QString id = runTask(client->upload(file, QStringLiteral("t"), Uuid::random()));

    const fs::path destination = data.path() / "Playback" / "deep" / (id.toStdString() + ".wav");
    fs::create_directories(destination.parent_path());
    writeFile(destination, "old and longer than nothing");
    runTask(client->audio(id, destination));
    QFile downloaded(QString::fromStdString(destination.string()));
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    EXPECT_TRUE(downloaded.readAll() == audio);
    EXPECT_EQ(fs::status(destination).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    const fs::path fresh = data.path() / "New" / "Nested" / "a.wav";
    runTask(client->audio(id, fresh));
    EXPECT_EQ(fs::status(fresh.parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(fresh.parent_path().parent_path()).permissions(), fs::perms::owner_all);

    const QString audioPath = QStringLiteral("/api/meetings/") + id + QStringLiteral("/audio");
    loopback.service.injectFault("GET", audioPath, Fault::withStatus(204, ""));
    EXPECT_EQ(s(failureOf(client->audio(id, destination))), "Не удалось загрузить звук.");
    loopback.service.injectFault("GET", audioPath, Fault::withStatus(401, R"({"detail":"нет"})"));
    EXPECT_EQ(s(failureOf(client->audio(id, destination))), "Не удалось загрузить звук.");
    EXPECT_TRUE(client->hasToken()); // the audio download never signs out
    downloaded.close();
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    EXPECT_TRUE(downloaded.readAll() == audio); // a failed download leaves the old file alone
}

} // namespace
} // namespace parlo::test
