// Losing nothing: quitting while a start or a stop is under way, the raw tracks' life, the disk that
// fills up during a recording or its mix, the salvage at start-up and a library that cannot be read.
// The mixes here are real (FFmpeg); only the capture is scripted.
#include "AppModelFixture.h"

#include "capture/AudioCodec.h"
#include "capture/RecordingFinalizer.h"
#include "library/LocalStore.h"

#include <QSignalSpy>

#include <cmath>
#include <fstream>
#include <linux/capability.h>
#include <numbers>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace parlo;
using parlo::test::AppModelTest;
namespace fs = std::filesystem;

namespace {

// A raw track: `seconds` of a sine at 16 kHz, or an empty file.
void writeTrack(const fs::path& path, double hz, double seconds) {
    fs::create_directories(path.parent_path());
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 16000));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * 4));
}

void writeTracks(const fs::path& folder, double seconds) {
    writeTrack(folder / "system.pcm", 440, seconds);
    writeTrack(folder / "microphone.pcm", 1000, seconds);
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned mode(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Takes away this thread's power to read and write past file permissions, as a user who is not
// root has none (the tests may run as root). Capabilities belong to the thread: the model's loads
// and saves run on this one.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride() {
        ::syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutPermissionOverride() { ::syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

class AppModelRecoveryTest : public AppModelTest {
protected:
    // The library as it is on disk at the moment the model asks the application to end.
    std::vector<LocalRecording> onDiskAtTermination(AppModel& model, QCoro::Task<> quitting) {
        std::vector<LocalRecording> seen;
        QObject::connect(&model, &AppModel::terminationRequested, &model, [&] { seen = LocalStore::load(); });
        test::runTask(std::move(quitting));
        return seen;
    }

    fs::path folderOf(const LocalRecording& item) const {
        return LocalStore::recordingsFolder() / *item.folderName;
    }
};

} // namespace

TEST_F(AppModelRecoveryTest, QuitDuringAStopEndsOnlyOnceTheEntryIsFinalOnDisk) {
    auto model = makeModel();
    QSignalSpy terminated(model.get(), &AppModel::terminationRequested);
    test::runTask(model->recordNow());
    script.stopGate.closed = true;
    auto stopping = model->stopRecording(false); // the call ended: the mix runs
    auto quitting = model->quit();
    test::spin(std::chrono::milliseconds(100));
    EXPECT_EQ(terminated.count(), 0) << "the mix is still running";

    script.stopGate.open();
    const auto onDisk = onDiskAtTermination(*model, std::move(quitting));
    ASSERT_EQ(onDisk.size(), 1u);
    EXPECT_EQ(onDisk[0].status, "waiting_login");
    EXPECT_EQ(onDisk[0].fileName, std::optional<std::string>("conversation.m4a"));
    EXPECT_EQ(script.stops, 1);
    test::runTask(std::move(stopping));
}

TEST_F(AppModelRecoveryTest, QuitDuringAStartStopsTheNewCaptureAndStartsNoOther) {
    auto model = makeModel();
    model->setAutoEnabled(true);
    script.startGate.closed = true;
    auto starting = model->recordNow();
    auto quitting = model->quit();
    test::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(model->starting());

    script.startGate.open();
    const auto onDisk = onDiskAtTermination(*model, std::move(quitting));
    ASSERT_EQ(onDisk.size(), 1u);
    EXPECT_EQ(onDisk[0].status, "waiting_login");
    EXPECT_TRUE(onDisk[0].fileName);
    test::runTask(std::move(starting));

    // A call seen now, or a click, starts nothing any more.
    probe->call(true);
    for (int i = 0; i < 4; ++i)
        tickAfter(*model);
    test::runTask(model->recordNow());
    EXPECT_EQ(script.created, 1);
    EXPECT_FALSE(model->recordingID());
}

TEST_F(AppModelRecoveryTest, RawTracksGoOnlyOnceTheLibraryNamingTheMixIsSaved) {
    auto model = makeModel();
    script.rawTracks = true;
    test::runTask(model->recordNow());
    {
        // A library that cannot be written: the entry is finished in memory only.
        test::ScopedFileSizeLimit full(10);
        test::runTask(model->stopRecording(true));
    }
    EXPECT_EQ(
        model->message(),
        QStringLiteral("Не удалось сохранить библиотеку на этом компьютере. Проверьте свободное место."));
    const fs::path unsaved = script.lastFolder;
    EXPECT_TRUE(RecordingFinalizer::hasRawTracks(unsaved));

    // The next save names both mixed files: both recordings' tracks go.
    test::runTask(model->recordNow());
    test::runTask(model->stopRecording(true));
    EXPECT_FALSE(RecordingFinalizer::hasRawTracks(script.lastFolder));
    EXPECT_FALSE(RecordingFinalizer::hasRawTracks(unsaved));
    EXPECT_EQ(LocalStore::load().size(), 2u);
}

TEST_F(AppModelRecoveryTest, AFullDiskDuringARecordingWarnsAtOnceAndStaysOnTheEntry) {
    auto model = makeModel();
    QSignalSpy notified(model.get(), &AppModel::notificationRequested);
    test::runTask(model->recordNow());
    ASSERT_TRUE(script.current);
    // The audio queue reports from its own thread; the model hears it on the main thread.
    std::thread([recorder = script.current] {
        recorder->onWriteFailure(std::make_error_code(std::errc::no_space_on_device));
    }).join();
    ASSERT_TRUE(test::waitUntil([&] { return model->recordingWarning().has_value(); }));
    EXPECT_TRUE(model->recordingWarning()->startsWith(QStringLiteral("Диск заполнен")));
    ASSERT_EQ(notified.count(), 1);
    EXPECT_EQ(notified[0][0].toString(), *model->recordingWarning());
    EXPECT_TRUE(model->recordingID()) << "the capture goes on";

    script.current->onWriteFailure(std::make_error_code(std::errc::no_space_on_device));
    test::spin(std::chrono::milliseconds(50));
    EXPECT_EQ(notified.count(), 1) << "one warning per recording";

    test::runTask(model->stopRecording(true));
    const LocalRecording entry = LocalStore::load().at(0);
    EXPECT_EQ(entry.status, "waiting_login");
    EXPECT_EQ(entry.error, std::optional<std::string>(
                               "Во время записи диск был заполнен, и часть разговора не сохранилась."));
    EXPECT_EQ(model->message(), QString::fromStdString(*entry.error));
    EXPECT_FALSE(model->recordingWarning());
}

TEST_F(AppModelRecoveryTest, CapturesCutShortByTheProcessAreFinalizedAtStartUp) {
    codec = test::ffmpeg();
    auto interrupted = [&](const char* title) {
        LocalRecording r = record(title, 10);
        r.status = "recording";
        r.stage = "Запись разговора";
        r.folderName = r.id.toString();
        return r;
    };
    const LocalRecording whole = interrupted("С дорожками");
    const LocalRecording silent = interrupted("Пустые дорожки");
    const LocalRecording lost = interrupted("Без дорожек");
    LocalStore::save({whole, silent, lost});
    writeTracks(folderOf(whole), 3.0);
    writeTrack(folderOf(silent) / "system.pcm", 440, 0);
    writeTrack(folderOf(silent) / "microphone.pcm", 440, 0);

    auto model = makeModel();
    ASSERT_TRUE(test::waitUntil([&] {
        return model->message() ==
               QStringLiteral("Записи, прерванные при прошлом запуске, восстановлены: 1.");
    })) << model->message().value_or(QString()).toStdString();

    const auto onDisk = LocalStore::load();
    ASSERT_EQ(onDisk.size(), 3u);
    EXPECT_EQ(onDisk[0].status, "waiting_login");
    EXPECT_EQ(onDisk[0].fileName, std::optional<std::string>("conversation.m4a"));
    EXPECT_FALSE(onDisk[0].error);
    ASSERT_TRUE(onDisk[0].duration);
    EXPECT_NEAR(*onDisk[0].duration, 3.0, 0.01);
    EXPECT_GT(codec->fileFrames(*LocalStore::media(onDisk[0])), 3 * 16000 - 1024);
    EXPECT_EQ(mode(*LocalStore::media(onDisk[0])), 0600u);
    EXPECT_FALSE(RecordingFinalizer::hasRawTracks(folderOf(whole)));

    EXPECT_EQ(onDisk[1].status, "error");
    EXPECT_EQ(onDisk[1].error, std::optional<std::string>("Звук не поступил ни с компьютера, ни с микрофона. "
                                                          "Исходные файлы сохранены для проверки."));
    EXPECT_TRUE(RecordingFinalizer::hasRawTracks(folderOf(silent)));
    EXPECT_EQ(onDisk[2].status, "error");
    EXPECT_EQ(onDisk[2].error,
              std::optional<std::string>(
                  "Приложение завершилось во время записи, и звук этой записи не сохранился."));
    EXPECT_FALSE(model->canRestore(onDisk[2]));
}

TEST_F(AppModelRecoveryTest, AFullDiskDuringTheMixKeepsTheTracksUntilRestoreSucceeds) {
    codec = test::ffmpeg();
    auto model = makeModel();
    script.finish = [this](const fs::path& folder) { return RecordingFinalizer::finalize(folder, *codec); };
    test::runTask(model->recordNow());
    writeTracks(script.lastFolder, 10.0);
    const fs::path folder = script.lastFolder;
    {
        // Room for the library, not for the ten seconds of AAC (about 60 KB).
        test::ScopedFileSizeLimit full(30000);
        test::runTask(model->stopRecording(true));
    }
    const LocalRecording failed = LocalStore::load().at(0);
    EXPECT_EQ(failed.status, "error");
    ASSERT_TRUE(failed.error);
    EXPECT_TRUE(QString::fromStdString(*failed.error).startsWith(QStringLiteral("Диск заполнен")));
    EXPECT_EQ(model->message(), QString::fromStdString(*failed.error));
    EXPECT_FALSE(model->message()->contains(QLatin1Char('/'))) << "no path for the user";
    EXPECT_TRUE(fs::exists(folder / "system.pcm") && fs::exists(folder / "microphone.pcm"));
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_TRUE(entry.path().extension() == ".pcm") << "left behind: " << entry.path();
    EXPECT_TRUE(model->canRestore(failed));

    test::runTask(model->restoreRecording(failed.id));
    const LocalRecording restored = LocalStore::load().at(0);
    EXPECT_EQ(restored.status, "waiting_login");
    EXPECT_FALSE(restored.error);
    EXPECT_NEAR(restored.duration.value_or(0), 10.0, 0.01);
    EXPECT_EQ(mode(folder / "conversation.m4a"), 0600u);
    EXPECT_FALSE(RecordingFinalizer::hasRawTracks(folder));
    EXPECT_EQ(model->message(), QStringLiteral("Запись восстановлена."));
    EXPECT_FALSE(model->canRestore(restored));
}

TEST_F(AppModelRecoveryTest, ALibraryThatCannotBeReadIsNeverWrittenOver) {
    LocalStore::save({record("Первая", 10), record("Вторая", 20)});
    const std::string before = fileText(LocalStore::libraryFile());
    ::chmod(LocalStore::libraryFile().c_str(), 0);
    WithoutPermissionOverride asAUser;

    auto model = makeModel();
    EXPECT_TRUE(model->items().empty());
    const QString unreadable = QStringLiteral("Нет прав на чтение библиотеки записей, и пока её не удастся "
                                              "прочитать, Mello Parlo ничего в ней не изменит.");
    EXPECT_EQ(model->message(), unreadable);
    test::runTask(model->recordNow());
    test::runTask(model->stopRecording(true));
    EXPECT_EQ(model->message(), unreadable);
    ::chmod(LocalStore::libraryFile().c_str(), 0600);
    EXPECT_EQ(fileText(LocalStore::libraryFile()), before);

    // Once it reads again, the library holds both: what it had and what was recorded meanwhile.
    tickAfter(*model, 11);
    ASSERT_EQ(model->items().size(), 3u);
    EXPECT_EQ(model->items()[0].status, "waiting_login");
    EXPECT_EQ(LocalStore::load().size(), 3u);
}
