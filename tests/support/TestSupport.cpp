#include "support/TestSupport.h"

#include "capture/AudioCodec.h"
#include "platform/PlatformParts.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/resource.h>

namespace parlo::test {

ScopedDataDir::ScopedDataDir(const char* variable) : variable_(variable) {
    if (qEnvironmentVariableIsSet(variable_))
        previous_ = qgetenv(variable_);
    qputenv(variable_, QFile::encodeName(dir_.path()));
}

ScopedDataDir::~ScopedDataDir() {
    if (previous_)
        qputenv(variable_, *previous_);
    else
        qunsetenv(variable_);
}

ScopedFileSizeLimit::ScopedFileSizeLimit(std::uintmax_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    previous_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("cannot limit the file size");
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = previous_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler_);
}

std::shared_ptr<AudioCodec> ffmpeg() {
    static const std::shared_ptr<AudioCodec> codec = platform::ffmpegCodec();
    return codec;
}

std::filesystem::path ScopedDataDir::path() const {
    return std::filesystem::path(dir_.path().toStdString());
}

void runTask(QCoro::Task<> task, std::chrono::milliseconds timeout) {
    auto wrapped = [](QCoro::Task<> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    };
    runTask<bool>(wrapped(std::move(task)), timeout);
}

void spin(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, [&loop] { loop.quit(); });
    loop.exec();
}

} // namespace parlo::test
