#include "LoopbackService.h"
#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "support/ModelFakes.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sys/stat.h>

using namespace parlo;
using parlo::test::LoopbackService;
using parlo::test::waitUntil;

namespace {

class ModelServiceTest : public ::testing::Test {
protected:
    test::ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(QStringLiteral("parlo.ini")), QSettings::IniFormat};
    std::shared_ptr<test::DrivenClock> clock = std::make_shared<test::DrivenClock>();
    LoopbackService loopback;

    // A finished capture on disk and in the library, waiting for a session.
    LocalRecording capture(const std::string& title, double created, bool withFile = true) {
        LocalRecording r;
        r.id = Uuid::random();
        r.title = title;
        r.created = created;
        r.folderName = r.id.toString();
        r.status = RecordingStatus::waitingLogin;
        r.stage = "Войдите для расшифровки";
        r.source = "Звук Mac + микрофон";
        if (withFile) {
            r.fileName = "conversation.m4a";
            const auto folder = LocalStore::recordingsFolder() / *r.folderName;
            std::filesystem::create_directories(folder);
            std::ofstream(folder / "conversation.m4a") << std::string(4096, 'a');
        }
        return r;
    }

    std::unique_ptr<AppModel> makeModel() {
        AppModelServices services;
        services.clock = clock;
        services.settings = &settings;
        services.rememberSession = false;
        services.server = loopback.clientOptions();
        services.microphoneAuthorized = [] { return true; };
        services.systemAudioPermission = [] { return true; };
        auto model = std::make_unique<AppModel>(false, std::move(services));
        test::spin(std::chrono::milliseconds(20)); // the start-up session check (no session: no request)
        return model;
    }

    void logIn(AppModel& model) {
        model.setPassword(QStringLiteral("  parlo-dev-key \n"));
        test::runTask(model.login());
        ASSERT_TRUE(model.connected()) << model.message().value_or(QString()).toStdString();
    }

    const LocalRecording& byTitle(const AppModel& model, const std::string& title) {
        for (const auto& item : model.items())
            if (item.title == title)
                return item;
        throw std::runtime_error("no recording titled " + title);
    }

    int postsToMeetings() const {
        int count = 0;
        for (const auto& request : loopback.service.requests())
            if (request.method == "POST" && request.path == QStringLiteral("/api/meetings"))
                ++count;
        return count;
    }
    int detailRequests() const {
        int count = 0;
        for (const auto& request : loopback.service.requests())
            if (request.method == "GET" && request.path.startsWith(QStringLiteral("/api/meetings/")))
                ++count;
        return count;
    }
};

} // namespace

TEST_F(ModelServiceTest, LoginSendsEveryWaitingRecordingNewestFirst) {
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

TEST_F(ModelServiceTest, AFailedUploadPausesTheQueueUntilRetry) {
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

TEST_F(ModelServiceTest, A401DuringUploadSignsOutAndTheRecordingWaitsForLogin) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), dev::Fault::withStatus(401, "{}"));
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return !model->uploading(); }));
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(model->items()[0].status, "waiting_login");
    EXPECT_EQ(model->items()[0].error, std::optional<std::string>("Войдите в личный кабинет."));
}

TEST_F(ModelServiceTest, AFailedFirstDetailKeepsTheMeetingSoTheFileIsNotSentTwice) {
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

TEST_F(ModelServiceTest, SynchronizationAppendsUnknownMeetingsAndSkipsKnownResults) {
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

TEST_F(ModelServiceTest, TickPacesTheSynchronization) {
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

TEST_F(ModelServiceTest, AnUnchangedSynchronizationDoesNotRewriteTheLibrary) {
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

TEST_F(ModelServiceTest, LogoutKeepsTheLibraryAndStopsTheTraffic) {
    auto model = makeModel();
    logIn(*model);
    test::runTask(model->logout());
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(
        model->message(),
        QStringLiteral("Сессия завершена. Новые записи останутся на этом компьютере до следующего входа."));
    const auto count = loopback.service.requests().size();
    for (int i = 0; i < 30; ++i) {
        clock->advance(1);
        test::runTask(model->tick());
    }
    EXPECT_EQ(loopback.service.requests().size(), count);
}

TEST_F(ModelServiceTest, AccessFileImportLogsIn) {
    auto model = makeModel();
    const auto file = dataDir.path() / "access.txt";
    std::ofstream(file) << "Личный доступ Mello Parlo\r\nПароль:   parlo-dev-key  \r\n";
    model->importAccessFileAt(QString::fromStdString(file.string()));
    ASSERT_TRUE(waitUntil([&] { return model->connected() && !model->loggingIn(); }));

    std::ofstream(file) << "пароль: parlo-dev-key\n";
    model->importAccessFileAt(QString::fromStdString(file.string()));
    EXPECT_EQ(model->message(), QStringLiteral("В файле не найден ключ Mello Parlo."));
}

TEST_F(ModelServiceTest, QuitCancelsARunningUploadWithoutLeavingItsBody) {
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

TEST_F(ModelServiceTest, ExportWritesTheChosenFileWhole) {
    LocalStore::save({capture("Запись", 100)});
    QString proposed;
    const auto target = dataDir.path() / "export.md";
    AppModelServices services;
    services.clock = clock;
    services.settings = &settings;
    services.rememberSession = false;
    services.server = loopback.clientOptions();
    services.chooseExportFile = [&](const QString& name, const QString&) -> std::optional<QString> {
        proposed = name;
        return QString::fromStdString(target.string());
    };
    AppModel model(false, std::move(services));
    logIn(model);
    ASSERT_TRUE(waitUntil([&] { return !model.uploading() && model.items()[0].remoteID; }));
    const Uuid id = model.items()[0].id;

    { std::ofstream(target) << "old"; }
    test::runTask(model.exportRecording(id, QStringLiteral("md")));
    EXPECT_EQ(proposed, QStringLiteral("Mello Parlo.md"));
    std::ifstream in(target);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_GT(written.size(), 10u);
    EXPECT_NE(written, "old");

    test::runTask(model.exportRecording(id, QStringLiteral("pdf")));
    EXPECT_EQ(model.message(), QStringLiteral("Неизвестный формат."));
}

TEST_F(ModelServiceTest, MeetingsWithIdsThatAreNoIdsAreSkippedAndTheOthersStillSynchronize) {
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

TEST_F(ModelServiceTest, NoSynchronizationWhileTheQueueRunsAndAListedUploadIsNotDuplicated) {
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

TEST_F(ModelServiceTest, AnHttpServiceIsRefusedAtStartUpAndNothingIsSent) {
    LocalStore::save({capture("Запись", 100)});
    AppModelServices services;
    services.clock = clock;
    services.settings = &settings;
    services.rememberSession = false;
    services.server = loopback.clientOptions();
    services.server->base.setScheme(QStringLiteral("http"));
    AppModel model(false, std::move(services));
    ASSERT_TRUE(waitUntil([&] { return model.message().has_value(); }));
    EXPECT_EQ(model.message(), QString::fromUtf8(ServiceText::insecureBase));
    model.setPassword(QStringLiteral("parlo-dev-key"));
    test::runTask(model.login());
    EXPECT_EQ(model.message(), QString::fromUtf8(ServiceText::insecureBase));
    EXPECT_FALSE(model.connected());
    EXPECT_TRUE(loopback.service.requests().isEmpty());
}

TEST_F(ModelServiceTest, AMalformedOrEndlessDetailBecomesOneRussianNotice) {
    auto model = makeModel();
    loopback.service.addMeeting(QStringLiteral("Готовая"), 1'700'000'000.0);
    logIn(*model);
    const Uuid id = model->items()[0].id;
    const QString detail = QStringLiteral("/api/meetings/*");
    loopback.service.injectFault("GET", detail, dev::Fault::withStatus(200, R"({"id":)"));
    test::runTask(model->loadDetail(id));
    EXPECT_EQ(model->message(), QString::fromUtf8(ServiceText::malformedAnswer));

    model->setMessage(std::nullopt);
    loopback.service.injectFault("GET", detail, dev::Fault::endless(R"({"title":")", "x"));
    test::runTask(model->loadDetail(id), std::chrono::seconds(60));
    EXPECT_EQ(model->message(), QString::fromUtf8(ServiceText::malformedAnswer));
}

TEST_F(ModelServiceTest, ADeletedMeetingStaysDeletedAndARenamedOneKeepsItsTitle) {
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

TEST_F(ModelServiceTest, ARecordingBeingSentCannotBeDeleted) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), dev::Fault::stall());
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return loopback.service.stalledConnections() > 0; }));
    EXPECT_FALSE(model->deleteRecording(model->items()[0].id));
    EXPECT_EQ(model->message(),
              QStringLiteral("Запись нельзя удалить, пока она отправляется на расшифровку."));
    EXPECT_TRUE(std::filesystem::exists(*LocalStore::media(model->items()[0])));
}
