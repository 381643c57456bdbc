#include "model/TranscriptSearch.h"

#include "core/ParloError.h"

#include <system_error>

namespace parlo {

namespace {

// Enough lines for kMaxMatches spread over several recordings, few enough to answer within a
// keystroke (see transcript_search_bench).
constexpr int kQueryLimit = 200;

std::vector<TranscriptMatch> spreadOver(std::vector<TranscriptMatch> found) {
    std::vector<TranscriptMatch> kept;
    std::map<Uuid, int> perRecording;
    for (TranscriptMatch& match : found) {
        if (static_cast<int>(kept.size()) >= TranscriptSearch::kMaxMatches)
            break;
        if (++perRecording[match.recording] <= TranscriptSearch::kLinesPerRecording)
            kept.push_back(std::move(match));
    }
    return kept;
}

} // namespace

// Lives on the search thread and owns the index there. Opens it with the first job, so that the
// check of a stale or missing file and its rebuild happen off the owner's thread too.
class SearchWorker : public QObject {
    Q_OBJECT
public:
    SearchWorker(std::filesystem::path file, TranscriptSearch* owner)
        : file_(std::move(file))
        , owner_(owner) {}

    void perform(const TranscriptSearch::Job& job, std::function<void()> done) {
        std::optional<QString> failure;
        if (!closing.load() && !broken_) {
            try {
                if (!index_)
                    index_ = std::make_unique<TranscriptIndex>(file_);
                job(*index_);
            } catch (const std::exception& error) {
                // A damaged file is rebuilt when the index is next opened; until then there is none.
                index_.reset();
                broken_ = true;
                failure = describeError(error);
            }
        }
        // The owner outlives this call: its destructor waits for the thread before anything else.
        TranscriptSearch* owner = owner_;
        QMetaObject::invokeMethod(
            owner, [owner, done = std::move(done), failure] { owner->finished(done, failure); },
            Qt::QueuedConnection);
    }

    std::atomic<bool> closing{false};

private:
    std::filesystem::path file_;
    TranscriptSearch* owner_;
    std::unique_ptr<TranscriptIndex> index_;
    bool broken_ = false;
};

TranscriptSearch::TranscriptSearch(std::filesystem::path file, QObject* parent) : QObject(parent) {
    pause_.setSingleShot(true);
    pause_.setInterval(kPauseMs);
    connect(&pause_, &QTimer::timeout, this, &TranscriptSearch::query);
    worker_ = new SearchWorker(std::move(file), this);
    worker_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("transcript-search"));
    thread_.start(QThread::LowPriority);
}

TranscriptSearch::~TranscriptSearch() {
    worker_->closing.store(true);
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void TranscriptSearch::post(Job job, std::function<void()> done) {
    ++pending_;
    SearchWorker* worker = worker_;
    QMetaObject::invokeMethod(
        worker, [worker, job = std::move(job), done = std::move(done)] { worker->perform(job, done); },
        Qt::QueuedConnection);
}

void TranscriptSearch::finished(const std::function<void()>& done, const std::optional<QString>& failure) {
    --pending_;
    if (failure && !broken_) {
        broken_ = true;
        setMatches({});
        Q_EMIT failed(*failure);
    }
    if (done && !broken_)
        done();
}

void TranscriptSearch::libraryChanged(const std::vector<LocalRecording>& items) {
    if (broken_)
        return;
    const auto requery = [this] {
        if (!text_.isEmpty())
            query();
    };
    if (!synchronized_) {
        synchronized_ = true;
        for (const LocalRecording& item : items)
            indexed_.emplace(item.id, item.result);
        post([library = items](TranscriptIndex& index) { index.synchronize(library); }, requery);
        return;
    }
    std::vector<LocalRecording> changed;
    std::map<Uuid, ResultPointer> now;
    for (const LocalRecording& item : items) {
        now.emplace(item.id, item.result);
        const auto before = indexed_.find(item.id);
        if (before == indexed_.end() ? item.result != nullptr : before->second != item.result)
            changed.push_back(item);
    }
    std::vector<Uuid> gone;
    for (const auto& [id, result] : indexed_)
        if (result && !now.contains(id))
            gone.push_back(id);
    indexed_ = std::move(now);
    if (changed.empty() && gone.empty())
        return;
    post(
        [changed = std::move(changed), gone = std::move(gone)](TranscriptIndex& index) {
            for (const LocalRecording& recording : changed)
                index.put(recording);
            for (const Uuid& id : gone)
                index.remove(id);
        },
        requery);
}

void TranscriptSearch::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    generation_->fetch_add(1);
    if (text_.trimmed().isEmpty()) {
        pause_.stop();
        setMatches({});
        return;
    }
    // Typing goes on: the lines of the previous text stay until the new ones arrive.
    pause_.start();
}

void TranscriptSearch::query() {
    if (broken_ || text_.trimmed().isEmpty())
        return;
    const quint64 generation = generation_->load();
    auto found = std::make_shared<std::vector<TranscriptMatch>>();
    post(
        [text = text_, generation, latest = generation_, found](TranscriptIndex& index) {
            if (latest->load() != generation)
                return; // the text changed while this waited
            *found = spreadOver(index.query(text, kQueryLimit));
        },
        [this, generation, found] {
            if (generation_->load() == generation)
                setMatches(std::move(*found));
        });
}

void TranscriptSearch::setMatches(std::vector<TranscriptMatch> matches) {
    if (matches.empty() && matches_.empty())
        return;
    matches_ = std::move(matches);
    Q_EMIT matchesChanged();
}

} // namespace parlo

#include "TranscriptSearch.moc"
