// Deleting, renaming and saving a recording, and finding it by what was said, through the model.
#include "library/DeletedMeetings.h"
#include "support/ModelFakes.h"
#include "ui/UiTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <fstream>
#include <sys/stat.h>

using namespace parlo;
using parlo::test::UiTest;
namespace fs = std::filesystem;

namespace {

// Points an environment variable elsewhere for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QString& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name))
            previous_ = qgetenv(name);
        qputenv(name, QFile::encodeName(value));
    }
    ~ScopedVariable() {
        if (previous_)
            qputenv(name_, *previous_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    std::optional<QByteArray> previous_;
};

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned modeOf(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

class RecordingManagementTest : public UiTest {
protected:
    // The desktop's trash lives under a home of the test's own, on the data folder's file system.
    QTemporaryDir home;
    ScopedVariable homeVariable{"HOME", home.path()};
    ScopedVariable dataHome{"XDG_DATA_HOME", home.filePath(QStringLiteral(".local/share"))};

    fs::path trash() const {
        return fs::path(home.filePath(QStringLiteral(".local/share/Trash")).toStdString());
    }

    // A recording with its audio on disk.
    LocalRecording withAudio(const std::string& title, double created, const std::string& fileName,
                             const std::string& audio) {
        LocalRecording r = recording(title, created);
        r.folderName = Uuid::random().toString();
        r.fileName = fileName;
        const fs::path folder = LocalStore::recordingsFolder() / *r.folderName;
        fs::create_directories(folder);
        std::ofstream(folder / fileName, std::ios::binary) << audio;
        return r;
    }
};

} // namespace

TEST_F(RecordingManagementTest, DeletingMovesTheFolderToTheTrashRemembersTheMeetingAndSelectsANeighbour) {
    LocalRecording newest = recording("Новая", 300);
    LocalRecording middle = withAudio("Средняя", 200, "conversation.m4a", "audio");
    middle.remoteID = "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a30";
    LocalRecording oldest = recording("Старая", 100);
    auto model = makeModel({oldest, middle, newest});
    const fs::path folder = LocalStore::recordingsFolder() / *middle.folderName;
    fs::create_directories(LocalStore::playbackAudio(*middle.remoteID).parent_path());
    std::ofstream(LocalStore::playbackAudio(*middle.remoteID)) << "downloaded";

    model->setSelection(middle.id);
    ASSERT_TRUE(model->deleteRecording(middle.id));
    EXPECT_EQ(model->selection(), std::optional<Uuid>(oldest.id)) << "the row below, newest first";
    EXPECT_EQ(model->items().size(), 2u);
    EXPECT_EQ(LocalStore::load().size(), 2u) << "saved";
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(bytesOf(trash() / "files" / *middle.folderName / "conversation.m4a"), "audio");
    EXPECT_TRUE(fs::exists(trash() / "info" / (*middle.folderName + ".trashinfo")));
    EXPECT_FALSE(fs::exists(LocalStore::playbackAudio(*middle.remoteID))) << "no copy of the audio is left";
    EXPECT_TRUE(DeletedMeetings::load().contains(*middle.remoteID));
    EXPECT_EQ(modeOf(DeletedMeetings::file()), 0600u);

    // Without a home trash to be made the folder stays where it is, and so does its entry.
    LocalRecording kept = withAudio("Остаётся", 50, "conversation.m4a", "audio");
    model->importAudioAt(QString::fromStdString(
        (LocalStore::recordingsFolder() / *kept.folderName / "conversation.m4a").string()));
    const LocalRecording imported = model->items().front();
    std::ofstream(home.filePath(QStringLiteral("blocked")).toStdString()) << "a file, not a folder";
    {
        ScopedVariable nowhere("XDG_DATA_HOME", home.filePath(QStringLiteral("blocked/share")));
        EXPECT_FALSE(model->deleteRecording(imported.id));
    }
    EXPECT_TRUE(model->message().value_or(QString()).startsWith(QStringLiteral("Не удалось переместить")));
    EXPECT_TRUE(fs::exists(LocalStore::recordingsFolder() / *imported.folderName / "import.m4a"));
    EXPECT_FALSE(fs::exists("files")) << "nothing lands in the working directory";
    ASSERT_TRUE(model->deleteRecording(imported.id));

    // The last row gives the selection to the one above; a recording without files just leaves.
    model->setSelection(oldest.id);
    ASSERT_TRUE(model->deleteRecording(oldest.id));
    EXPECT_EQ(model->selection(), std::optional<Uuid>(newest.id));
    ASSERT_TRUE(model->deleteRecording(newest.id));
    EXPECT_EQ(model->selection(), std::nullopt);
    EXPECT_TRUE(model->items().empty());
}

TEST_F(RecordingManagementTest, ARecordingBeingRecordedOrSavedCannotBeDeleted) {
    test::RecorderScript script;
    auto model = makeModel({}, [&script](AppModelServices& services) {
        services.recorderFactory = [&script] { return std::make_unique<test::FakeRecorder>(script); };
    });
    test::runTask(model->recordNow());
    const Uuid id = *model->recordingID();
    EXPECT_FALSE(model->deleteRecording(id));
    EXPECT_EQ(model->message(), QStringLiteral("Запись нельзя удалить, пока она идёт."));

    script.stopGate.closed = true;
    auto stopping = model->stopRecording(true);
    EXPECT_EQ(model->deletionRefusal(id), QStringLiteral("Запись нельзя удалить, пока она сохраняется."));
    EXPECT_FALSE(model->deleteRecording(id));
    EXPECT_EQ(model->items().size(), 1u);
    script.stopGate.open();
    test::runTask(std::move(stopping));

    EXPECT_EQ(model->deletionRefusal(id), std::nullopt);
    EXPECT_TRUE(model->deleteRecording(id));
}

TEST_F(RecordingManagementTest, RenamingTrimsTheTitleRefusesAnEmptyOrTooLongOneAndSavesIt) {
    LocalRecording r = recording("Разговор · 8 декабря, 14:05", 100);
    auto model = makeModel({r});
    EXPECT_TRUE(model->renameRecording(r.id, QStringLiteral("  Счёт для «Ромашки»\n ")));
    EXPECT_EQ(model->items()[0].title, "Счёт для «Ромашки»");
    EXPECT_EQ(LocalStore::load()[0].title, "Счёт для «Ромашки»");

    EXPECT_FALSE(model->renameRecording(r.id, QStringLiteral("   ")));
    EXPECT_EQ(model->message(), QStringLiteral("Название записи не может быть пустым."));
    EXPECT_TRUE(model->renameRecording(r.id, QString(160, QChar(u'я'))));
    EXPECT_FALSE(model->renameRecording(r.id, QString(161, QChar(u'я'))));
    EXPECT_EQ(model->message(), QStringLiteral("Название записи длиннее 160 символов."));
    EXPECT_EQ(LocalStore::load()[0].title, QString(160, QChar(u'я')).toStdString());
}

TEST_F(RecordingManagementTest, SavingTheAudioWritesAWholeCopyUnderTheTitleWithItsOwnExtension) {
    std::string audio(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i * 7919 % 251);
    LocalRecording imported = withAudio("Отчёт / март", 100, "import.mp3", audio);
    QTemporaryDir destination;
    QString proposed;
    auto model = makeModel({imported}, [&](AppModelServices& services) {
        services.chooseAudioDestination = [&](const QString& name) -> std::optional<QString> {
            proposed = name;
            return destination.filePath(name);
        };
    });
    test::runTask(model->saveAudio(imported.id));
    EXPECT_EQ(proposed, QStringLiteral("Отчёт - март.mp3"));
    EXPECT_EQ(bytesOf(fs::path(destination.filePath(proposed).toStdString())), audio);
    EXPECT_EQ(QDir(destination.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary left";
    EXPECT_FALSE(model->message());

    // A recording whose audio is gone says so instead of writing an empty file.
    fs::remove_all(LocalStore::recordingsFolder() / *imported.folderName);
    fs::remove(destination.filePath(proposed).toStdString());
    test::runTask(model->saveAudio(imported.id));
    EXPECT_TRUE(model->message());
    EXPECT_TRUE(QDir(destination.path()).isEmpty());
}

TEST_F(RecordingManagementTest, TheSearchFindsWhatWasSaidAndForgetsADeletedRecording) {
    LocalRecording r = recording("Планёрка", 100);
    r.result = sampleResult(); // "Начнём с релиза." at 12.5 s
    auto model = makeModel({r, recording("Без расшифровки", 200)});
    model->setSearch(QStringLiteral("релизом"));
    ASSERT_TRUE(test::waitUntil([&] { return !model->transcriptMatches().empty(); }));
    const TranscriptMatch& found = model->transcriptMatches().front();
    EXPECT_EQ(found.recording, r.id);
    EXPECT_EQ(found.segment, 0);
    EXPECT_EQ(found.start, 12.5);
    EXPECT_TRUE(fs::exists(LocalStore::root() / TranscriptIndex::kFileName));

    ASSERT_TRUE(model->deleteRecording(r.id));
    ASSERT_TRUE(test::waitUntil([&] { return model->transcriptSearchIdle(); }));
    EXPECT_TRUE(model->transcriptMatches().empty());
    model->setSearch(QString());
    EXPECT_TRUE(model->transcriptMatches().empty());
}
