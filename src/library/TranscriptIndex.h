#pragma once

#include "library/LocalRecording.h"

#include <QString>

#include <filesystem>
#include <memory>
#include <vector>

namespace parlo {

// One line of a transcript or summary where every word searched for occurs.
struct TranscriptMatch {
    Uuid recording;
    // The transcript segment (index into the result's segments): the line itself, or for a summary
    // line the first segment it rests on; -1 when there is none.
    int segment = -1;
    double start = 0; // where `segment` starts, in seconds; 0 without a segment
    bool inSummary = false;
    QString line;
    // The words that matched, as [begin, end) in UTF-16 units of `line`.
    struct Mark {
        qsizetype begin = 0;
        qsizetype end = 0;
        friend bool operator==(const Mark&, const Mark&) = default;
    };
    std::vector<Mark> marks;
    friend bool operator==(const TranscriptMatch&, const TranscriptMatch&) = default;
};

struct TranscriptIndexChanges {
    int added = 0;
    int replaced = 0;
    int removed = 0;
};

// A full-text index of the transcripts and summaries of the library, in an SQLite FTS5 file. It is
// derived from the library and never its source of truth: a missing, unreadable or outdated file is
// built anew, and each recording's stored fingerprint tells whether it must be indexed again.
//
// Words match by the beginning of a word or by the Russian stem, ё and е alike: "счёт" finds
// "счета", "счету" and "счетами"; "счету" finds "счёт"; "сч" finds every word starting with it.
// Several words must all occur in the same line. Results come newest recording first, lines in order.
//
// Blocking file work: keep it off the main thread. Not thread-safe: one thread at a time (a worker
// thread that owns it). Every operation throws PlatformError when the file cannot be read or
// written; after such an error the caller may delete the file and open it again, which rebuilds it.
class TranscriptIndex {
public:
    // The file's usual name in the data folder.
    static constexpr const char* kFileName = "search-index.sqlite";

    // Opens the index at `file`, creating it and its folder when missing.
    explicit TranscriptIndex(const std::filesystem::path& file);
    ~TranscriptIndex();
    TranscriptIndex(const TranscriptIndex&) = delete;
    TranscriptIndex& operator=(const TranscriptIndex&) = delete;

    // Brings the index in line with the whole library: recordings gone from it (or without a result)
    // are removed, new or changed ones indexed; unchanged ones cost a hash of their result. A newly
    // created index gets everything here.
    TranscriptIndexChanges synchronize(const std::vector<LocalRecording>& library);

    // Indexes one recording, replacing what was indexed for it; one without a result is removed.
    // Does nothing when the indexed content is current. Returns whether anything changed.
    bool put(const LocalRecording& recording);
    void remove(const Uuid& id);

    // At most `limit` (and 1,000) lines matching every word of `text` (the last word is often
    // unfinished: each word also matches as the beginning of a longer one). Text without words
    // finds nothing; only the first 200 characters and 8 words count.
    std::vector<TranscriptMatch> query(const QString& text, int limit);

    // How many recordings are indexed.
    int recordingCount();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace parlo
