#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace parlo {
class AudioCodec;
}

namespace parlo::test {

// FFmpeg's codec, shared by every test that converts, encodes or mixes.
std::shared_ptr<AudioCodec> ffmpeg();

// Points MELLO_PARLO_DATA_DIR (or another folder variable, such as XDG_CONFIG_HOME) at a fresh
// temporary folder for the life of the object and restores the previous value afterwards.
class ScopedDataDir {
public:
    explicit ScopedDataDir(const char* variable = "MELLO_PARLO_DATA_DIR");
    ~ScopedDataDir();
    ScopedDataDir(const ScopedDataDir&) = delete;
    ScopedDataDir& operator=(const ScopedDataDir&) = delete;

    std::filesystem::path path() const;

private:
    const char* variable_;
    QTemporaryDir dir_;
    std::optional<QByteArray> previous_;
};

// The samples of a raw track (headerless native floats).
inline std::vector<float> readTrack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// A QString of UTF-8 source text, for the Russian texts and the command lines of the tests.
inline QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Lets no file of this process grow past `bytes` while it lives, like a full disk: a write beyond
// fails with EFBIG (SIGXFSZ, which would end the process, is ignored meanwhile).
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(std::uintmax_t bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    std::uintmax_t previous_ = 0;
    void (*previousHandler_)(int) = nullptr;
};

// Runs the event loop until `task` completes or `timeout` passes; throws on time-out so a hung
// coroutine fails the test instead of the whole run.
template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    QEventLoop loop;
    bool finished = false;
    std::optional<T> value;
    std::exception_ptr error;
    auto wrapper = [&]() -> QCoro::Task<> {
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        finished = true;
        loop.quit();
    };
    auto running = wrapper();
    if (!finished) {
        QTimer::singleShot(timeout, &loop, [&loop] { loop.quit(); });
        loop.exec();
    }
    if (!finished)
        throw std::runtime_error("coroutine did not finish in time");
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

void runTask(QCoro::Task<> task, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Spins the event loop for the given time (timers and queued calls run meanwhile).
void spin(std::chrono::milliseconds duration);

// Spins the event loop until `done()` holds; false when `limit` passes first.
template <typename Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        spin(std::chrono::milliseconds(10));
    }
    return true;
}

// The descendant of `root` with this object name; throws when there is none, so that a test stops
// at the missing part instead of dereferencing null.
template <typename T> T* part(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        throw std::runtime_error(std::string("no part named ") + name);
    return found;
}

} // namespace parlo::test
