// The service client against a broken or hostile development service: answers that nest without end,
// never end, trickle, redirect to plain http or carry ids that are paths. Each must end with a
// Russian sentence, read a bounded amount and leave nothing on disk.

#include "support/LoopbackService.h"

#include "core/BoundedText.h"
#include "core/Json.h"

#include <QDir>
#include <QFile>

#include <filesystem>

namespace parlo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using dev::Fault;

std::string s(const QString& text) {
    return text.toStdString();
}

const QString kMeetings = QStringLiteral("/api/meetings");
const QByteArray kMeetingID = "0123456789abcdef0123456789abcdef";

// A meeting whose unknown key nests `levels` arrays.
QByteArray nestedMeeting(int levels) {
    return R"({"id":")" + kMeetingID + R"(","title":"t","created":1,"status":"queued","stage":"s",)" +
           R"("progress":0,"future":)" + QByteArray(levels, '[') + QByteArray(levels, ']') + "}";
}

class HostileServiceTest : public ::testing::Test {
protected:
    HostileServiceTest() {
        // Small caps and a short drip window keep the hostile answers quick; the rules are the same.
        options.limits.document = 1024 * 1024;
        options.limits.audio = 2 * 1024 * 1024;
        options.limits.dripMinimum = 1024;
        options.timeouts.dripWindow = 400ms;
        client = std::make_unique<ServerClient>(false, options);
        runTask(client->login(QStringLiteral("parlo-dev-key")));
    }

    // Waits for the service to see the client leave a never-ending answer, and checks that the client
    // took no more than the cap (plus what the kernel's and TLS buffers hold on loopback).
    void expectStreamAbandoned(qint64 cap) {
        EXPECT_TRUE(waitUntil([&] { return loopback.service.activeStreams() == 0; }, 10s))
            << "the client kept reading";
        EXPECT_LT(loopback.service.streamedBytes(), cap + 24 * 1024 * 1024);
    }

    ScopedDataDir data;
    LoopbackService loopback;
    ServerClientOptions options = loopback.clientOptions();
    std::unique_ptr<ServerClient> client;
};

TEST_F(HostileServiceTest, DeepNestingInTheListOrADetailIsAMalformedAnswer) {
    const QByteArray deep = nestedMeeting(80'000); // 160 KB: once a stack overflow at every connect
    loopback.service.injectFault("GET", kMeetings, Fault::withStatus(200, "[" + deep + "]"));
    EXPECT_EQ(s(failureOf(client->list())), ServerText::malformedAnswer);
    loopback.service.injectFault("GET", kMeetings + QLatin1Char('/') + QString::fromLatin1(kMeetingID),
                                 Fault::withStatus(200, deep));
    EXPECT_EQ(s(failureOf(client->detail(QString::fromLatin1(kMeetingID)))), ServerText::malformedAnswer);

    loopback.service.injectFault("GET", kMeetings, Fault::withStatus(200, "[" + nestedMeeting(200) + "]"));
    EXPECT_EQ(runTask(client->list()).size(), 1u) << "deep but within the limit";
}

TEST_F(HostileServiceTest, OversizedAnswersAreCutWhileTheyArrive) {
    // A detail that claims 2 GB stops at its headers.
    loopback.service.injectFault("GET", kMeetings + QStringLiteral("/*"),
                                 Fault::endless(R"({"id":")" + kMeetingID + R"(","title":")", "x",
                                                "application/json", 2LL * 1024 * 1024 * 1024));
    EXPECT_EQ(s(failureOf(client->detail(QString::fromLatin1(kMeetingID)))), ServerText::malformedAnswer);
    expectStreamAbandoned(0);

    // An endless chunked list stops at the cap.
    loopback.service.injectFault("GET", kMeetings, Fault::endless("[", R"({"id":"x"},)"));
    EXPECT_EQ(s(failureOf(client->list())), ServerText::malformedAnswer);
    expectStreamAbandoned(options.limits.document);

    // A failure's body is read only as far as a "detail" can be: an endless one is no message.
    Fault endlessDetail = Fault::endless(R"({"detail":")", "Ошибка ");
    endlessDetail.status = 500;
    loopback.service.injectFault("GET", kMeetings, endlessDetail);
    EXPECT_EQ(s(failureOf(client->list())), s(kUnreachable));
    expectStreamAbandoned(options.limits.small);

    // A long but whole one is cut to a notice.
    loopback.service.injectFault(
        "GET", kMeetings,
        Fault::withStatus(500, R"({"detail":")" + QString(3000, QChar(u'я')).toUtf8() + R"("})"));
    const QString message = failureOf(client->list());
    EXPECT_EQ(message,
              QString(static_cast<qsizetype>(TextLimit::message - 1), QChar(u'я')) + QStringLiteral("…"));
    EXPECT_TRUE(client->hasToken());
}

TEST_F(HostileServiceTest, AnEndlessOrRefusedAudioDownloadLeavesNoFile) {
    const QString id = QString::fromLatin1(kMeetingID);
    const QString audio = kMeetings + QLatin1Char('/') + id + QStringLiteral("/audio");
    const fs::path destination = data.path() / "Playback" / (id.toStdString() + ".wav");
    auto leftovers = [&] {
        return QDir(QString::fromStdString(data.path().string()))
            .entryList({QStringLiteral(".audio-*")}, QDir::Files | QDir::Hidden);
    };

    loopback.service.injectFault("GET", audio, Fault::endless({}, "RIFF", "audio/wav"));
    EXPECT_EQ(s(failureOf(client->audio(id, destination))), "Не удалось загрузить звук.");
    expectStreamAbandoned(options.limits.audio);
    EXPECT_FALSE(fs::exists(destination.parent_path())) << "no folder before the audio is whole";
    EXPECT_TRUE(leftovers().isEmpty());

    // Any other status stops at the headers: not a byte of its endless body is taken.
    Fault missing = Fault::endless({}, "<html>", "text/html");
    missing.status = 404;
    loopback.service.injectFault("GET", audio, missing);
    EXPECT_EQ(s(failureOf(client->audio(id, destination))), "Не удалось загрузить звук.");
    expectStreamAbandoned(0);
    EXPECT_FALSE(fs::exists(destination.parent_path()));
    EXPECT_TRUE(leftovers().isEmpty());
    EXPECT_TRUE(client->hasToken());
}

TEST_F(HostileServiceTest, ATrickleIsCutByTheDripGuardLongBeforeTheIdleTimeOut) {
    // One byte every 100 ms resets the 60-second idle time-out for ever; the guard needs 1 KiB a window.
    loopback.service.injectFault("GET", kMeetings, Fault::drip(QByteArray(4096, ' ') + "[]", 100ms));
    EXPECT_EQ(s(failureOf(client->list(), 10s)), ServerText::timedOut);
    EXPECT_TRUE(waitUntil([&] { return loopback.service.activeStreams() == 0; }, 10s));

    // An answer that flows, and an upload of megabytes, are never taken for a trickle.
    EXPECT_NO_THROW(runTask(client->list()));
    const fs::path file = data.path() / "meeting.m4a";
    {
        QFile out(QString::fromStdString(file.string()));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(8 * 1024 * 1024, 'a'));
    }
    EXPECT_NO_THROW(runTask(client->upload(file, QStringLiteral("t"), Uuid::random()), 60s));
}

TEST_F(HostileServiceTest, RedirectsToHttpFiftyTimesOverNeverCrashAndKeepTheDetail) {
    const QByteArray http =
        "http://127.0.0.1:" + QByteArray::number(loopback.service.baseUrl().port()) + "/api/meetings";
    const QString detail = QStringLiteral("Сервис переехал.");
    loopback.service.injectFault("GET", kMeetings, [&] {
        Fault fault = Fault::redirect(http, 302, R"({"detail":"Сервис переехал."})");
        fault.times = 50;
        return fault;
    }());
    // Like the self-test: the client ends with the coroutine the refusal unwinds.
    auto once = [&]() -> QCoro::Task<QString> {
        auto own = loopback.client();
        try {
            co_await own->list();
        } catch (const std::exception& error) {
            co_return describeError(error);
        }
        co_return QString();
    };
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(runTask(once()), detail) << i;
    EXPECT_EQ(loopback.service.requestsTo(kMeetings).size(), 50);
}

TEST_F(HostileServiceTest, MeetingsWhoseIdsAreNoIdsAreLeftOutOfTheList) {
    loopback.service.addMeeting(QStringLiteral("Первая"), 1.7e9);
    for (const QString& id : {QStringLiteral("../x"), QStringLiteral("/abs"), QString::fromUtf8("ab\0cd", 5),
                              QString(5000, QLatin1Char('a'))})
        loopback.service.addMeeting(QStringLiteral("Чужая"), 1.7e9, id);
    loopback.service.addMeeting(QStringLiteral("Вторая"), 1.7e9);

    const std::vector<ServerMeeting> meetings = runTask(client->list());
    ASSERT_EQ(meetings.size(), 2u);
    EXPECT_EQ(meetings[0].title, "Первая");
    EXPECT_EQ(meetings[1].title, "Вторая");

    // A detail or an upload answer that names such an id is refused where it enters.
    loopback.service.injectFault("GET", kMeetings + QStringLiteral("/*"),
                                 Fault::withStatus(200, R"({"id":"../x","title":"t","created":1,)"
                                                        R"("status":"done","stage":"s","progress":0})"));
    EXPECT_EQ(s(failureOf(client->detail(QString::fromLatin1(kMeetingID)))), ServerText::malformedAnswer);
}

TEST_F(HostileServiceTest, OnlyAnHttpsServiceIsEverSpokenTo) {
    ServerClientOptions plain = options;
    plain.base.setScheme(QStringLiteral("http"));
    ServerClient insecure(false, plain);
    EXPECT_FALSE(insecure.isSecure());
    loopback.service.clearRequests();
    EXPECT_EQ(s(failureOf(insecure.login(QStringLiteral("parlo-dev-key")))), ServerText::insecureBase);
    EXPECT_FALSE(runTask(insecure.checkSession()));
    EXPECT_EQ(s(failureOf(insecure.detail(QString::fromLatin1(kMeetingID)))), ServerText::insecureBase);
    EXPECT_TRUE(loopback.service.requests().isEmpty());
}

} // namespace
} // namespace parlo::test
