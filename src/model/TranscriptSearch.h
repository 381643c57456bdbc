#pragma once

#include "library/LocalRecording.h"
#include "library/TranscriptIndex.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace parlo {

class SearchWorker;

// The search inside everything said: a TranscriptIndex owned by a worker thread of its own, since
// every index operation blocks on the file. The index is brought in line with the whole library
// once (rebuilt there when its file is missing, unreadable or outdated), then told only about
// recordings whose result came, changed or went. Queries wait for a pause in typing; an answer to a
// text that has since changed is dropped. Everything but the worker lives on the owner's thread.
class TranscriptSearch : public QObject {
    Q_OBJECT
public:
    // How long typing must pause before the text is searched.
    static constexpr int kPauseMs = 150;
    // At most this many lines are shown, and at most kLinesPerRecording of one recording, so that a
    // word said often in the newest conversation leaves room for the older ones.
    static constexpr int kMaxMatches = 20;
    static constexpr int kLinesPerRecording = 3;

    explicit TranscriptSearch(std::filesystem::path file, QObject* parent = nullptr);
    // Waits for the job under way (the first build can take seconds) and drops the others.
    ~TranscriptSearch() override;

    // The library as it is now; call after every change.
    void libraryChanged(const std::vector<LocalRecording>& items);
    // The text to search for; an empty text clears the matches at once.
    void setText(const QString& text);

    // The lines found for the current text, newest recording first, lines in order.
    const std::vector<TranscriptMatch>& matches() const { return matches_; }
    // No query or index change waits to be answered (tests and benchmarks wait for this).
    bool idle() const { return pending_ == 0 && !pause_.isActive(); }

Q_SIGNALS:
    void matchesChanged();
    // The index could not be opened or written; searching transcripts stays off until the next start.
    void failed(const QString& reason);

private:
    friend class SearchWorker;
    using Job = std::function<void(TranscriptIndex&)>;
    // Runs `job` on the worker; `done` runs afterwards on this object's thread.
    void post(Job job, std::function<void()> done = {});
    // Called on this object's thread when a job has run (`failure` says why it could not).
    void finished(const std::function<void()>& done, const std::optional<QString>& failure);
    void query();
    void setMatches(std::vector<TranscriptMatch> matches);

    QThread thread_;
    SearchWorker* worker_ = nullptr;
    QTimer pause_;
    QString text_;
    // Bumped by every new text; the worker skips queries for older ones.
    std::shared_ptr<std::atomic<quint64>> generation_ = std::make_shared<std::atomic<quint64>>(0);
    // The result each recording had when last sent to the index (results are immutable and shared:
    // a different pointer is a different result).
    std::map<Uuid, ResultPointer> indexed_;
    bool synchronized_ = false;
    bool broken_ = false;
    int pending_ = 0;
    std::vector<TranscriptMatch> matches_;
};

} // namespace parlo
