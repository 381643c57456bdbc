#include "library/LocalStore.h"

#include "core/Json.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace parlo;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// The files of the data folder whose names start with `prefix`.
std::vector<fs::path> filesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(prefix))
            found.push_back(entry.path());
    return found;
}

unsigned mode(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

MeetingResult sampleResult() {
    MeetingResult result;
    result.language = "ru";
    result.duration = 61.25;
    result.segments.push_back({1, 0.0, 1.5, "Спикер 1", "Добрый день, коллеги."});
    result.segments.push_back({2, 1.5, 3.0, "Спикер 2", "Начнём с \"отчёта\"\\планов."});
    result.summary.mode = "meeting";
    result.summary.tasks.push_back({"Подготовить план", {1, 2}, "Анна", std::nullopt});
    result.summary.note = "Заметка";
    result.warnings = {"Шум"};
    return result;
}

LocalRecording sampleRecording(const std::string& status = "done") {
    LocalRecording r;
    r.id = Uuid::random();
    r.title = "Разговор · 8 марта, 09:05";
    r.created = 794000000.125;
    r.folderName = r.id.toString();
    r.fileName = "conversation.m4a";
    r.status = status;
    r.remoteID = "0123456789abcdef0123456789abcdef";
    r.stage = "Готово";
    r.progress = 100;
    r.duration = 61.25;
    r.result = std::make_shared<const StoredResult>(sampleResult());
    r.source = "Звук Mac + микрофон";
    return r;
}

class LocalStoreTest : public ::testing::Test {
protected:
    test::ScopedDataDir dataDir;
    fs::path root() const { return dataDir.path(); }
};

} // namespace

TEST_F(LocalStoreTest, RootFollowsTheEnvironmentUnlessEmpty) {
    EXPECT_EQ(LocalStore::root(), root());
    qputenv("MELLO_PARLO_DATA_DIR", "");
    EXPECT_EQ(LocalStore::root().filename(), "MelloParlo");
    EXPECT_NE(LocalStore::root(), root());
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(QString::fromStdString(root().string())));
}

TEST_F(LocalStoreTest, SaveThenLoadRoundTripsEveryField) {
    LocalRecording full = sampleRecording();
    LocalRecording bare;
    bare.id = Uuid::random();
    bare.title = "Только на сервере";
    bare.created = -5.5;
    bare.status = "mystery";
    bare.stage = "Особый этап";
    bare.source = "Личный кабинет";
    LocalStore::save({full, bare});

    const std::string json = readFile(root() / "library.json");
    EXPECT_EQ(json.find('\n'), std::string::npos) << "written compactly";
    EXPECT_NE(json.find(full.id.toString()), std::string::npos) << "upper-case UUID";
    EXPECT_EQ(json.find("null"), std::string::npos) << "absent optionals are left out";

    std::vector<LocalRecording> loaded = LocalStore::load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0], full);
    EXPECT_EQ(loaded[1], bare);
    EXPECT_EQ(loaded[0].result->value(), sampleResult());
    EXPECT_FALSE(loaded[1].duration);
    EXPECT_FALSE(loaded[1].result);
    EXPECT_EQ(loaded[1].statusLabel(), "Особый этап");

    // Saving what was loaded writes the same document again.
    LocalStore::save(loaded);
    EXPECT_EQ(readFile(root() / "library.json"), json);
}

TEST_F(LocalStoreTest, DecodesDatesAndIgnoresUnknownKeys) {
    fs::create_directories(root());
    writeFile(root() / "library.json",
              R"([{"id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","title":"T","created":0,"status":"local",)"
              R"("stage":"S","progress":0,"source":"Импорт","future":{"x":[1]},"duration":null}])");
    auto loaded = LocalStore::load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].id.toString(), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(loaded[0].created, 0.0);
    EXPECT_FALSE(loaded[0].duration);
    EXPECT_FALSE(LocalStore::media(loaded[0]));
}

TEST_F(LocalStoreTest, LoadRepairsStatesThatCannotSurviveARestart) {
    LocalStore::save({sampleRecording("uploading"), sampleRecording("recording"), sampleRecording("queued")});
    auto loaded = LocalStore::load();
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].status, "local");
    EXPECT_EQ(loaded[1].status, "error");
    EXPECT_EQ(loaded[1].error, std::optional<std::string>("Приложение завершилось во время записи. "
                                                          "Исходные дорожки сохранены в папке разговора."));
    EXPECT_EQ(loaded[2].status, "queued");
    EXPECT_EQ(loaded[0].title, sampleRecording().title);
}

TEST_F(LocalStoreTest, ADamagedLibraryKeepsTheRecordsBeforeTheDamageAndIsKeptAside) {
    EXPECT_TRUE(LocalStore::load().empty()) << "no file at all";

    const std::vector<LocalRecording> whole = {sampleRecording(), sampleRecording(), sampleRecording()};
    LocalStore::save(whole);
    std::string json = readFile(root() / "library.json");
    // Cut in the middle of the third record, as a crash of the disk might leave it.
    const std::string third = "{\"id\":\"" + whole[2].id.toString() + "\"";
    json.resize(json.find(third) + third.size() + 40);
    writeFile(root() / "library.json", json);

    std::string keptAs;
    const std::vector<LocalRecording> loaded = LocalStore::load(&keptAs);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].id, whole[0].id);
    EXPECT_EQ(loaded[1].id, whole[1].id);
    EXPECT_FALSE(fs::exists(root() / "library.json"));
    const std::vector<fs::path> aside = filesStartingWith(root(), "library.unreadable-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(keptAs, aside[0].filename().string());
    EXPECT_EQ(readFile(aside[0]), json);
    EXPECT_EQ(mode(aside[0]), 0600u);

    // The next save writes what was kept without touching the set-aside file.
    LocalStore::save(loaded);
    EXPECT_EQ(LocalStore::load().size(), 2u);
    EXPECT_EQ(readFile(aside[0]), json);
}

TEST_F(LocalStoreTest, InvalidUtf8IsReplacedSoThatWhatIsWrittenBackIsValid) {
    LocalRecording record = sampleRecording();
    record.title = "Разговор TITLE";
    MeetingResult result = sampleResult();
    result.segments[0].text = "Слово SEGMENT";
    record.result = std::make_shared<const StoredResult>(result);
    LocalStore::save({record, sampleRecording()});
    std::string json = readFile(root() / "library.json");
    // A lone continuation byte, a truncated two-byte sequence and an escaped lone surrogate; in the
    // result, whose text is otherwise written back as it was read, a truncated sequence before an escape.
    json.replace(json.find("TITLE"), 5,
                 "\x80"
                 "a\xD0 \\ud800");
    json.replace(json.find("SEGMENT"), 7, "\xD0\\n\xE2\x82");
    writeFile(root() / "library.json", json);

    const std::vector<LocalRecording> loaded = LocalStore::load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_TRUE(isValidUtf8(loaded[0].title)) << loaded[0].title;
    EXPECT_TRUE(loaded[0].title.starts_with("Разговор ")) << loaded[0].title;
    EXPECT_NE(loaded[0].title.find("a"), std::string::npos);
    EXPECT_TRUE(isValidUtf8(loaded[0].result->json()));
    EXPECT_EQ(loaded[0].result->value().segments[0].text, "Слово \uFFFD\n\uFFFD\uFFFD");
    EXPECT_EQ(loaded[1].result->json(), sampleRecording().result->json())
        << "a sound result is kept as it was";
    LocalStore::save(loaded);
    EXPECT_TRUE(isValidUtf8(readFile(root() / "library.json")));
}

TEST_F(LocalStoreTest, LoadedResultsOutliveTheFileTheyWereReadFrom) {
    // Loaded results are read from the library file when asked for; the file is replaced by every
    // save and may be set aside or removed while they are in use.
    const std::vector<LocalRecording> saved = {sampleRecording(), sampleRecording()};
    LocalStore::save(saved);
    const std::string json = readFile(root() / "library.json");
    std::vector<LocalRecording> loaded = LocalStore::load();
    ASSERT_EQ(loaded.size(), 2u);

    MeetingResult changed = sampleResult();
    changed.language = "en";
    loaded[1].result = std::make_shared<const StoredResult>(changed);
    LocalStore::save(loaded);
    LocalStore::save({sampleRecording()});
    fs::remove(root() / "library.json");

    EXPECT_EQ(loaded[0].result->value(), sampleResult());
    EXPECT_EQ(loaded[1].result->value(), changed);
    LocalStore::save(loaded);
    const std::vector<LocalRecording> again = LocalStore::load();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0], saved[0]);
    EXPECT_EQ(again[1].result->value(), changed);
    loaded[1].result = saved[1].result;
    LocalStore::save(loaded);
    EXPECT_EQ(readFile(root() / "library.json"), json);
}

TEST_F(LocalStoreTest, NestingBeyondTheLimitIsSetAsideLikeAnyUndecodableFile) {
    LocalStore::save({sampleRecording()});
    const std::string saved = readFile(root() / "library.json");
    auto withUnknownKeyNested = [&](std::size_t levels) {
        std::string json = saved;
        json.insert(json.size() - 2, ",\"future\":" + std::string(levels, '[') + std::string(levels, ']'));
        return json;
    };
    writeFile(root() / "library.json", withUnknownKeyNested(200));
    EXPECT_EQ(LocalStore::load().size(), 1u) << "deep, but within the limit";

    // 80,000 levels once overflowed the stack at every start, before the file could be set aside.
    writeFile(root() / "library.json", withUnknownKeyNested(80'000));
    EXPECT_TRUE(LocalStore::load().empty());
    EXPECT_FALSE(fs::exists(root() / "library.json"));
    EXPECT_EQ(filesStartingWith(root(), "library.unreadable-").size(), 1u);
}

TEST_F(LocalStoreTest, ARecordThatLeadsOutsideItsFolderIsDroppedAndKeptAside) {
    const LocalRecording good = sampleRecording();
    std::vector<LocalRecording> bad(5, sampleRecording());
    bad[0].folderName = "../../outside";
    bad[1].fileName = "/etc/passwd";
    bad[2].folderName = "..";
    bad[3].fileName = std::string("a\0b", 3);
    bad[4].remoteID = "../x"; // it names the downloaded audio's file
    for (LocalRecording& record : bad)
        record.id = Uuid::random();
    LocalStore::save({bad[0], good, bad[1], bad[2], bad[3], bad[4]});

    const std::vector<LocalRecording> loaded = LocalStore::load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], good);
    const std::vector<fs::path> aside = filesStartingWith(root(), "library.rejected-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(mode(aside[0]), 0600u);
    std::vector<std::string> kept;
    EXPECT_TRUE(decodeLibrary(readFile(aside[0]), &kept).empty());
    ASSERT_EQ(kept.size(), bad.size());
    for (std::size_t i = 0; i < bad.size(); ++i)
        EXPECT_NE(kept[i].find(bad[i].id.toString()), std::string::npos) << i;

    // The library no longer holds them: the next start keeps nothing aside again.
    EXPECT_EQ(LocalStore::load().size(), 1u);
    EXPECT_EQ(filesStartingWith(root(), "library.rejected-").size(), 1u);
}

TEST_F(LocalStoreTest, FoldersAndFilesArePrivate) {
    fs::create_directories(root());
    fs::permissions(root(), fs::perms::all);
    LocalStore::save({sampleRecording()});
    EXPECT_EQ(mode(root()), 0700u);
    EXPECT_EQ(mode(root() / "Recordings"), 0700u);
    EXPECT_EQ(mode(root() / "library.json"), 0600u);

    // prepare() creates missing parents privately too.
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(QString::fromStdString((root() / "a" / "b").string())));
    LocalStore::prepare();
    EXPECT_EQ(mode(root() / "a"), 0700u);
    EXPECT_EQ(mode(root() / "a" / "b" / "Recordings"), 0700u);
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(QString::fromStdString(root().string())));
}

TEST_F(LocalStoreTest, AFailedSaveKeepsTheOldFileWhole) {
    LocalStore::save({sampleRecording()});
    const std::string before = readFile(root() / "library.json");

    std::vector<LocalRecording> large(200, sampleRecording());
    {
        test::ScopedFileSizeLimit limit(4096);
        EXPECT_THROW(LocalStore::save(large), std::exception);
    }

    EXPECT_EQ(readFile(root() / "library.json"), before);
    for (const auto& entry : fs::directory_iterator(root()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".library.json"))
            << "temporary left behind";
}

TEST_F(LocalStoreTest, MediaNeedsFolderAndFile) {
    LocalRecording r = sampleRecording();
    EXPECT_EQ(LocalStore::media(r), root() / "Recordings" / r.id.toString() / "conversation.m4a");
    r.fileName = "../library.json";
    EXPECT_FALSE(LocalStore::media(r)) << "only a plain name joins a path";
    r.fileName.reset();
    EXPECT_FALSE(LocalStore::media(r));
}

TEST(StatusLabel, KnownValuesAndFallback) {
    LocalRecording r;
    r.stage = "Этап";
    const std::pair<const char*, const char*> labels[] = {{"recording", "Запись"},
                                                          {"local", "Отправка"},
                                                          {"waiting_login", "Сохранено на компьютере"},
                                                          {"queued", "В очереди"},
                                                          {"uploading", "Отправка"},
                                                          {"processing", "Расшифровка"},
                                                          {"done", "Готово"},
                                                          {"error", "Нужна проверка"},
                                                          {"Done", "Этап"},
                                                          {"", "Этап"}};
    for (auto [status, label] : labels) {
        r.status = status;
        EXPECT_EQ(r.statusLabel(), label) << status;
    }
}

TEST(ClockLabel, Edges) {
    EXPECT_EQ(clockLabel(0), "00:00");
    EXPECT_EQ(clockLabel(59.9), "00:59");
    EXPECT_EQ(clockLabel(-5), "00:00");
    EXPECT_EQ(clockLabel(3599.99), "59:59");
    EXPECT_EQ(clockLabel(3600), "1:00:00");
    EXPECT_EQ(clockLabel(3725), "1:02:05");
    EXPECT_EQ(clockLabel(36000 * 3 + 1), "30:00:01");
    EXPECT_EQ(clockLabel(std::numeric_limits<double>::quiet_NaN()), "00:00");
    EXPECT_EQ(clockLabel(std::numeric_limits<double>::infinity()), "00:00");
}
