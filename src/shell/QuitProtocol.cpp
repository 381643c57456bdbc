#include "shell/QuitProtocol.h"

#include "model/AppModel.h"
#include "shell/ShellTexts.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace parlo {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalCounter::Response SignalCounter::onSignal(Clock::time_point now) {
    const bool hurried = previous_ && now - *previous_ <= hurry;
    previous_ = now;
    ++count_;
    if (count_ == 1)
        return Response::quit;
    return count_ >= 3 && hurried ? Response::endNow : Response::wait;
}

QuitProtocol::QuitProtocol(AppModel* model, QObject* parent) : QObject(parent), model_(model) {
    if (model_)
        connect(model_, &AppModel::terminationRequested, this, [this] { Q_EMIT finished(0); });
}

QuitProtocol::~QuitProtocol() {
    if (notifier_) {
        for (int number : {SIGTERM, SIGINT, SIGHUP})
            std::signal(number, SIG_DFL);
    }
}

bool QuitProtocol::installSignalHandlers() {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitProtocol::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
    // A file-size limit (ulimit -f) must not end a call's recording: the write past it then fails
    // with EFBIG, which the recorder treats as a full disk and survives.
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}

void QuitProtocol::readSignal() {
    char buffer[16];
    ssize_t count = 0;
    while ((count = ::read(signalPipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            switch (signals_.onSignal(SignalCounter::Clock::now())) {
            case SignalCounter::Response::quit:
                requestQuit();
                break;
            case SignalCounter::Response::wait:
                std::fputs(ShellText::quitWaiting, stderr);
                break;
            case SignalCounter::Response::endNow:
                std::fputs(ShellText::quitNow, stderr);
                ::_exit(128 + buffer[i]);
            }
        }
    }
}

void QuitProtocol::requestQuit() {
    if (quitting_)
        return;
    quitting_ = true;
    if (!model_) {
        Q_EMIT finished(0);
        return;
    }
    model_->quit(); // finishes on its own and emits terminationRequested
}

} // namespace parlo
