// Full-text search over the transcripts of a generated library: how long the whole index takes to
// build, how large it is, how long one keystroke's query takes while a word is typed letter by
// letter, and which Russian word forms a query finds. Measures the transcript index (SQLite FTS5
// with Snowball stems) and, when built with Xapian, Xapian with its Russian stemmer beside it.
//
//   transcript_search_bench [recordings=1000] [fts5]     (fts5: leave Xapian out)
//
// Targets: a keystroke's query under 16 ms, the whole build under 10 s.
#include "TranscriptCorpus.h"
#include "library/SearchTokenizer.h"
#include "library/TranscriptIndex.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#ifdef PARLO_BENCH_XAPIAN
#include <xapian.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <time.h>

using namespace parlo;
using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double milliseconds(SteadyClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::uint64_t folderSize(const fs::path& path) {
    std::uint64_t total = 0;
    if (fs::is_regular_file(path))
        return fs::file_size(path);
    for (const auto& entry : fs::recursive_directory_iterator(path))
        if (entry.is_regular_file())
            total += entry.file_size();
    return total;
}

// A found line: which recording (by its place in the corpus) and which segment.
struct Hit {
    std::size_t recording;
    int segment;
    friend auto operator<=>(const Hit&, const Hit&) = default;
};

// One search engine as the benchmark drives it.
class Engine {
public:
    virtual ~Engine() = default;
    virtual const char* name() const = 0;
    virtual fs::path location() const = 0;
    virtual void build(const std::vector<LocalRecording>& library) = 0;
    virtual std::vector<Hit> query(const QString& text, int limit) = 0;
    virtual void put(const LocalRecording& recording) = 0;
    virtual void remove(const Uuid& id) = 0;
};

class Fts5Engine : public Engine {
public:
    Fts5Engine(const fs::path& folder, const std::map<Uuid, std::size_t>& places)
        : file_(folder / TranscriptIndex::kFileName)
        , places_(places) {}
    const char* name() const override { return "SQLite FTS5 + Snowball"; }
    fs::path location() const override { return file_; }
    void build(const std::vector<LocalRecording>& library) override {
        index_ = std::make_unique<TranscriptIndex>(file_);
        index_->synchronize(library);
    }
    std::vector<Hit> query(const QString& text, int limit) override {
        std::vector<Hit> hits;
        for (const auto& match : index_->query(text, limit))
            if (!match.inSummary)
                hits.push_back({places_.at(match.recording), match.segment});
        return hits;
    }
    void put(const LocalRecording& recording) override { index_->put(recording); }
    void remove(const Uuid& id) override { index_->remove(id); }

private:
    fs::path file_;
    const std::map<Uuid, std::size_t>& places_;
    std::unique_ptr<TranscriptIndex> index_;
};

#ifdef PARLO_BENCH_XAPIAN
// Xapian the way its documentation sets it up for search as you type: terms and "Z"-prefixed
// Russian stems (STEM_SOME), the last word of a query partial (its stem or the 100 most frequent
// words it begins), one document per segment, newest first by document id. Xapian's Russian
// stemmer leaves words with ё alone ("счёта" stays "счёта"), so text is folded to lower case with
// ё as е first, as the FTS5 index does.
class XapianEngine : public Engine {
public:
    XapianEngine(const fs::path& folder, const std::map<Uuid, std::size_t>& places)
        : folder_(folder / "xapian")
        , places_(places) {}
    const char* name() const override { return "Xapian + its Russian stemmer"; }
    fs::path location() const override { return folder_; }

    void build(const std::vector<LocalRecording>& library) override {
        db_ = Xapian::WritableDatabase(folder_.string(), Xapian::DB_CREATE_OR_OVERWRITE);
        for (const auto& recording : library)
            add(recording);
        db_.commit();
    }
    std::vector<Hit> query(const QString& text, int limit) override {
        Xapian::QueryParser parser;
        parser.set_stemmer(stem_);
        parser.set_stemming_strategy(Xapian::QueryParser::STEM_SOME);
        parser.set_database(db_);
        parser.set_default_op(Xapian::Query::OP_AND);
        const QByteArray utf8 = text.toUtf8();
        const Xapian::Query query = parser.parse_query(
            folded(std::string_view(utf8.constData(), utf8.size())), Xapian::QueryParser::FLAG_PARTIAL);
        Xapian::Enquire enquire(db_);
        enquire.set_query(query);
        enquire.set_weighting_scheme(Xapian::BoolWeight());
        enquire.set_docid_order(Xapian::Enquire::DESCENDING);
        std::vector<Hit> hits;
        const Xapian::MSet found = enquire.get_mset(0, static_cast<Xapian::doccount>(limit));
        for (auto it = found.begin(); it != found.end(); ++it) {
            const Xapian::Document document = it.get_document();
            const auto id = Uuid::parse(document.get_value(0));
            hits.push_back({places_.at(*id), std::stoi(document.get_value(1))});
        }
        return hits;
    }
    void put(const LocalRecording& recording) override {
        remove(recording.id);
        add(recording);
        db_.commit();
    }
    void remove(const Uuid& id) override {
        std::string term = "Q";
        term += id.toString();
        db_.delete_document(term);
        db_.commit();
    }

private:
    std::string folded(std::string_view text) {
        std::string out;
        words_.forEachWord(text, [&](const SearchTokenizer::Word& word) {
            if (!out.empty())
                out += ' ';
            out += word.key; // no space after the last word: Xapian reads that as a finished word
        });
        return out;
    }
    void add(const LocalRecording& recording) {
        if (!recording.result)
            return;
        Xapian::TermGenerator generator;
        generator.set_stemmer(stem_);
        generator.set_stemming_strategy(Xapian::TermGenerator::STEM_SOME);
        const std::string id = recording.id.toString();
        std::string idTerm = "Q";
        idTerm += id;
        const auto& segments = recording.result->value().segments;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            Xapian::Document document;
            generator.set_document(document);
            generator.index_text_without_positions(folded(segments[i].text));
            document.set_data(segments[i].text);
            document.add_boolean_term(idTerm);
            document.add_value(0, id);
            document.add_value(1, std::to_string(i));
            document.add_value(2, std::to_string(segments[i].start));
            db_.add_document(document);
        }
    }

    fs::path folder_;
    const std::map<Uuid, std::size_t>& places_;
    Xapian::WritableDatabase db_;
    Xapian::Stem stem_{"russian"};
    SearchTokenizer words_;
};
#endif

// What a person types, one keystroke at a time.
const char* const kTyped[] = {"счёт",       "договор",          "договорились", "проект",      "аккредитив",
                              "обсуждение", "счёт по договору", "новая версия", "презентация", "переговоры",
                              "с"};

std::vector<QString> keystrokes() {
    std::vector<QString> queries;
    for (const char* typed : kTyped) {
        const QString text = QString::fromUtf8(typed);
        for (qsizetype n = 1; n <= text.size(); ++n)
            if (!text.at(n - 1).isSpace())
                queries.push_back(text.left(n));
    }
    return queries;
}

double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Percentiles {
    double median = 0, p99 = 0, worst = 0;
};

Percentiles percentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)],
            samples.back()};
}

// Wall time and the thread's CPU time of each keystroke's query (the CPU time is what a query
// costs on a machine that other work does not share). The slowest queries by their median CPU
// time tell a slow kind of query from a moment the machine was busy.
void measureKeystrokes(Engine& engine, int rounds, int limit) {
    std::vector<double> wall, cpu;
    std::map<QString, std::vector<double>> byQuery;
    const auto queries = keystrokes();
    for (int round = 0; round < rounds; ++round)
        for (const auto& text : queries) {
            const auto start = SteadyClock::now();
            const double cpuStart = threadCpuMilliseconds();
            const auto hits = engine.query(text, limit);
            cpu.push_back(threadCpuMilliseconds() - cpuStart);
            wall.push_back(milliseconds(SteadyClock::now() - start));
            byQuery[text].push_back(cpu.back());
        }
    const Percentiles w = percentiles(wall), c = percentiles(cpu);
    std::printf("  keystroke query (%zu queries, limit %d):\n"
                "    wall: median %.3f ms, p99 %.3f ms, worst %.3f ms\n"
                "    CPU:  median %.3f ms, p99 %.3f ms, worst %.3f ms\n",
                wall.size(), limit, w.median, w.p99, w.worst, c.median, c.p99, c.worst);
    std::vector<std::pair<double, QString>> slowest;
    for (const auto& [text, samples] : byQuery)
        slowest.push_back({percentiles(samples).median, text});
    std::sort(slowest.rbegin(), slowest.rend());
    std::printf("    slowest by median CPU:");
    for (std::size_t i = 0; i < 6 && i < slowest.size(); ++i)
        std::printf(" \"%s\" %.2f ms%s", slowest[i].second.toUtf8().constData(), slowest[i].first,
                    i < 5 ? "," : "\n");
}

// Which planted forms a finished word finds, and how many found lines hold no planted form.
void reportForms(Engine& engine, const TranscriptCorpus& corpus) {
    std::map<std::pair<std::size_t, int>, std::string> plantedAt;
    for (const auto& plant : corpus.planted)
        plantedAt[{plant.recording, static_cast<int>(plant.segment)}] = plant.form;
    const char* const queries[] = {"счёт",    "счет",     "счета",    "счету",        "счетами",
                                   "договор", "договора", "договору", "договорились", "аккредитив"};
    for (const char* text : queries) {
        std::set<std::string> forms;
        int other = 0;
        for (const auto& hit : engine.query(QString::fromUtf8(text), 100000)) {
            auto found = plantedAt.find({hit.recording, hit.segment});
            if (found != plantedAt.end())
                forms.insert(found->second);
            else
                ++other;
        }
        std::string list;
        for (const auto& form : forms)
            list += (list.empty() ? "" : " ") + form;
        std::printf("    %-13s -> %s%s\n", text, list.c_str(),
                    other ? (" (+" + std::to_string(other) + " lines without a planted form)").c_str() : "");
    }
}

void run(Engine& engine, const TranscriptCorpus& corpus) {
    std::printf("\n== %s\n", engine.name());
    const auto start = SteadyClock::now();
    const std::clock_t cpuStart = std::clock();
    engine.build(corpus.recordings);
    const double buildMs = milliseconds(SteadyClock::now() - start);
    std::printf("  full build:        %8.0f ms (%.0f ms of CPU)   size %.1f MB\n", buildMs,
                1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC,
                static_cast<double>(folderSize(engine.location())) / 1e6);

    engine.query(QStringLiteral("разогрев"), 50);
    measureKeystrokes(engine, 20, 50);
    // What the window's search asks for each pause in typing (TranscriptSearch).
    measureKeystrokes(engine, 10, 200);

    // The newest recording arrives again (a new result) and then leaves.
    const LocalRecording& newest = corpus.recordings[corpus.recordings.size() - 2];
    engine.remove(newest.id);
    auto t = SteadyClock::now();
    engine.put(newest);
    const double putMs = milliseconds(SteadyClock::now() - t);
    t = SteadyClock::now();
    engine.remove(newest.id);
    const double removeMs = milliseconds(SteadyClock::now() - t);
    engine.put(newest);
    std::printf("  one recording:     add %.1f ms, remove %.1f ms (%zu segments)\n", putMs, removeMs,
                newest.result->value().segments.size());

    std::printf("  forms found by a finished word (planted forms; each also in other segments):\n");
    reportForms(engine, corpus);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;

    auto start = SteadyClock::now();
    const TranscriptCorpus corpus = generateTranscriptCorpus(count);
    std::size_t segments = 0, words = 0;
    std::set<std::string> distinct;
    SearchTokenizer tokenizer;
    for (const auto& recording : corpus.recordings)
        if (recording.result)
            for (const auto& segment : recording.result->value().segments) {
                ++segments;
                tokenizer.forEachWord(segment.text, [&](const SearchTokenizer::Word& word) {
                    ++words;
                    distinct.emplace(word.key);
                });
            }
    std::printf(
        "library: %d recordings, %zu segments, %zu words, %zu distinct words (generated in %.0f ms)\n", count,
        segments, words, distinct.size(), milliseconds(SteadyClock::now() - start));

    std::map<Uuid, std::size_t> places;
    for (std::size_t i = 0; i < corpus.recordings.size(); ++i)
        places[corpus.recordings[i].id] = i;

    QTemporaryDir folder;
    const fs::path root = folder.path().toStdString();
    auto fts5 = std::make_unique<Fts5Engine>(root, places);
    run(*fts5, corpus);
    fts5.reset();

    // Opening a current index and checking every recording's fingerprint, as at every start.
    {
        start = SteadyClock::now();
        TranscriptIndex reopened(root / TranscriptIndex::kFileName);
        const auto changes = reopened.synchronize(corpus.recordings);
        std::printf("  open + staleness check of a current index: %.0f ms (%d changes)\n",
                    milliseconds(SteadyClock::now() - start),
                    changes.added + changes.replaced + changes.removed);
    }
#ifdef PARLO_BENCH_XAPIAN
    if (argc <= 2 || std::string_view(argv[2]) != "fts5") {
        XapianEngine xapian(root, places);
        run(xapian, corpus);
    }
#endif
    return 0;
}
