// The upload queue and the synchronization, driven through the model as the application drives them.
#include "ModelServiceFixture.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

using namespace parlo;
using parlo::test::waitUntil;

using UploadQueueTest = test::ModelServiceFixture;

TEST_F(UploadQueueTest, LoginSendsEveryWaitingRecordingNewestFirst) {
    LocalRecording older = capture("Старая", 100);
    LocalRecording newer = capture("Новая", 200);
    LocalRecording failed = capture("Без файла", 300, false);
    failed.status = RecordingStatus::error;
    LocalStore::save({newer, older, failed});
    auto model = makeModel();
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(postsToMeetings(), 0) << "nothing is sent while signed out";

    logIn(*model);
    EXPECT_EQ(model->message(), QStringLiteral("Личный кабинет подключён."));
    EXPECT_TRUE(model->password().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !model->uploading(); }));

    EXPECT_EQ(postsToMeetings(), 2);
    const LocalRecording& sentNew = byTitle(*model, "Новая");
    const LocalRecording& sentOld = byTitle(*model, "Старая");
    ASSERT_TRUE(sentNew.remoteID && sentOld.remoteID);
    // Each upload is followed by the detail of its meeting: the first detail names the first upload.
    QString firstDetail;
    for (const auto& request : loopback.service.requests())
        if (request.method == "GET" && request.path.startsWith(QStringLiteral("/api/meetings/"))) {
            firstDetail = request.path;
            break;
        }
    EXPECT_EQ(firstDetail, QStringLiteral("/api/meetings/") + QString::fromStdString(*sentNew.remoteID))
        << "the newer one went first";
    EXPECT_EQ(sentNew.status, "done"); // the service finishes at once here
    ASSERT_TRUE(sentNew.result);
    EXPECT_FALSE(sentNew.result->value().segments.empty());
    EXPECT_EQ(sentNew.duration, sentNew.result->value().duration);
    EXPECT_FALSE(byTitle(*model, "Без файла").remoteID);
    EXPECT_EQ(LocalStore::load()[0].status, "done") << "saved";
}

TEST_F(UploadQueueTest, AFailedUploadPausesTheQueueUntilRetry) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"),
                                 dev::Fault::withStatus(503, R"({"detail":"Сервис перегружен"})"));
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return !model->uploading(); }));
    const LocalRecording& item = model->items()[0];
    EXPECT_EQ(item.status, "local");
    EXPECT_EQ(item.stage, "Запись остаётся на этом компьютере");
    EXPECT_EQ(item.error, std::optional<std::string>("Сервис перегружен"));
    EXPECT_TRUE(model->connected());

    // Ticks within 30 seconds do not try again.
    const int before = postsToMeetings();
    for (int i = 0; i < 10; ++i) {
        clock->advance(2.5);
        test::runTask(model->tick());
    }
    EXPECT_EQ(postsToMeetings(), before);
    model->retry(item.id);
    ASSERT_TRUE(waitUntil([&] { return !model->uploading() && model->items()[0].remoteID; }));
    EXPECT_EQ(postsToMeetings(), before + 1);
    EXPECT_FALSE(model->items()[0].error);
}

TEST_F(UploadQueueTest, A401DuringUploadSignsOutAndTheRecordingWaitsForLogin) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), dev::Fault::withStatus(401, "{}"));
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return !model->uploading(); }));
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(model->items()[0].status, "waiting_login");
    EXPECT_EQ(model->items()[0].error, std::optional<std::string>("Войдите в личный кабинет."));
}

TEST_F(UploadQueueTest, AFailedFirstDetailKeepsTheMeetingSoTheFileIsNotSentTwice) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("GET", QStringLiteral("/api/meetings/*"),
                                 dev::Fault::withStatus(500, "<html>"));
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return !model->uploading(); }));
    const LocalRecording& item = model->items()[0];
    EXPECT_TRUE(item.remoteID);
    EXPECT_EQ(item.stage, "Запись остаётся на этом компьютере");
    EXPECT_EQ(postsToMeetings(), 1);
    model->retry(item.id);
    test::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(postsToMeetings(), 1);
}

TEST_F(UploadQueueTest, SynchronizationAppendsUnknownMeetingsAndSkipsKnownResults) {
    auto model = makeModel();
    const QString remote = loopback.service.addMeeting(QStringLiteral("Из кабинета"), 1'700'000'000.0);
    logIn(*model);
    ASSERT_EQ(model->items().size(), 1u);
    const LocalRecording& added = model->items().back();
    EXPECT_EQ(added.title, "Из кабинета");
    EXPECT_EQ(added.source, "Личный кабинет");
    EXPECT_EQ(added.remoteID, std::optional<std::string>(remote.toStdString()));
    EXPECT_DOUBLE_EQ(added.created, 1'700'000'000.0 - kUnixTimeOfLibraryEpoch);
    EXPECT_FALSE(added.fileName);

    // A later synchronization fetches the result of the finished meeting once, then never again.
    clock->advance(21);
    test::runTask(model->tick());
    ASSERT_TRUE(model->items().back().result);
    const int details = detailRequests();
    clock->advance(21);
    test::runTask(model->tick());
    EXPECT_EQ(detailRequests(), details);
}

TEST_F(UploadQueueTest, TickPacesTheSynchronization) {
    auto model = makeModel();
    logIn(*model);
    auto lists = [&] { return loopback.service.requestsTo(QStringLiteral("/api/meetings")).size(); };
    const auto start = lists();
    // Nothing in progress: every 20 seconds.
    for (int i = 0; i < 26; ++i) { // strictly more than 20 s
        clock->advance(0.8);
        test::runTask(model->tick());
    }
    EXPECT_EQ(lists(), start + 1);

    // A meeting in progress: every 4 seconds.
    loopback.service.setStageInterval(std::chrono::seconds(3600));
    loopback.service.addMeeting(QStringLiteral("Идёт"), 1'700'000'000.0);
    clock->advance(21);
    test::runTask(model->tick());
    ASSERT_NE(model->items().back().status, "done");
    const auto busy = lists();
    for (int i = 0; i < 10; ++i) {
        clock->advance(0.8);
        test::runTask(model->tick());
    }
    EXPECT_EQ(lists(), busy + 1);
}

TEST_F(UploadQueueTest, AnUnchangedSynchronizationDoesNotRewriteTheLibrary) {
    auto model = makeModel();
    loopback.service.addMeeting(QStringLiteral("Готовая"), 1'700'000'000.0);
    logIn(*model);
    clock->advance(21);
    test::runTask(model->tick()); // fetches the result
    struct stat first {};
    ASSERT_EQ(::stat(LocalStore::libraryFile().c_str(), &first), 0);
    const auto lists = loopback.service.requestsTo(QStringLiteral("/api/meetings")).size();
    for (int i = 0; i < 3; ++i) {
        clock->advance(21);
        test::runTask(model->tick());
    }
    EXPECT_EQ(loopback.service.requestsTo(QStringLiteral("/api/meetings")).size(), lists + 3);
    struct stat after {};
    ASSERT_EQ(::stat(LocalStore::libraryFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, first.st_ino) << "an atomic save would have replaced the file";
}

TEST_F(UploadQueueTest, QuitCancelsARunningUploadWithoutLeavingItsBody) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), dev::Fault::stall());
    logIn(*model);
    ASSERT_TRUE(model->uploading());
    ASSERT_TRUE(waitUntil([&] { return loopback.service.stalledConnections() > 0; }));

    QSignalSpy terminated(model.get(), &AppModel::terminationRequested);
    test::runTask(model->quit(), std::chrono::seconds(10));
    EXPECT_EQ(terminated.count(), 1);
    EXPECT_FALSE(model->uploading());
    EXPECT_EQ(LocalStore::load()[0].status, "local") << "saved after the queue let go of it";
    for (const auto& entry : std::filesystem::directory_iterator(LocalStore::root()))
        EXPECT_NE(entry.path().extension(), ".multipart") << entry.path();
}

TEST_F(UploadQueueTest, MeetingsWithIdsThatAreNoIdsAreSkippedAndTheOthersStillSynchronize) {
    loopback.service.addMeeting(QStringLiteral("Первая"), 1'700'000'000.0);
    for (const QString& id : {QStringLiteral("../x"), QStringLiteral("/abs"), QString::fromUtf8("ab\0cd", 5),
                              QString(5000, QLatin1Char('a'))})
        loopback.service.addMeeting(QStringLiteral("Чужая"), 1'700'000'000.0, id);
    loopback.service.addMeeting(QStringLiteral("Вторая"), 1'700'000'000.0);
    auto model = makeModel();
    logIn(*model);
    ASSERT_EQ(model->items().size(), 2u);
    clock->advance(21);
    test::runTask(model->tick()); // the results of both are fetched
    EXPECT_TRUE(byTitle(*model, "Первая").result);
    EXPECT_TRUE(byTitle(*model, "Вторая").result);
    // Nothing was made from the ids, inside the data folder or beside it.
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dataDir.path()))
        if (!entry.path().filename().string().starts_with("search-index.sqlite"))
            entries.insert(entry.path().filename().string());
    EXPECT_EQ(entries, (std::set<std::string>{"Recordings", "library.json"}));
    EXPECT_TRUE(std::filesystem::is_empty(LocalStore::recordingsFolder()));
    EXPECT_FALSE(std::filesystem::exists(dataDir.path().parent_path() / "x"));
    EXPECT_FALSE(std::filesystem::exists("/abs"));
}

TEST_F(UploadQueueTest, NoSynchronizationWhileTheQueueRunsAndAListedUploadIsNotDuplicated) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    // The upload reaches the service, but its answer waits.
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), dev::Fault::hold());
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return loopback.service.heldAnswers() == 1; }));
    const auto lists = loopback.service.requestsTo(QStringLiteral("/api/meetings")).size();
    clock->advance(21);
    test::runTask(model->tick());
    EXPECT_EQ(loopback.service.requestsTo(QStringLiteral("/api/meetings")).size(), lists)
        << "the tick synchronized while the queue ran";

    // A synchronization the rules still allow (a login's) sees the meeting before the upload answers:
    // it is the recording it came from.
    test::runTask(model->synchronize());
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_TRUE(model->items()[0].remoteID);
    loopback.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return !model->uploading(); }));
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items()[0].status, "done");
}

TEST_F(UploadQueueTest, AMalformedOrEndlessDetailBecomesOneRussianNotice) {
    auto model = makeModel();
    loopback.service.addMeeting(QStringLiteral("Готовая"), 1'700'000'000.0);
    logIn(*model);
    const Uuid id = model->items()[0].id;
    const QString detail = QStringLiteral("/api/meetings/*");
    loopback.service.injectFault("GET", detail, dev::Fault::withStatus(200, R"({"id":)"));
    test::runTask(model->loadDetail(id));
    EXPECT_EQ(model->message(), QString::fromUtf8(ServerText::malformedAnswer));

    model->setMessage(std::nullopt);
    loopback.service.injectFault("GET", detail, dev::Fault::endless(R"({"title":")", "x"));
    test::runTask(model->loadDetail(id), std::chrono::seconds(60));
    EXPECT_EQ(model->message(), QString::fromUtf8(ServerText::malformedAnswer));
}

TEST_F(UploadQueueTest, ADeletedMeetingStaysDeletedAndARenamedOneKeepsItsTitle) {
    loopback.service.addMeeting(QStringLiteral("Лишняя"), 1'700'000'000.0);
    loopback.service.addMeeting(QStringLiteral("Планёрка"), 1'700'000'100.0);
    auto lists = [&] { return loopback.service.requestsTo(QStringLiteral("/api/meetings")).size(); };
    {
        auto model = makeModel();
        logIn(*model);
        ASSERT_EQ(model->items().size(), 2u);
        ASSERT_TRUE(model->deleteRecording(byTitle(*model, "Лишняя").id));
        ASSERT_TRUE(
            model->renameRecording(byTitle(*model, "Планёрка").id, QStringLiteral("Планёрка и счета")));

        const auto before = lists();
        clock->advance(21);
        test::runTask(model->tick());
        ASSERT_GT(lists(), before) << "a synchronization ran";
        ASSERT_EQ(model->items().size(), 1u);
        EXPECT_EQ(model->items()[0].title, "Планёрка и счета");
        EXPECT_TRUE(model->items()[0].result) << "the synchronization changed the entry, not its title";
    }
    // The next start reads both back.
    auto model = makeModel();
    logIn(*model);
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items()[0].title, "Планёрка и счета");
}
