#include "library/TranscriptIndex.h"
#include "library/SearchTokenizer.h"

#include "TranscriptCorpus.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

using namespace parlo;
namespace fs = std::filesystem;

namespace {

fs::path indexFile(const QTemporaryDir& dir) {
    return fs::path(dir.path().toStdString()) / TranscriptIndex::kFileName;
}

QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The recording and segment of every match, to compare with what was planted.
std::set<std::pair<Uuid, int>> places(const std::vector<TranscriptMatch>& matches) {
    std::set<std::pair<Uuid, int>> out;
    for (const auto& match : matches)
        out.insert({match.recording, match.segment});
    return out;
}

// A generated library indexed once per test program (each test runs in its own process).
class IndexedLibrary {
public:
    explicit IndexedLibrary(int recordings)
        : corpus(generateTranscriptCorpus(recordings))
        , index(indexFile(dir)) {
        const auto changes = index.synchronize(corpus.recordings);
        EXPECT_EQ(changes.added, recordings - recordings / 20); // every 20th has no result yet
    }

    // The forms planted in the segments a query finds.
    std::set<std::string> formsFound(const char* query) {
        std::map<std::pair<Uuid, int>, std::string> plantedAt;
        for (const auto& plant : corpus.planted)
            plantedAt[{corpus.recordings[plant.recording].id, static_cast<int>(plant.segment)}] = plant.form;
        std::set<std::string> forms;
        for (const auto& place : places(index.query(q(query), 1000)))
            if (auto found = plantedAt.find(place); found != plantedAt.end())
                forms.insert(found->second);
        return forms;
    }

    const PlantedWord& planted(const std::string& form) const {
        return *std::find_if(corpus.planted.begin(), corpus.planted.end(),
                             [&](const PlantedWord& plant) { return plant.form == form; });
    }

    TranscriptCorpus corpus;
    QTemporaryDir dir;
    TranscriptIndex index;
};

// Building a thousand transcripts costs seconds in a debug build: one test holds every check
// that needs that many.
TEST(TranscriptIndexLibraryTest, FindsAWordSaidOnceAmongAThousandTranscriptsWithItsTime) {
    IndexedLibrary library(1000);
    const PlantedWord& needle = library.planted(kNeedle);
    const LocalRecording& recording = library.corpus.recordings[needle.recording];
    const TranscriptSegment& segment = recording.result->value().segments[needle.segment];

    // Another case of the word, and the word half typed, find the same line.
    for (const char* typed : {"аккредитив", "Аккредитиву", "аккре"}) {
        const auto matches = library.index.query(q(typed), 50);
        ASSERT_EQ(matches.size(), 1u) << typed;
        const TranscriptMatch& match = matches.front();
        EXPECT_EQ(match.recording, recording.id);
        EXPECT_EQ(match.segment, static_cast<int>(needle.segment));
        EXPECT_EQ(match.start, segment.start);
        EXPECT_FALSE(match.inSummary);
        EXPECT_EQ(match.line, QString::fromStdString(segment.text));
        ASSERT_EQ(match.marks.size(), 1u) << typed;
        EXPECT_EQ(match.line.mid(match.marks[0].begin, match.marks[0].end - match.marks[0].begin),
                  q(kNeedle));
    }
}

class TranscriptIndexQueryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { library_ = new IndexedLibrary(100); }
    static void TearDownTestSuite() { delete library_; }
    static IndexedLibrary* library_;
};

IndexedLibrary* TranscriptIndexQueryTest::library_ = nullptr;

TEST_F(TranscriptIndexQueryTest, FindsTheFormsOfAWordAndNotItsLookAlikes) {
    const std::set<std::string> account = {"счёт",   "счет",  "счёта", "счета",   "счёту",  "счету", "счётом",
                                           "счетом", "счёте", "счете", "счетами", "счетов", "Счёт"};
    const std::set<std::string> contract = {"договор",  "договора",  "договору",   "договором", "договоре",
                                            "договоры", "договоров", "договорами", "Договор"};
    // Finished words match by stem (ё and е alike); "договорились" shares the stem of "договор".
    for (const char* word : {"счету", "счетами", "СЧЁТА"})
        EXPECT_EQ(library_->formsFound(word), account) << word;
    auto contractAndAgreed = contract;
    contractAndAgreed.insert({"договорились", "договориться"});
    for (const char* word : {"договора", "договорами", "договорились"})
        EXPECT_EQ(library_->formsFound(word), contractAndAgreed) << word;
    // The word as typed also matches longer words it begins: "счёт" -> "счётчик".
    auto accountAndCounter = account;
    accountAndCounter.insert({"счётчик", "счетчика"});
    EXPECT_EQ(library_->formsFound("счёт"), accountAndCounter);
}

TEST_F(TranscriptIndexQueryTest, AllWordsMustBeInOneLineNewestRecordingFirst) {
    const PlantedWord& plant = library_->planted("счетами");
    const auto& recordings = library_->corpus.recordings;
    const auto& recording = recordings[plant.recording];
    const std::string& text = recording.result->value().segments[plant.segment].text;
    const std::string firstWord = text.substr(0, text.find(' '));

    const auto matches = library_->index.query(QString::fromStdString(firstWord) + q(" счетами"), 1000);
    EXPECT_TRUE(places(matches).contains({recording.id, static_cast<int>(plant.segment)}));
    std::map<Uuid, double> created;
    for (const auto& r : recordings)
        created[r.id] = r.created;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        EXPECT_FALSE(matches[i].marks.empty()) << matches[i].line.toStdString();
        EXPECT_FALSE(matches[i].inSummary); // the planted words are never in summaries
        if (i > 0) {
            const auto& a = matches[i - 1];
            const auto& b = matches[i];
            EXPECT_TRUE(created[a.recording] > created[b.recording] ||
                        (a.recording == b.recording && a.segment < b.segment));
        }
    }
}

TEST_F(TranscriptIndexQueryTest, QueriesAreTextNotSyntax) {
    auto& index = library_->index;
    for (const char* text :
         {"", "   ", "\"счет", "счет* OR NEAR(", "-договор", "(", "счёт\"); DROP TABLE lines; --"})
        EXPECT_NO_THROW(index.query(q(text), 50)) << text;
    EXPECT_TRUE(index.query(q(" ,.!"), 50).empty());
    EXPECT_TRUE(index.query(q("счет"), 0).empty());
    EXPECT_EQ(index.query(q("\"счёт\""), 1000).size(), index.query(q("счёт"), 1000).size());
}

// A few recordings, one of them holding the word planted once.
class TranscriptIndexChangesTest : public ::testing::Test {
protected:
    TranscriptCorpus corpus = generateTranscriptCorpus(20);
    QTemporaryDir dir;

    const LocalRecording& needleRecording() const {
        for (const auto& plant : corpus.planted)
            if (plant.form == kNeedle)
                return corpus.recordings[plant.recording];
        throw std::logic_error("no needle");
    }
};

TEST_F(TranscriptIndexChangesTest, IsRebuiltWhenItsFileIsDeletedOrUnreadable) {
    {
        TranscriptIndex index(indexFile(dir));
        index.synchronize(corpus.recordings);
        EXPECT_EQ(index.query(q(kNeedle), 10).size(), 1u);
        const auto again = index.synchronize(corpus.recordings);
        EXPECT_EQ(again.added + again.replaced + again.removed, 0);
    }
    for (const char* damage : {"delete", "garbage"}) {
        if (std::string(damage) == "delete")
            fs::remove(indexFile(dir));
        else
            std::ofstream(indexFile(dir), std::ios::binary | std::ios::trunc) << "not a database at all";
        TranscriptIndex index(indexFile(dir));
        EXPECT_EQ(index.recordingCount(), 0) << damage;
        EXPECT_EQ(index.synchronize(corpus.recordings).added, 19) << damage;
        EXPECT_EQ(index.query(q(kNeedle), 10).size(), 1u) << damage;
    }
}

TEST_F(TranscriptIndexChangesTest, AddsReplacesAndRemovesOneRecording) {
    const LocalRecording& target = needleRecording();
    std::vector<LocalRecording> others;
    for (const auto& recording : corpus.recordings)
        if (recording.id != target.id)
            others.push_back(recording);

    TranscriptIndex index(indexFile(dir));
    index.synchronize(others);
    EXPECT_TRUE(index.query(q(kNeedle), 10).empty());

    EXPECT_TRUE(index.put(target));
    EXPECT_EQ(index.query(q(kNeedle), 10).size(), 1u);
    EXPECT_FALSE(index.put(target)) << "an unchanged recording is not indexed again";

    // A new result replaces the old lines, including a word no line had before.
    LocalRecording changed = target;
    MeetingResult result = target.result->value();
    for (auto& segment : result.segments)
        if (segment.text.find(kNeedle) != std::string::npos)
            segment.text = "Оплатили по инкассо вчера.";
    changed.result = std::make_shared<const StoredResult>(std::move(result));
    EXPECT_TRUE(index.put(changed));
    EXPECT_TRUE(index.query(q(kNeedle), 10).empty());
    ASSERT_EQ(index.query(q("инкассо"), 10).size(), 1u);
    EXPECT_EQ(index.query(q("инкассо"), 10).front().recording, target.id);

    index.remove(target.id);
    EXPECT_TRUE(index.query(q("инкассо"), 10).empty());
    EXPECT_EQ(index.recordingCount(), 18);

    // Synchronizing removes what left the library and adds what came.
    std::vector<LocalRecording> fewer(others.begin() + 1, others.end());
    fewer.push_back(changed);
    const auto changes = index.synchronize(fewer);
    EXPECT_EQ(changes.added, 1);
    EXPECT_EQ(changes.removed, others.front().result ? 1 : 0);
    EXPECT_EQ(index.query(q("инкассо"), 10).size(), 1u);
}

TEST_F(TranscriptIndexChangesTest, SummaryLinesPointAtTheSegmentTheyRestOn) {
    LocalRecording recording = corpus.recordings.front();
    MeetingResult result = recording.result->value();
    result.summary.tasks.push_back(
        {"Выставить факторинг клиенту", {result.segments[3].id}, "Анна", std::nullopt});
    recording.result = std::make_shared<const StoredResult>(std::move(result));

    TranscriptIndex index(indexFile(dir));
    index.put(recording);
    const auto matches = index.query(q("факторинга"), 10);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_TRUE(matches.front().inSummary);
    EXPECT_EQ(matches.front().segment, 3);
    EXPECT_EQ(matches.front().start, recording.result->value().segments[3].start);
}

TEST(SearchTokenizerTest, KeysIgnoreCaseYoAndStressMarks) {
    SearchTokenizer tokenizer;
    std::vector<std::string> keys;
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    // "Сче́т" carries a combining stress mark; "ещё" is written with ё; \xFF is not UTF-8.
    const std::string text = "Сче́т, СЧЁТ и ещё\xFFраз: Q3-отчёт";
    tokenizer.forEachWord(text, [&](const SearchTokenizer::Word& word) {
        keys.emplace_back(word.key);
        spans.emplace_back(word.begin, word.end);
    });
    EXPECT_EQ(keys, (std::vector<std::string>{"счет", "счет", "и", "еще", "раз", "q3", "отчет"}));
    EXPECT_EQ(text.substr(spans[0].first, spans[0].second - spans[0].first), "Сче́т");
    EXPECT_EQ(tokenizer.stem("счетами"), "счет");
}

} // namespace
