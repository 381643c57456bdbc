#include "library/TranscriptIndex.h"

#include "core/ParloError.h"
#include "library/LibraryTexts.h"
#include "library/SearchTokenizer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <unordered_map>

#include <sys/stat.h>

namespace parlo {

namespace fs = std::filesystem;

namespace {

// Rows are keyed so that the newest recording comes first when read by descending rowid, which
// FTS5 does lazily: a query stops after `limit` rows instead of ranking every match (a one-letter
// prefix matches most lines). High bits: the recording's creation time in milliseconds; low bits:
// the line's position counted down from kLineMask.
constexpr int kLineBits = 22;
constexpr std::int64_t kLineMask = (std::int64_t{1} << kLineBits) - 1;
constexpr std::int64_t kMaxRecordingKey = (std::int64_t{1} << 40) - 1;

// Lines are indexed by the keys of their words (SearchTokenizer, registered under the name in the
// schema), and `words` maps every key ever indexed to its stem. A query word then becomes the keys
// with its stem (exact terms) or beginning with it: "счету" -> "счет" OR "счета" OR ... OR "счету"*.
// Keeping stems out of FTS5 halves the time to build it. Few keys with a beginning are listed
// one by one, which FTS5 reads lazily; more go to a prefix query, which FTS5 answers from its
// prefix indexes up to four characters and otherwise by merging the lists of every key with that
// beginning. Phrases are never searched, so no positions are kept (detail=none).
constexpr const char* kTokenizerName = "parlo_words";
constexpr const char* kSchema = R"(
    CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
    CREATE TABLE recordings(id TEXT PRIMARY KEY, key INTEGER NOT NULL UNIQUE, fingerprint INTEGER NOT NULL);
    CREATE TABLE words(word TEXT PRIMARY KEY, stem TEXT NOT NULL) WITHOUT ROWID;
    CREATE INDEX words_by_stem ON words(stem);
    CREATE VIRTUAL TABLE lines USING fts5(text, segment UNINDEXED, start UNINDEXED, summary UNINDEXED,
                                          tokenize='parlo_words', prefix='1 2 3 4', detail=none);
    CREATE VIRTUAL TABLE lines_vocabulary USING fts5vocab(lines, row);
)";
constexpr int kMaxListedKeys = 64;

// A file written by another layout or another stemmer is built anew: its stored stems would no
// longer meet the stems of queries.
std::string formatSignature(SearchTokenizer& words) {
    std::string signature = "1";
    for (const char* probe : {"счетами", "договорились", "проектов", "решения", "стали", "быстрее"}) {
        signature += ' ';
        signature += words.stem(probe);
    }
    return signature;
}

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = 14695981039346656037ULL) {
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    }
    return hash;
}

// What the index holds of a recording depends on its result and its creation time (the row keys).
std::int64_t fingerprint(const LocalRecording& recording) {
    std::uint64_t hash = fnv1a(recording.result->json());
    // Hashed at every start: the mapped library's pages need not stay resident for it.
    recording.result->releasePages();
    const auto created = static_cast<std::int64_t>(std::llround(recording.created * 1000.0));
    hash = fnv1a(std::string_view(reinterpret_cast<const char*>(&created), sizeof created), hash);
    return static_cast<std::int64_t>(hash);
}

std::int64_t preferredKey(const LocalRecording& recording) {
    const double ms = std::floor(recording.created * 1000.0);
    if (!(ms > 0))
        return 0;
    return ms >= static_cast<double>(kMaxRecordingKey) ? kMaxRecordingKey : static_cast<std::int64_t>(ms);
}

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

[[noreturn]] void fail(sqlite3* db, const char* what) {
    throw PlatformError(std::string(LibraryText::searchPrefix) + what + ": " +
                        (db ? sqlite3_errmsg(db) : LibraryText::searchNoMemory));
}

// One prepared statement, reset after every use.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr) != SQLITE_OK)
            fail(db, LibraryText::searchQueryNotPrepared);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(statement_, index, value));
        return *this;
    }
    Statement& bind(int index, double value) {
        check(sqlite3_bind_double(statement_, index, value));
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row to read; false when done (the statement is then reset).
    bool step() {
        const int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW)
            return true;
        sqlite3_reset(statement_);
        if (rc != SQLITE_DONE)
            fail(db_, LibraryText::searchDatabaseError);
        return false;
    }
    void run() {
        while (step()) {
        }
    }
    // Ends a read before its last row.
    void reset() { sqlite3_reset(statement_); }
    sqlite3_stmt* handle() const { return statement_; }

    std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    double real(int column) const { return sqlite3_column_double(statement_, column); }
    std::string_view text(int column) const {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return bytes ? std::string_view(bytes,
                                        static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                     : std::string_view();
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK)
            fail(db_, LibraryText::searchDatabaseError);
    }
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// The FTS5 side of SearchTokenizer: one instance per table opened by a connection.
namespace fts5 {

int create(void*, const char**, int, Fts5Tokenizer** out) {
    try {
        *out = reinterpret_cast<Fts5Tokenizer*>(new SearchTokenizer);
        return SQLITE_OK;
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

void destroy(Fts5Tokenizer* tokenizer) {
    delete reinterpret_cast<SearchTokenizer*>(tokenizer);
}

int tokenize(Fts5Tokenizer* tokenizer, void* context, int, const char* text, int size,
             int (*token)(void*, int, const char*, int, int, int)) {
    // No exception may cross into SQLite.
    try {
        auto& words = *reinterpret_cast<SearchTokenizer*>(tokenizer);
        const std::string_view view(text, static_cast<std::size_t>(size));
        std::size_t position = 0;
        SearchTokenizer::Word word;
        while (words.next(view, position, word)) {
            const int rc = token(context, 0, word.key.data(), static_cast<int>(word.key.size()),
                                 static_cast<int>(word.begin), static_cast<int>(word.end));
            if (rc != SQLITE_OK)
                return rc;
        }
        return SQLITE_OK;
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

fts5_tokenizer methods{create, destroy, tokenize};

void registerTokenizer(sqlite3* db) {
    fts5_api* api = nullptr;
    {
        Statement statement(db, "SELECT fts5(?1)");
        if (sqlite3_bind_pointer(statement.handle(), 1, &api, "fts5_api_ptr", nullptr) == SQLITE_OK)
            statement.run();
    }
    if (!api || api->xCreateTokenizer(api, kTokenizerName, nullptr, &methods, nullptr) != SQLITE_OK)
        throw PlatformError(std::string(LibraryText::searchPrefix) + LibraryText::searchNoFullText);
}

} // namespace fts5

void removeIndexFiles(const fs::path& file) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        fs::remove(fs::path(file.string() + suffix), ignored);
}

} // namespace

struct TranscriptIndex::State {
    fs::path file;
    sqlite3* db = nullptr;
    SearchTokenizer words;
    std::unordered_map<std::int64_t, Uuid> idByKey; // a cache for query(); cleared on every change

    ~State() { close(); }

    void open() {
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK) {
            const std::string reason = db ? sqlite3_errmsg(db) : LibraryText::searchNoMemory;
            close();
            throw PlatformError(std::string(LibraryText::searchPrefix) + LibraryText::searchNotOpened + " " +
                                file.string() + ": " + reason);
        }
        // Transcripts are as private as the library they come from.
        ::chmod(file.c_str(), 0600);
        fts5::registerTokenizer(db);
        registerStemFunction();
        // The index can always be rebuilt: durability matters less than the cost of syncing.
        exec("PRAGMA synchronous=NORMAL");
    }

    // parlo_stem(key): the stem of a key, for filling `words` inside SQL.
    void registerStemFunction() {
        const auto stem = [](sqlite3_context* context, int, sqlite3_value** values) {
            try {
                auto& tokenizer = *static_cast<SearchTokenizer*>(sqlite3_user_data(context));
                const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
                const std::string_view stemmed = tokenizer.stem(std::string_view(
                    text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
                sqlite3_result_text(context, stemmed.data(), static_cast<int>(stemmed.size()),
                                    SQLITE_TRANSIENT);
            } catch (...) {
                sqlite3_result_error_nomem(context);
            }
        };
        if (sqlite3_create_function_v2(db, "parlo_stem", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &words, stem,
                                       nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db, LibraryText::searchDatabaseNotPrepared);
    }

    void close() {
        statements.clear();
        sqlite3_close(db);
        db = nullptr;
    }

    void exec(const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db, LibraryText::searchDatabaseError);
    }

    // Statements are prepared once per connection.
    std::map<const char*, std::unique_ptr<Statement>> statements;
    Statement& sql(const char* text) {
        auto& statement = statements[text];
        if (!statement)
            statement = std::make_unique<Statement>(db, text);
        return *statement;
    }

    bool isCurrent(const std::string& signature) {
        sqlite3_stmt* statement = nullptr;
        bool current = false;
        if (sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE key = 'format'", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            current = value && signature == value;
        }
        sqlite3_finalize(statement);
        return current;
    }

    void create(const std::string& signature) {
        Transaction transaction(*this);
        exec(kSchema);
        // FTS5 gathers words in memory up to this size before writing them out; runs larger than
        // the default megabyte leave it less merging to do when the whole library is indexed.
        exec("INSERT INTO lines(lines, rank) VALUES('hashsize', 16777216)");
        sql("INSERT INTO meta(key, value) VALUES('format', ?)").bind(1, signature).run();
        transaction.commit();
    }

    struct Transaction {
        explicit Transaction(State& s) : state(s) { state.exec("BEGIN"); }
        ~Transaction() {
            if (committed)
                return;
            sqlite3_exec(state.db, "ROLLBACK", nullptr, nullptr, nullptr);
            state.idByKey.clear();
        }
        void commit() {
            state.exec("COMMIT");
            committed = true;
        }
        State& state;
        bool committed = false;
    };

    std::optional<std::int64_t> keyOf(const Uuid& id) {
        auto& query = sql("SELECT key FROM recordings WHERE id = ?").bind(1, id.toString());
        if (!query.step())
            return std::nullopt;
        const std::int64_t key = query.integer(0);
        query.reset();
        return key;
    }

    void removeRows(const Uuid& id) {
        const auto key = keyOf(id);
        if (!key)
            return;
        sql("DELETE FROM lines WHERE rowid BETWEEN ? AND ?")
            .bind(1, *key << kLineBits)
            .bind(2, (*key << kLineBits) | kLineMask)
            .run();
        sql("DELETE FROM recordings WHERE id = ?").bind(1, id.toString()).run();
        idByKey.clear();
    }

    // Two recordings made in the same millisecond (imports) take neighbouring keys.
    std::int64_t freeKey(std::int64_t key) {
        auto& taken = sql("SELECT 1 FROM recordings WHERE key = ?");
        for (;; key = key >= kMaxRecordingKey ? 0 : key + 1) {
            if (!taken.bind(1, key).step())
                return key;
            taken.reset();
        }
    }

    // Writes the lines of a recording that has a result and no rows (inside a transaction).
    void insertRows(const LocalRecording& recording, std::int64_t fingerprintValue) {
        const MeetingResult& result = recording.result->value();
        struct Line {
            const std::string* text;
            int segment;
            bool summary;
        };
        std::vector<Line> lines;
        for (std::size_t i = 0; i < result.segments.size(); ++i)
            lines.push_back({&result.segments[i].text, static_cast<int>(i), false});
        std::unordered_map<std::int64_t, int> segmentById;
        for (std::size_t i = 0; i < result.segments.size(); ++i)
            segmentById.emplace(result.segments[i].id, static_cast<int>(i));
        const auto firstEvidence = [&](const NoteItem& item) {
            for (auto id : item.evidenceIds)
                if (auto found = segmentById.find(id); found != segmentById.end())
                    return found->second;
            return -1;
        };
        for (const auto* items : {&result.summary.summary, &result.summary.decisions, &result.summary.tasks})
            for (const auto& item : *items)
                lines.push_back({&item.text, firstEvidence(item), true});
        if (result.summary.note)
            lines.push_back({&*result.summary.note, -1, true});
        // Millions of lines in one recording: the rest stays unsearchable.
        if (lines.size() > static_cast<std::size_t>(kLineMask) + 1)
            lines.resize(static_cast<std::size_t>(kLineMask) + 1);

        const std::int64_t key = freeKey(preferredKey(recording));
        auto& insert = sql("INSERT INTO lines(rowid, text, segment, start, summary) VALUES(?, ?, ?, ?, ?)");
        // In ascending rowid order, hence the last line first: FTS5 writes its pending words out
        // whenever a rowid is lower than the one before, and row by row that is ten times slower.
        for (auto line = lines.size(); line-- > 0;) {
            const int segment = lines[line].segment;
            insert.bind(1, (key << kLineBits) | (kLineMask - static_cast<std::int64_t>(line)))
                .bind(2, std::string_view(*lines[line].text))
                .bind(3, std::int64_t{segment})
                .bind(4, segment >= 0 ? result.segments[static_cast<std::size_t>(segment)].start : 0.0)
                .bind(5, std::int64_t{lines[line].summary})
                .run();
        }
        sql("INSERT INTO recordings(id, key, fingerprint) VALUES(?, ?, ?)")
            .bind(1, recording.id.toString())
            .bind(2, key)
            .bind(3, fingerprintValue)
            .run();
        idByKey.clear();
    }

    // Records the stems of the keys of one recording's lines. Keys of removed lines stay: a key
    // without lines costs a lookup that finds nothing.
    void addWords(const MeetingResult& result) {
        std::vector<std::string> keys;
        const auto collect = [&](const std::string& text) {
            words.forEachWord(text, [&](const SearchTokenizer::Word& word) { keys.emplace_back(word.key); });
        };
        for (const auto& segment : result.segments)
            collect(segment.text);
        for (const auto* items : {&result.summary.summary, &result.summary.decisions, &result.summary.tasks})
            for (const auto& item : *items)
                collect(item.text);
        if (result.summary.note)
            collect(*result.summary.note);
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        auto& insert = sql("INSERT OR IGNORE INTO words(word, stem) SELECT ?1, parlo_stem(?1)");
        for (const auto& key : keys)
            insert.bind(1, std::string_view(key)).run();
    }

    // The same for every key FTS5 holds: cheaper than word by word when much was indexed at once.
    void addAllWords() {
        exec("INSERT OR IGNORE INTO words(word, stem) SELECT term, parlo_stem(term) FROM lines_vocabulary");
    }

    std::optional<Uuid> idOfKey(std::int64_t key) {
        if (auto found = idByKey.find(key); found != idByKey.end())
            return found->second;
        auto& query = sql("SELECT id FROM recordings WHERE key = ?").bind(1, key);
        if (!query.step())
            return std::nullopt;
        auto id = Uuid::parse(query.text(0));
        query.reset();
        if (id)
            idByKey.emplace(key, *id);
        return id;
    }
};

TranscriptIndex::TranscriptIndex(const fs::path& file) : state_(std::make_unique<State>()) {
    state_->file = file;
    std::error_code error;
    if (file.has_parent_path())
        fs::create_directories(file.parent_path(), error);
    if (error)
        throw PlatformError(std::string(LibraryText::searchPrefix) + LibraryText::searchFolderNotCreated +
                            " " + file.parent_path().string() + ": " + error.message());

    const std::string signature = formatSignature(state_->words);
    bool current = false;
    try {
        state_->open();
        current = state_->isCurrent(signature);
    } catch (const PlatformError&) {
        // Not a database (damaged, or another file under this name): it is only derived data.
    }
    if (!current) {
        // Unreadable, from another version, or new: start from an empty file.
        state_->close();
        removeIndexFiles(file);
        state_->open();
        state_->create(signature);
    }
}

TranscriptIndex::~TranscriptIndex() = default;

TranscriptIndexChanges TranscriptIndex::synchronize(const std::vector<LocalRecording>& library) {
    std::map<std::string, std::int64_t, std::less<>> indexed;
    {
        auto& query = state_->sql("SELECT id, fingerprint FROM recordings");
        while (query.step())
            indexed.emplace(query.text(0), query.integer(1));
    }
    std::map<std::string, const LocalRecording*, std::less<>> wanted;
    for (const auto& recording : library)
        if (recording.result)
            wanted.emplace(recording.id.toString(), &recording);

    TranscriptIndexChanges changes;
    State::Transaction transaction(*state_);
    for (const auto& [id, fingerprintValue] : indexed)
        if (!wanted.contains(id)) {
            if (auto uuid = Uuid::parse(id))
                state_->removeRows(*uuid);
            ++changes.removed;
        }
    std::vector<std::pair<const LocalRecording*, std::int64_t>> toInsert;
    for (const auto& [id, recording] : wanted) {
        const std::int64_t value = fingerprint(*recording);
        const auto found = indexed.find(id);
        if (found != indexed.end() && found->second == value)
            continue;
        if (found != indexed.end()) {
            state_->removeRows(recording->id);
            ++changes.replaced;
        } else {
            ++changes.added;
        }
        toInsert.emplace_back(recording, value);
    }
    // Oldest first, so that rows arrive in ascending rowid order (see insertRows).
    std::stable_sort(toInsert.begin(), toInsert.end(), [](const auto& a, const auto& b) {
        return preferredKey(*a.first) < preferredKey(*b.first);
    });
    for (const auto& [recording, value] : toInsert)
        state_->insertRows(*recording, value);
    if (toInsert.size() == 1)
        state_->addWords(toInsert.front().first->result->value());
    else if (!toInsert.empty())
        state_->addAllWords();
    transaction.commit();
    return changes;
}

bool TranscriptIndex::put(const LocalRecording& recording) {
    if (!recording.result) {
        const bool present = state_->keyOf(recording.id).has_value();
        remove(recording.id);
        return present;
    }
    const std::int64_t value = fingerprint(recording);
    auto& query =
        state_->sql("SELECT fingerprint FROM recordings WHERE id = ?").bind(1, recording.id.toString());
    if (query.step()) {
        const bool current = query.integer(0) == value;
        query.reset();
        if (current)
            return false;
    }
    State::Transaction transaction(*state_);
    state_->removeRows(recording.id);
    state_->insertRows(recording, value);
    state_->addWords(recording.result->value());
    transaction.commit();
    return true;
}

void TranscriptIndex::remove(const Uuid& id) {
    State::Transaction transaction(*state_);
    state_->removeRows(id);
    transaction.commit();
}

int TranscriptIndex::recordingCount() {
    auto& query = state_->sql("SELECT count(*) FROM recordings");
    const int count = query.step() ? static_cast<int>(query.integer(0)) : 0;
    query.reset();
    return count;
}

std::vector<TranscriptMatch> TranscriptIndex::query(const QString& text, int limit) {
    // A search box's text; anything longer is not a query a person typed.
    constexpr qsizetype kMaxQueryCharacters = 200;
    constexpr std::size_t kMaxQueryWords = 8;
    struct QueryWord {
        std::string key;
        std::string stem;
    };
    std::vector<QueryWord> words;
    const QByteArray utf8 = text.left(kMaxQueryCharacters).toUtf8();
    state_->words.forEachWord(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                              [&](const SearchTokenizer::Word& word) {
                                  if (words.size() < kMaxQueryWords)
                                      words.push_back({std::string(word.key), {}});
                              });
    if (words.empty() || limit <= 0)
        return {};

    // Keys hold letters and digits only, so quoting them cannot break the expression.
    std::string expression;
    auto& sameStem = state_->sql("SELECT word FROM words WHERE stem = ?");
    auto& beginning = state_->sql("SELECT word FROM words WHERE word >= ? AND word < ? LIMIT ?");
    for (auto& word : words) {
        word.stem = state_->words.stem(word.key);
        std::set<std::string> terms;
        sameStem.bind(1, std::string_view(word.stem));
        while (sameStem.step())
            terms.emplace(sameStem.text(0));
        // Keys beginning with this one sort between it and it followed by 0xFF, a byte UTF-8 never has.
        beginning.bind(1, std::string_view(word.key))
            .bind(2, std::string_view(word.key + '\xFF'))
            .bind(3, std::int64_t{kMaxListedKeys + 1});
        std::vector<std::string> begun;
        while (beginning.step())
            begun.emplace_back(beginning.text(0));
        const bool listed = begun.size() <= static_cast<std::size_t>(kMaxListedKeys);
        if (listed)
            terms.insert(begun.begin(), begun.end());
        if (terms.empty() && listed)
            return {}; // a word no line has
        expression += expression.empty() ? "(" : " AND (";
        std::string alternatives = listed ? "" : '"' + word.key + "\"*";
        for (const auto& term : terms)
            alternatives += (alternatives.empty() ? "\"" : " OR \"") + term + '"';
        expression += alternatives + ')';
    }
    auto& rows = state_->sql("SELECT rowid, text, segment, start, summary FROM lines WHERE lines MATCH ? "
                             "ORDER BY rowid DESC LIMIT ?");
    rows.bind(1, std::string_view(expression)).bind(2, std::int64_t{std::min(limit, 1000)});

    struct Row {
        std::int64_t rowid;
        std::string text;
        int segment;
        double start;
        bool summary;
    };
    std::vector<Row> found;
    while (rows.step())
        found.push_back({rows.integer(0), std::string(rows.text(1)), static_cast<int>(rows.integer(2)),
                         rows.real(3), rows.integer(4) != 0});

    std::vector<TranscriptMatch> matches;
    for (const auto& row : found) {
        auto id = state_->idOfKey(row.rowid >> kLineBits);
        if (!id)
            continue;
        TranscriptMatch match;
        match.recording = *id;
        match.line = qstring(row.text);
        match.segment = row.segment;
        match.start = row.start;
        match.inSummary = row.summary;
        // Mark the words the index matched: a key beginning with a query word, or the same stem.
        state_->words.forEachWord(row.text, [&](const SearchTokenizer::Word& word) {
            const std::string key(word.key);
            bool hit = std::any_of(words.begin(), words.end(), [&](const QueryWord& queryWord) {
                return key.starts_with(queryWord.key);
            });
            if (!hit) {
                const std::string_view stem = state_->words.stem(key);
                hit = std::any_of(words.begin(), words.end(),
                                  [&](const QueryWord& queryWord) { return stem == queryWord.stem; });
            }
            if (hit)
                match.marks.push_back({qstring(std::string_view(row.text).substr(0, word.begin)).size(),
                                       qstring(std::string_view(row.text).substr(0, word.end)).size()});
        });
        matches.push_back(std::move(match));
    }
    return matches;
}

} // namespace parlo
