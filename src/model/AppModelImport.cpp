// Adding an existing audio or video file to the library: copied into a folder of its own and then
// sent like any finished recording.
#include "model/AppModel.h"
#include "model/UploadQueue.h"

#include "core/ParloError.h"
#include "library/LibraryTexts.h"
#include "library/LocalStore.h"
#include "model/FailureText.h"
#include "model/ModelTexts.h"

#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace parlo {

namespace {

constexpr qint64 kLargestImport = 90LL * 1024 * 1024;

[[noreturn]] void throwErrno(const std::string& what, const std::filesystem::path& path) {
    throw PlatformError::fromErrno(what, path, errno);
}

} // namespace

void AppModel::importAudio() {
    if (refusedInPreview() || !services_.chooseAudioFile)
        return;
    if (std::optional<QString> path = services_.chooseAudioFile())
        importAudioAt(*path);
}

void AppModel::importAudioAt(const QString& path) {
    if (refusedInPreview())
        return;
    const QFileInfo source(path);
    LocalRecording record;
    try {
        namespace fs = std::filesystem;
        const fs::path from = fs::path(path.toStdString());
        std::error_code error;
        const std::uintmax_t size = fs::file_size(from, error);
        if (error)
            throw PlatformError(error.message() + ": " + from.string(), error);
        if (static_cast<qint64>(size) > kLargestImport)
            throw ParloError(QString::fromUtf8(ModelText::importTooLarge));

        record.id = Uuid::random();
        const std::string folderName = Uuid::random().toString(); // never the recording's own id
        const fs::path folder = LocalStore::recordingsFolder() / folderName;
        fs::create_directories(folder, error);
        if (error)
            throw PlatformError(error.message() + ": " + folder.string(), error);
        if (::chmod(folder.c_str(), 0700) != 0)
            throwErrno(LibraryText::folderModeNotSet, folder);
        const std::string fileName = "import." + source.suffix().toLower().toStdString();
        const fs::path copy = folder / fileName;
        fs::copy_file(from, copy, fs::copy_options::overwrite_existing, error);
        if (error)
            throw PlatformError(error.message() + ": " + copy.string(), error);
        if (::chmod(copy.c_str(), 0600) != 0)
            throwErrno(LibraryText::fileModeNotSet, copy);

        record.title = source.completeBaseName().toStdString();
        record.created = toLibraryTime(services_.clock->now());
        record.folderName = folderName;
        record.fileName = fileName;
        record.status = connected_ ? RecordingStatus::local : RecordingStatus::waitingLogin;
        record.stage = ModelText::stageSaved;
        record.source = ModelText::importSource;
    } catch (...) {
        setMessage(failureSentence(std::current_exception(), FailedStep::import));
        return;
    }
    const Uuid id = record.id;
    items_.insert(items_.begin(), std::move(record));
    Q_EMIT itemsChanged();
    setSelection(id);
    persist();
    queue_->schedule();
}

} // namespace parlo
