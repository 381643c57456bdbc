#include "library/LocalStore.h"

#include "core/FileSync.h"
#include "core/MappedFile.h"
#include "core/ParloError.h"
#include "library/LibraryTexts.h"

#include <QStandardPaths>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace parlo {

namespace {

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path) {
    throw PlatformError::fromErrno(what, path, errno);
}

// Creates every missing folder of `path` with mode 0700.
void createPrivateFolders(const fs::path& path) {
    fs::path partial;
    for (const fs::path& component : path) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            ::chmod(partial.c_str(), 0700); // the umask may have taken bits away, never added
            continue;
        }
        if (errno != EEXIST)
            throwErrno(LibraryText::folderNotCreated, partial);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        throwErrno(LibraryText::folderNotCreated, path);
    }
}

void writeAll(int fd, const char* data, std::size_t size, const fs::path& path) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(LibraryText::fileNotWritten, path);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void repair(std::vector<LocalRecording>& items) {
    for (LocalRecording& item : items) {
        if (item.status == RecordingStatus::uploading)
            item.status = RecordingStatus::local;
        if (item.status == RecordingStatus::recording) {
            item.status = RecordingStatus::error;
            item.error = LibraryText::interruptedError;
        }
    }
}

} // namespace

namespace LocalStore {

fs::path root() {
    const QByteArray override = qgetenv("MELLO_PARLO_DATA_DIR");
    if (!override.isEmpty())
        return fs::path(override.toStdString());
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return fs::path(base.toStdString()) / "MelloParlo";
}

fs::path libraryFile() {
    return root() / "library.json";
}

fs::path recordingsFolder() {
    return root() / "Recordings";
}

fs::path playbackAudio(const std::string& remoteID) {
    return root() / "Playback" / (remoteID + ".wav");
}

void prepare() {
    const fs::path base = root();
    createPrivateFolders(base / "Recordings");
    if (::chmod(base.c_str(), 0700) != 0)
        throwErrno(LibraryText::folderModeNotSet, base);
}

std::string setAsideName(const char* kind) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return std::string("library.") + kind + "-" + stamp + ".json";
}

namespace {

// A free name beside the library for a file kept aside.
fs::path asidePath(const char* kind) {
    const fs::path folder = libraryFile().parent_path();
    const fs::path first = folder / setAsideName(kind);
    fs::path aside = first;
    for (int attempt = 1; fs::exists(aside) && attempt < 100; ++attempt)
        aside = folder / (first.stem().string() + "-" + std::to_string(attempt) + ".json");
    return aside;
}

// Writes the rejected records as one JSON array, private to the user; false when it could not.
bool keepAside(const std::vector<std::string>& records) {
    const fs::path aside = asidePath("rejected");
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string text = "[";
    for (std::size_t i = 0; i < records.size(); ++i)
        text += (i > 0 ? "," : "") + records[i];
    text += ']';
    try {
        writeAll(fd, text.data(), text.size(), aside);
    } catch (const std::exception&) {
        ::close(fd);
        ::unlink(aside.c_str());
        return false;
    }
    return ::fdatasync(fd) == 0 && ::close(fd) == 0;
}

} // namespace

std::vector<LocalRecording> load(std::string* damagedFileKeptAs) {
    const fs::path file = libraryFile();
    // Results stay in the mapped file: a library of long transcripts would otherwise sit in memory
    // whole. The file is read once, front to back, and its pages are let go as the reading passes.
    std::optional<std::shared_ptr<MappedFile>> mapped = MappedFile::open(file);
    if (!mapped)
        return {};
    const std::shared_ptr<MappedFile> data = std::move(*mapped);
    constexpr std::size_t kReleaseEvery = 8 << 20;
    std::size_t released = 0;
    const LibraryBacking backing{data, [&](std::size_t offset) {
                                     if (offset - released >= kReleaseEvery) {
                                         data->releaseBefore(offset);
                                         released = offset;
                                     }
                                 }};
    std::vector<LocalRecording> items;
    std::vector<std::string> rejected;
    const bool damaged = decodeLibraryUntilDamage(data->text(), items, &rejected, &backing);
    data->releaseBefore(data->text().size());
    if (damaged) {
        // The next save writes only the records before the damage: keep the whole file under another
        // name first, so that nothing after the damage is lost for good.
        const fs::path aside = asidePath("unreadable");
        if (::rename(file.c_str(), aside.c_str()) == 0) {
            ::chmod(aside.c_str(), 0600);
            if (damagedFileKeptAs)
                *damagedFileKeptAs = aside.filename().string();
        } else {
            // Saving over it would lose what follows the damage; better start empty and say so.
            throwErrno(LibraryText::damagedNotSetAside, file);
        }
    }
    if (!rejected.empty()) {
        if (keepAside(rejected)) {
            // Saved before the repairs, which wait for the next save like any other change.
            try {
                save(items);
            } catch (const std::exception&) {
                // The next save leaves them out; until then each start keeps them aside once more.
            }
        } else {
            // The next save would lose them: keep the whole file as it was instead.
            const fs::path aside = asidePath("rejected");
            if (::rename(file.c_str(), aside.c_str()) == 0)
                ::chmod(aside.c_str(), 0600);
        }
    }
    repair(items);
    return items;
}

void save(const std::vector<LocalRecording>& items) {
    prepare();
    const fs::path file = libraryFile();
    std::string temporaryName = (file.parent_path() / ".library.json.XXXXXX").string();
    int fd = ::mkstemp(temporaryName.data()); // created 0600
    if (fd < 0)
        throwErrno(LibraryText::fileNotCreated, temporaryName);
    const fs::path temporary(temporaryName);
    try {
        // Written record by record so that the whole document never sits in memory a second time.
        std::string chunk;
        constexpr std::size_t kFlushAt = 4 << 20;
        chunk.reserve(kFlushAt + (64 << 10));
        chunk += '[';
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0)
                chunk += ',';
            encodeRecording(chunk, items[i]);
            if (items[i].result)
                items[i].result->releasePages(); // copied into the chunk: no need to keep it resident
            if (chunk.size() >= kFlushAt) {
                writeAll(fd, chunk.data(), chunk.size(), temporary);
                chunk.clear();
            }
        }
        chunk += ']';
        writeAll(fd, chunk.data(), chunk.size(), temporary);
        // The rename must not reach the disk before the data does, or a crash leaves an empty library.
        if (::fdatasync(fd) != 0)
            throwErrno(LibraryText::fileNotWritten, temporary);
        if (::fchmod(fd, 0600) != 0)
            throwErrno(LibraryText::fileModeNotSet, temporary);
        if (::close(fd) != 0) {
            fd = -1;
            throwErrno(LibraryText::fileNotWritten, temporary);
        }
        fd = -1;
        if (::rename(temporary.c_str(), file.c_str()) != 0)
            throwErrno(LibraryText::fileNotReplaced, file);
        // The new name is durable only once the folder is: until then a power cut may bring back
        // the old library, and with it entries whose audio was already tidied away.
        syncFolder(file.parent_path());
    } catch (...) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::chmod(file.c_str(), 0600) != 0)
        throwErrno(LibraryText::fileModeNotSet, file);
}

bool wasInterrupted(const LocalRecording& recording) {
    return recording.status == RecordingStatus::error && recording.error == LibraryText::interruptedError &&
           !recording.fileName;
}

std::optional<fs::path> media(const LocalRecording& recording) {
    if (!recording.folderName || !recording.fileName || !isPlainFileName(*recording.folderName) ||
        !isPlainFileName(*recording.fileName))
        return std::nullopt;
    return recordingsFolder() / *recording.folderName / *recording.fileName;
}

} // namespace LocalStore

std::string clockLabel(double seconds) {
    if (!std::isfinite(seconds))
        return "00:00";
    double whole = std::trunc(seconds);
    if (whole < 0)
        whole = 0;
    // Far beyond any recording, but keep the arithmetic defined.
    if (whole > 1e15)
        whole = 1e15;
    const long long total = static_cast<long long>(whole);
    char text[48];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, (total / 60) % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", total / 60, total % 60);
    return text;
}

} // namespace parlo
