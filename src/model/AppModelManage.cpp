// What the user does with a recording once it exists: delete it, rename it, save a copy of its
// audio or the service's export of it, and find it by anything said in it.
#include "model/AppModel.h"
#include "model/UploadQueue.h"

#include "core/OffThread.h"
#include "core/ParloError.h"
#include "library/LocalStore.h"
#include "model/ModelTexts.h"
#include "model/TranscriptSearch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <system_error>

namespace parlo {

namespace {

namespace fs = std::filesystem;

// The longest file name proposed for a saved copy, in bytes (file systems allow 255).
constexpr int kLongestProposedName = 200;

// Moves a file or folder to the desktop's trash: the trash of its own file system, else the home
// trash, $XDG_DATA_HOME/Trash. When Qt cannot make the home trash (its parent folder missing) it
// takes the working directory for one and reports success: the parent is made first, and a move
// that did not land in a real trash is undone.
bool moveToTrash(const QString& path) {
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QString trashed;
    if (!QFile::moveToTrash(path, &trashed))
        return false;
    if (QFileInfo(trashed).isAbsolute())
        return true;
    const QString name = QFileInfo(trashed).fileName();
    QDir().rename(trashed, path);
    QFile::remove(QStringLiteral("info/") + name + QStringLiteral(".trashinfo"));
    for (const char* folder : {"files", "info"})
        QDir().rmdir(QString::fromLatin1(folder)); // only when left empty
    return false;
}

QString withoutControlCharacters(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return out;
}

// "<title><extension>" as a file name: no "/", not hidden, not longer than file systems allow.
QString proposedFileName(const QString& title, const QString& extension) {
    QString base = withoutControlCharacters(title);
    base.replace(QLatin1Char('/'), QLatin1Char('-'));
    base = base.trimmed();
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    if (base.isEmpty())
        base = QString::fromUtf8(ModelText::defaultFileName);
    while (base.toUtf8().size() + extension.toUtf8().size() > kLongestProposedName) {
        // Never half of a surrogate pair.
        base.chop(base.size() > 1 && base.back().isLowSurrogate() ? 2 : 1);
    }
    return base.trimmed() + extension;
}

// Copies `source` to `target` through a temporary file beside the target, renamed over it once the
// copy is whole: an interrupted copy never leaves half a file under the chosen name.
void copyThroughTemporary(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw PlatformError(QString::fromUtf8(ModelText::copyNotOpened).arg(source, in.errorString()));
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        throw PlatformError(QString::fromUtf8(ModelText::copyNotSaved).arg(target, out.errorString()));
    for (;;) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            if (!in.atEnd())
                throw PlatformError(QString::fromUtf8(ModelText::copyNotRead).arg(source, in.errorString()));
            break;
        }
        if (out.write(chunk) != chunk.size())
            throw PlatformError(QString::fromUtf8(ModelText::copyNotSaved).arg(target, out.errorString()));
    }
    if (!out.commit())
        throw PlatformError(QString::fromUtf8(ModelText::copyNotSaved).arg(target, out.errorString()));
}

} // namespace

void AppModel::startTranscriptSearch() {
    transcriptSearch_ = new TranscriptSearch(LocalStore::root() / TranscriptIndex::kFileName, this);
    connect(transcriptSearch_, &TranscriptSearch::matchesChanged, this, &AppModel::transcriptMatchesChanged);
    connect(transcriptSearch_, &TranscriptSearch::failed, this, [this](const QString& reason) {
        setMessage(QString::fromUtf8(ModelText::searchUnavailable).arg(reason));
    });
    connect(this, &AppModel::itemsChanged, transcriptSearch_,
            [this] { transcriptSearch_->libraryChanged(items_); });
    connect(this, &AppModel::searchChanged, transcriptSearch_,
            [this] { transcriptSearch_->setText(search_); });
    transcriptSearch_->libraryChanged(items_);
}

const std::vector<TranscriptMatch>& AppModel::transcriptMatches() const {
    static const std::vector<TranscriptMatch> none;
    return transcriptSearch_ ? transcriptSearch_->matches() : none;
}

bool AppModel::transcriptSearchIdle() const {
    return !transcriptSearch_ || transcriptSearch_->idle();
}

std::optional<QString> AppModel::deletionRefusal(const Uuid& id) const {
    const auto item =
        std::find_if(items_.begin(), items_.end(), [&](const LocalRecording& r) { return r.id == id; });
    if (item == items_.end())
        return std::nullopt;
    if (recordingID_ == id && finalizing_)
        return QString::fromUtf8(ModelText::deleteWhileSaving);
    // "recording" also covers the moment between the entry's creation and the recorder's start.
    if (recordingID_ == id || item->status == RecordingStatus::recording)
        return QString::fromUtf8(ModelText::deleteWhileRecording);
    if (item->status == RecordingStatus::uploading)
        return QString::fromUtf8(ModelText::deleteWhileSending);
    return std::nullopt;
}

bool AppModel::deleteRecording(const Uuid& id) {
    const LocalRecording* item = find(id);
    if (!item)
        return false;
    if (std::optional<QString> refusal = deletionRefusal(id)) {
        setMessage(*refusal);
        return false;
    }
    // The folder first: while it cannot go to the trash the entry stays, and nothing is lost from view.
    // Only a plain name under Recordings: nothing else ever goes to the trash from here.
    if (item->folderName && isPlainFileName(*item->folderName)) {
        const QString folder =
            QString::fromStdString((LocalStore::recordingsFolder() / *item->folderName).string());
        if (QFileInfo::exists(folder) && !moveToTrash(folder)) {
            setMessage(QString::fromUtf8(ModelText::trashFailed).arg(folder));
            return false;
        }
    }
    // Remembered before the entry goes: should the program end in between, the entry is still there
    // to delete, rather than the meeting coming back as a new one.
    if (item->remoteID && queue_->deletedMeetings().add(*item->remoteID)) {
        try {
            queue_->deletedMeetings().save();
        } catch (const std::exception&) {
            setMessage(QString::fromUtf8(ModelText::libraryNotSaved));
        }
        std::error_code ignored;
        fs::remove(LocalStore::playbackAudio(*item->remoteID), ignored);
    }

    if (selection_ == id) {
        // The row below takes its place in the list the user sees, or the one above at the end.
        const std::vector<LocalRecording> visible = filteredItems();
        const auto at =
            std::find_if(visible.begin(), visible.end(), [&](const LocalRecording& r) { return r.id == id; });
        std::optional<Uuid> neighbour;
        if (at != visible.end() && at + 1 != visible.end())
            neighbour = (at + 1)->id;
        else if (at != visible.end() && at != visible.begin())
            neighbour = (at - 1)->id;
        setSelection(neighbour);
    }
    items_.erase(
        std::find_if(items_.begin(), items_.end(), [&](const LocalRecording& r) { return r.id == id; }));
    Q_EMIT itemsChanged();
    persist();
    if (playerRecording_ == id) {
        player_.reset();
        playerRecording_.reset();
        assign(isPlaying_, false, &AppModel::isPlayingChanged);
        assign(playbackPosition_, 0.0, &AppModel::playbackPositionChanged);
        assign(playbackDuration_, 0.0, &AppModel::playbackDurationChanged);
    }
    return true;
}

bool AppModel::renameRecording(const Uuid& id, const QString& title) {
    LocalRecording* item = find(id);
    if (!item)
        return false;
    const QString cleaned = withoutControlCharacters(title).trimmed();
    if (cleaned.isEmpty()) {
        setMessage(QString::fromUtf8(ModelText::titleEmpty));
        return false;
    }
    if (cleaned.size() > kMaxTitleLength) {
        setMessage(QString::fromUtf8(ModelText::titleTooLong).arg(kMaxTitleLength));
        return false;
    }
    const std::string utf8 = cleaned.toStdString();
    if (item->title == utf8)
        return true;
    item->title = utf8;
    Q_EMIT itemsChanged();
    persist();
    return true;
}

QCoro::Task<> AppModel::saveAudio(const Uuid& id) {
    const LocalRecording* item = find(id);
    if (!item || !services_.chooseAudioDestination)
        co_return;
    const std::optional<fs::path> media = LocalStore::media(*item);
    if (!media) {
        setMessage(QString::fromUtf8(ModelText::audioNotReady));
        co_return;
    }
    // Captures are "conversation.m4a", imports keep their own extension ("import.mp3").
    const QString suffix = QFileInfo(QString::fromStdString(*item->fileName)).suffix();
    const QString proposed = proposedFileName(QString::fromStdString(item->title),
                                              suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    const QString source = QString::fromStdString(media->string());
    // The dialog runs an event loop of its own: nothing of `item` is used after it.
    const std::optional<QString> destination = services_.chooseAudioDestination(proposed);
    if (!destination)
        co_return;
    QPointer<AppModel> self(this);
    try {
        auto copy = onOwnThread([source, target = *destination] { copyThroughTemporary(source, target); });
        co_await copy;
    } catch (...) {
        if (self)
            setMessage(describeError(std::current_exception()));
    }
}

QCoro::Task<> AppModel::exportRecording(const Uuid& id, QString format) {
    const LocalRecording* item = find(id);
    if (!item || !item->remoteID || !services_.chooseExportFile)
        co_return;
    const QString remoteID = QString::fromStdString(*item->remoteID);
    const std::optional<QString> destination =
        services_.chooseExportFile(QStringLiteral("Mello Parlo.") + format, format);
    if (!destination)
        co_return;
    QPointer<AppModel> self(this);
    QByteArray bytes;
    try {
        bytes = co_await client_->exportMeeting(remoteID, format);
    } catch (...) {
        if (self)
            setMessage(describeError(std::current_exception()));
        co_return;
    }
    if (!self)
        co_return;
    QSaveFile file(*destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        setMessage(file.errorString());
}

} // namespace parlo
