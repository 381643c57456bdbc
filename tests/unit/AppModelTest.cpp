#include "AppModelFixture.h"

#include "capture/CaptureTexts.h"
#include "core/ParloError.h"
#include "library/LocalStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <fstream>

using namespace parlo;
using parlo::test::AppModelTest;

TEST_F(AppModelTest, ADamagedLibraryLoadsWhatCameBeforeTheDamageAndNamesTheKeptFile) {
    LocalStore::save({record("Первая", 10), record("Вторая", 20), record("Третья", 30)});
    std::string json;
    {
        std::ifstream in(LocalStore::libraryFile());
        json.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream(LocalStore::libraryFile(), std::ios::trunc) << json.substr(0, json.find("Третья"));

    auto model = makeModel();
    EXPECT_EQ(model->items().size(), 2u);
    ASSERT_TRUE(model->message());
    EXPECT_TRUE(model->message()->contains(QStringLiteral("«library.unreadable-")))
        << model->message()->toStdString();
}

TEST_F(AppModelTest, ConstructionLoadsTheRepairedLibraryAndTheStoredSwitch) {
    LocalRecording interrupted = record("Прерванная", 10);
    interrupted.status = "recording";
    LocalStore::save({interrupted});
    settings.setValue(QStringLiteral("automaticCallRecording"), true);

    auto model = makeModel();
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items()[0].status, "error");
    EXPECT_TRUE(model->autoEnabled());
    EXPECT_TRUE(model->microphonePermission());
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(model->callActivity(), CallActivitySnapshot::idle());
}

TEST_F(AppModelTest, PreviewReadsNothingAndRunsNothing) {
    LocalStore::save({record("Настоящая запись", 10)});
    settings.setValue(QStringLiteral("automaticCallRecording"), true);
    microphone = false;

    auto model = makeModel(true);
    EXPECT_FALSE(model->autoEnabled());
    EXPECT_TRUE(model->microphonePermission());
    EXPECT_TRUE(model->audioPermission());
    for (const LocalRecording& item : model->items())
        EXPECT_NE(item.title, "Настоящая запись");
    test::spin(std::chrono::milliseconds(1000)); // longer than one timer period
    EXPECT_EQ(probe->calls, 0);

    test::runTask(model->recordNow());
    EXPECT_EQ(model->message(), QStringLiteral("В предпросмотре запись выключена."));
    model->setAutoEnabled(true);
    EXPECT_FALSE(model->autoEnabled());
    EXPECT_EQ(script.created, 0);
}

TEST_F(AppModelTest, PreviewWritesNothingWhateverTheUserDoes) {
    LocalStore::save({record("Настоящая запись", 10)});
    auto libraryBytes = [] {
        std::ifstream in(LocalStore::libraryFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = libraryBytes();
    auto model = makeModel(true);
    const std::size_t shown = model->items().size(); // the fixture, when its resource is linked in

    QTemporaryDir sources;
    const QString interview = sources.filePath(QStringLiteral("interview.mp3"));
    { std::ofstream(interview.toStdString()) << "x"; }
    model->importAudioAt(interview);
    EXPECT_EQ(model->message(), QStringLiteral("В предпросмотре ничего не сохраняется и не отправляется."));
    model->retry(shown > 0 ? model->items()[0].id : Uuid::random()); // saves the whole list
    model->setPassword(QStringLiteral("parlo-dev-key"));
    test::runTask(model->login());
    test::runTask(model->requestPermissions());
    model->setAutoEnabled(true);
    test::runTask(model->quit());

    EXPECT_EQ(libraryBytes(), before);
    EXPECT_TRUE(std::filesystem::is_empty(LocalStore::recordingsFolder())) << "no import copied";
    EXPECT_EQ(model->items().size(), shown);
    EXPECT_FALSE(model->connected()) << "no login";
    EXPECT_EQ(permissionRequests, 0) << "the request writes a setting";
    EXPECT_TRUE(settings.allKeys().isEmpty());
}

TEST_F(AppModelTest, FilteredItemsSearchTitlesCaseInsensitivelyNewestFirstAndStable) {
    LocalRecording a = record("Планёрка отдела", 100);
    LocalRecording b = record("Созвон с клиентом", 300);
    LocalRecording c = record("ПЛАНЁРКА продаж", 100);
    c.stage = "созвон";
    LocalStore::save({a, b, c});
    auto model = makeModel();

    auto titles = [&] {
        std::vector<std::string> out;
        for (const auto& item : model->filteredItems())
            out.push_back(item.title);
        return out;
    };
    EXPECT_EQ(titles(),
              (std::vector<std::string>{"Созвон с клиентом", "Планёрка отдела", "ПЛАНЁРКА продаж"}));
    model->setSearch(QStringLiteral("планёрка"));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Планёрка отдела", "ПЛАНЁРКА продаж"}));
    model->setSearch(QStringLiteral("созвон")); // the stage of c does not count
    EXPECT_EQ(titles(), (std::vector<std::string>{"Созвон с клиентом"}));
    model->setSearch(QStringLiteral(" созвон")); // not trimmed
    EXPECT_TRUE(titles().empty());
}

TEST_F(AppModelTest, StatusTitleAndHintFollowThePrecedence) {
    auto model = makeModel();
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Готов к записи"));
    EXPECT_TRUE(model->recordingHint()); // shown with auto-start off too

    model->setAutoEnabled(true);
    probe->next.probeAvailable = false;
    probe->next.active = true;
    tickAfter(*model);
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Автостарт недоступен · можно записать вручную"));
    probe->call(true);
    tickAfter(*model);
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Обнаружен звуковой звонок"));
    probe->call(false);
    tickAfter(*model);
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Ожидаю звонок · можно записать вручную"));

    microphone = false;
    tickAfter(*model);
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Нужен доступ к звуку"));
    EXPECT_FALSE(model->recordingHint());
    microphone = true;

    script.stopGate.closed = true;
    test::runTask(model->recordNow());
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Записываю разговор"));
    EXPECT_FALSE(model->recordingHint());
    auto stopping = model->stopRecording(true);
    EXPECT_TRUE(model->finalizing());
    EXPECT_EQ(model->statusTitle(), QStringLiteral("Сохраняю разговор"));
    script.stopGate.open();
    test::runTask(std::move(stopping));
    EXPECT_FALSE(model->finalizing());
}

TEST_F(AppModelTest, AutomaticRecordingStartsAfterACallAndStopsAfterItEnds) {
    auto model = makeModel();
    model->setAutoEnabled(true);
    EXPECT_TRUE(settings.value(QStringLiteral("automaticCallRecording")).toBool());

    probe->call(true);
    tickAfter(*model); // candidate
    tickAfter(*model); // 0.8 s < 1.2 s
    EXPECT_FALSE(model->recordingID());
    tickAfter(*model); // 1.6 s: start
    ASSERT_TRUE(model->recordingID());
    ASSERT_EQ(model->items().size(), 1u);
    const LocalRecording& entry = model->items()[0];
    EXPECT_EQ(entry.status, "recording");
    EXPECT_EQ(entry.title, "Разговор · 8 марта, 09:05");
    EXPECT_EQ(entry.folderName, entry.id.toString());
    EXPECT_EQ(entry.source, "Звук компьютера + микрофон");
    EXPECT_EQ(model->selection(), entry.id);
    EXPECT_EQ(script.lastFolder, LocalStore::root() / "Recordings" / entry.id.toString());
    EXPECT_EQ(LocalStore::load().size(), 1u) << "saved as soon as the capture starts";

    tickAfter(*model);
    EXPECT_DOUBLE_EQ(model->recordingSeconds(), 0.8);

    probe->call(false);
    tickAfter(*model); // ending
    for (int i = 0; i < 3; ++i)
        tickAfter(*model);
    EXPECT_TRUE(model->recordingID()) << "2.4 s without a call is not enough";
    tickAfter(*model); // 3.2 s
    EXPECT_FALSE(model->recordingID());
    const LocalRecording finished = model->items()[0];
    EXPECT_EQ(finished.status, "waiting_login");
    EXPECT_EQ(finished.stage, "Войдите для расшифровки");
    EXPECT_EQ(finished.fileName, std::optional<std::string>("conversation.m4a"));
    EXPECT_EQ(finished.duration, std::optional<double>(12.5));
    EXPECT_EQ(LocalStore::load()[0].status, "waiting_login");
    EXPECT_EQ(model->recordingSeconds(), 0);
    EXPECT_EQ(model->lifecycle().phase, MeetingLifecycle::Phase::idle);
}

TEST_F(AppModelTest, AManualStopDuringACallSuppressesTheNextAutomaticStart) {
    auto model = makeModel();
    model->setAutoEnabled(true);
    probe->call(true);
    for (int i = 0; i < 3; ++i)
        tickAfter(*model);
    ASSERT_TRUE(model->recordingID());
    test::runTask(model->stopRecording(true));
    EXPECT_EQ(model->lifecycle().phase, MeetingLifecycle::Phase::suppressed);
    for (int i = 0; i < 10; ++i)
        tickAfter(*model);
    EXPECT_FALSE(model->recordingID());
    EXPECT_EQ(script.created, 1);

    // Three seconds of silence end the suppression; the next call records again.
    probe->call(false);
    for (int i = 0; i < 5; ++i)
        tickAfter(*model);
    probe->call(true);
    for (int i = 0; i < 3; ++i)
        tickAfter(*model);
    EXPECT_TRUE(model->recordingID());
    EXPECT_EQ(script.created, 2);
}

TEST_F(AppModelTest, ATickWhileAnotherWaitsChangesNothing) {
    auto model = makeModel();
    model->setAutoEnabled(true);
    probe->call(true);
    tickAfter(*model);
    tickAfter(*model);
    script.startGate.closed = true;
    clock->advance(0.8);
    auto waiting = model->tick(); // starts the recorder and waits
    EXPECT_TRUE(model->starting());
    const int probeCalls = probe->calls;
    probe->call(false);
    test::runTask(model->tick());
    EXPECT_EQ(probe->calls, probeCalls);
    EXPECT_TRUE(model->callActivity().active) << "the waiting tick's snapshot stays";
    script.startGate.open();
    test::runTask(std::move(waiting));
    EXPECT_TRUE(model->recordingID());
}

TEST_F(AppModelTest, WithAutoStartOffTheProbeIsNeverCalled) {
    auto model = makeModel();
    probe->call(true);
    for (int i = 0; i < 5; ++i)
        tickAfter(*model);
    EXPECT_EQ(probe->calls, 0);
    EXPECT_EQ(model->callActivity(), CallActivitySnapshot::idle());
    EXPECT_FALSE(model->recordingID());
}

TEST_F(AppModelTest, TheTwoHourLimitStopsAndItsNoticeWins) {
    auto model = makeModel();
    script.warnings = {
        QStringLiteral("Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера.")};
    test::runTask(model->recordNow());
    ASSERT_TRUE(model->recordingID());
    tickAfter(*model, 7199);
    EXPECT_TRUE(model->recordingID());
    tickAfter(*model, 1);
    EXPECT_FALSE(model->recordingID());
    EXPECT_EQ(model->message(), QStringLiteral("Достигнут лимит двух часов. Запись сохранена."));
    EXPECT_EQ(model->items()[0].status, "waiting_login");
}

TEST_F(AppModelTest, AFailedStartMarksTheEntryAndSuppresses) {
    auto model = makeModel();
    model->setAutoEnabled(true);
    script.startFailure = QStringLiteral("Не удалось получить доступ к системному звуку Mac.");
    probe->call(true);
    for (int i = 0; i < 3; ++i)
        tickAfter(*model);
    EXPECT_FALSE(model->recordingID());
    EXPECT_FALSE(model->starting());
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items()[0].status, "error");
    EXPECT_EQ(model->items()[0].stage, "Запись не началась");
    EXPECT_EQ(model->items()[0].error, std::optional<std::string>(script.startFailure->toStdString()));
    EXPECT_EQ(model->message(), script.startFailure);
    EXPECT_EQ(model->lifecycle().phase, MeetingLifecycle::Phase::suppressed);
    for (int i = 0; i < 5; ++i)
        tickAfter(*model);
    EXPECT_EQ(script.created, 1) << "no retry during the same call";
}

TEST_F(AppModelTest, RecordTwiceAndStopWhileFinalizingDoNothing) {
    auto model = makeModel();
    script.startGate.closed = true;
    auto first = model->recordNow();
    test::runTask(model->recordNow());
    script.startGate.open();
    test::runTask(std::move(first));
    EXPECT_EQ(script.created, 1);
    EXPECT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->lifecycle().phase, MeetingLifecycle::Phase::manualRecording);

    script.stopGate.closed = true;
    auto stopping = model->stopRecording(true);
    test::runTask(model->stopRecording(true));
    test::runTask(model->stopRecording(false));
    script.stopGate.open();
    test::runTask(std::move(stopping));
    EXPECT_EQ(script.stops, 1);
    EXPECT_FALSE(model->recordingID());
}

TEST_F(AppModelTest, StopOutcomesShowWarningsOrTheError) {
    auto model = makeModel();
    script.warnings = {QStringLiteral("Первое."), QStringLiteral("Второе.")};
    test::runTask(model->recordNow());
    test::runTask(model->stopRecording(true));
    EXPECT_EQ(model->message(), QStringLiteral("Первое. Второе."));

    script.warnings.clear();
    script.stopFailure = QStringLiteral("Запись короче двух секунд. Исходные дорожки сохранены.");
    test::runTask(model->recordNow());
    test::runTask(model->stopRecording(true));
    EXPECT_EQ(model->items()[0].status, "error");
    EXPECT_EQ(model->items()[0].stage, "Нужно проверить запись");
    EXPECT_EQ(model->message(), script.stopFailure);
    EXPECT_EQ(LocalStore::load()[0].status, "error");
    EXPECT_EQ(model->systemLevel(), 0.0f);
}

TEST_F(AppModelTest, MissingPermissionsOpenTheSettingsInsteadOfRecording) {
    auto model = makeModel();
    systemAudio = false;
    test::runTask(model->recordNow());
    EXPECT_EQ(model->message(), QString::fromUtf8(CaptureText::accessMissing));
    EXPECT_TRUE(model->settingsVisible());
    EXPECT_TRUE(model->items().empty());

    model->setAutoEnabled(true);
    EXPECT_FALSE(model->autoEnabled());
    EXPECT_EQ(
        model->message(),
        QStringLiteral("Разрешите микрофон и запись системного звука, затем включите автостарт звонков."));
}

TEST_F(AppModelTest, TurningAutoStartOffStopsOnlyAutomaticRecordings) {
    auto model = makeModel();
    model->setAutoEnabled(true);
    test::runTask(model->recordNow());
    model->setAutoEnabled(false);
    test::spin(std::chrono::milliseconds(50));
    EXPECT_TRUE(model->recordingID()) << "a manual recording goes on";
    test::runTask(model->stopRecording(true));

    model->setAutoEnabled(true);
    probe->call(true);
    for (int i = 0; i < 3 + 5; ++i)
        tickAfter(*model); // the suppression of the manual stop ends only after silence
    probe->call(false);
    for (int i = 0; i < 5; ++i)
        tickAfter(*model);
    probe->call(true);
    for (int i = 0; i < 3; ++i)
        tickAfter(*model);
    ASSERT_TRUE(model->recordingID());
    model->setAutoEnabled(false);
    test::spin(std::chrono::milliseconds(50));
    EXPECT_FALSE(model->recordingID());
}

TEST_F(AppModelTest, QuitFinishesTheRecordingBeforeAskingToEnd) {
    auto model = makeModel();
    QSignalSpy terminated(model.get(), &AppModel::terminationRequested);
    test::runTask(model->recordNow());
    test::runTask(model->quit());
    EXPECT_EQ(terminated.count(), 1);
    EXPECT_FALSE(model->recordingID());
    EXPECT_EQ(LocalStore::load()[0].status, "waiting_login");
}

TEST_F(AppModelTest, AFailedSaveBecomesTheNoticeAndKeepsTheList) {
    auto model = makeModel();
    // The search index is being written in the data folder meanwhile.
    ASSERT_TRUE(test::waitUntil([&] { return model->transcriptSearchIdle(); }));
    // A file where the data folder should be makes every save fail.
    const auto root = LocalStore::root();
    std::filesystem::remove_all(root);
    { std::ofstream(root) << "x"; }
    test::runTask(model->recordNow());
    test::runTask(model->stopRecording(true));
    EXPECT_EQ(
        model->message(),
        QStringLiteral("Не удалось сохранить библиотеку на этом компьютере. Проверьте свободное место."));
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items()[0].status, "waiting_login");
    std::filesystem::remove(root);
}

TEST_F(AppModelTest, RefreshPermissionsChoosesTheSentence) {
    bool testPasses = false;
    int tests = 0;
    auto model = [&] {
        AppModelServices services;
        services.clock = clock;
        services.settings = &settings;
        services.rememberSession = false;
        services.microphoneAuthorized = [this] { return microphone; };
        services.systemAudioPermission = [this] { return systemAudio; };
        services.verifySystemAudio = [&]() -> QCoro::Task<> {
            ++tests;
            systemAudio = testPasses;
            if (!testPasses)
                throw ParloError(CaptureText::noSystemAudio);
            co_return;
        };
        return std::make_unique<AppModel>(false, std::move(services));
    }();

    test::runTask(model->refreshPermissions(true));
    EXPECT_FALSE(model->audioPermission());
    EXPECT_EQ(
        model->permissionCheckMessage(),
        QStringLiteral(
            "Звук компьютера пока не записывается: звуковой сервер не отдал звук устройства вывода. "
            "Выберите устройство вывода в настройках звука системы, затем нажмите «Проверить доступ»."));
    EXPECT_EQ(model->message(), model->permissionCheckMessage());

    test::runTask(model->refreshPermissions(false));
    EXPECT_EQ(model->permissionCheckMessage(),
              QStringLiteral(
                  "Разрешите недостающий доступ в настройках системы, затем нажмите «Проверить доступ»."));

    testPasses = true;
    test::runTask(model->refreshPermissions(true));
    EXPECT_TRUE(model->audioPermission());
    EXPECT_FALSE(model->checkingPermissions());
    EXPECT_EQ(model->permissionCheckMessage(),
              QStringLiteral("Микрофон и системный звук доступны. Можно нажать «Записать»."));
    EXPECT_EQ(tests, 2);
}

TEST_F(AppModelTest, ImportCopiesTheFileIntoAFolderOfItsOwn) {
    auto model = makeModel();
    QTemporaryDir sources;
    const QString interview = sources.filePath(QStringLiteral("Interview.MP3"));
    { std::ofstream(interview.toStdString()) << std::string(1000, 'x'); }
    model->importAudioAt(interview);
    model->importAudioAt(interview);
    ASSERT_EQ(model->items().size(), 2u);
    const LocalRecording& first = model->items()[0];
    EXPECT_EQ(first.title, "Interview");
    EXPECT_EQ(first.fileName, std::optional<std::string>("import.mp3"));
    EXPECT_EQ(first.status, "waiting_login");
    EXPECT_EQ(first.stage, "Запись сохранена");
    EXPECT_EQ(first.source, "Импорт");
    ASSERT_TRUE(first.folderName);
    EXPECT_NE(*first.folderName, first.id.toString());
    EXPECT_TRUE(Uuid::parse(*first.folderName));
    EXPECT_NE(first.folderName, model->items()[1].folderName) << "two imports, two recordings";
    EXPECT_EQ(model->selection(), first.id);
    const auto copy = *LocalStore::media(first);
    EXPECT_EQ(std::filesystem::file_size(copy), 1000u);
    EXPECT_EQ(std::filesystem::status(copy).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(LocalStore::load().size(), 2u);
}

TEST_F(AppModelTest, ImportAcceptsExactlyNinetyMebibytes) {
    auto model = makeModel();
    QTemporaryDir sources;
    const std::string largest = sources.filePath(QStringLiteral("largest.wav")).toStdString();
    const std::string tooLarge = sources.filePath(QStringLiteral("too large.wav")).toStdString();
    { std::ofstream(largest) << ""; }
    { std::ofstream(tooLarge) << ""; }
    std::filesystem::resize_file(largest, 94'371'840); // sparse: no disk is spent
    std::filesystem::resize_file(tooLarge, 94'371'841);

    model->importAudioAt(QString::fromStdString(tooLarge));
    EXPECT_EQ(model->message(), QStringLiteral("Максимальный размер файла — 90 МБ."));
    EXPECT_TRUE(model->items().empty());
    model->importAudioAt(QString::fromStdString(largest));
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items()[0].fileName, std::optional<std::string>("import.wav"));

    // The path and the system's English text go to the log; the user reads one sentence.
    model->importAudioAt(sources.filePath(QStringLiteral("missing.ogg")));
    EXPECT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->message(), QStringLiteral("Выбранный файл не найден."));
}

TEST_F(AppModelTest, OurPlayerWaitsWhileWeRecord) {
    LocalStore::save({record("Прошлая встреча", 10)});
    auto model = makeModel();
    const Uuid id = model->items()[0].id;
    test::runTask(model->play(id, 5.0));
    ASSERT_TRUE(model->isPlaying());

    // The output's monitor would record our playback with the call: the start pauses it...
    test::runTask(model->recordNow());
    ASSERT_TRUE(model->recordingID());
    EXPECT_FALSE(player.playing);
    EXPECT_FALSE(model->isPlaying());
    // ...and playing is refused until the recording ends.
    test::runTask(model->play(id, 5.0));
    EXPECT_FALSE(player.playing);
    EXPECT_EQ(player.plays, 1);
    EXPECT_EQ(model->message(),
              QStringLiteral("Во время записи воспроизведение недоступно: всё, что звучит на "
                             "компьютере, попадает в запись."));
    test::runTask(model->stopRecording(true));
    test::runTask(model->play(id, 5.0));
    EXPECT_TRUE(model->isPlaying());

    // A recording that starts while the player still loads pauses it as soon as it plays.
    test::runTask(model->play(id, std::nullopt));
    player.gate.closed = true;
    auto loading = model->play(id, 1.0);
    test::runTask(model->recordNow());
    player.gate.open();
    test::runTask(std::move(loading));
    EXPECT_FALSE(player.playing);
    EXPECT_FALSE(model->isPlaying());
}
