// The model's side of the account: log in with a key, read the key from an access file, log out.
#include "model/AppModel.h"
#include "model/UploadQueue.h"

#include "core/ParloError.h"
#include "model/ModelTexts.h"

#include <QFile>

namespace parlo {

QCoro::Task<> AppModel::login() {
    const QString key = password_.trimmed();
    if (key.isEmpty() || refusedInPreview())
        co_return;
    assign(loggingIn_, true, &AppModel::loggingInChanged);
    QPointer<AppModel> self(this);
    std::exception_ptr failure;
    try {
        co_await client_->login(key);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        setMessage(describeError(failure));
        assign(loggingIn_, false, &AppModel::loggingInChanged);
        co_return;
    }
    setPassword(QString());
    assign(connected_, true, &AppModel::connectedChanged);
    setMessage(QString::fromUtf8(ModelText::accountConnected));
    bool changed = false;
    for (LocalRecording& item : items_) {
        if (item.status == RecordingStatus::waitingLogin) {
            item.status = RecordingStatus::local;
            changed = true;
        }
    }
    if (changed)
        Q_EMIT itemsChanged();
    persist();
    co_await synchronize();
    if (!self)
        co_return;
    queue_->schedule();
    assign(loggingIn_, false, &AppModel::loggingInChanged);
}

void AppModel::importAccessFile() {
    if (refusedInPreview() || !services_.chooseAccessFile)
        return;
    if (std::optional<QString> path = services_.chooseAccessFile())
        importAccessFileAt(*path);
}

void AppModel::importAccessFileAt(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setMessage(file.errorString());
        return;
    }
    // Reading up to the limit is enough to tell a file that is too large without reading all of it.
    const QByteArray bytes = file.read(8192);
    if (file.error() != QFileDevice::NoError) {
        setMessage(file.errorString());
        return;
    }
    std::optional<QString> key = accessKeyFromFile(bytes);
    if (!key) {
        setMessage(QString::fromUtf8(ModelText::noKeyInFile));
        return;
    }
    setPassword(*key);
    login(); // runs on its own; the task holds the model weakly
}

QCoro::Task<> AppModel::logout() {
    QPointer<AppModel> self(this);
    co_await client_->logout();
    if (!self)
        co_return;
    assign(connected_, false, &AppModel::connectedChanged);
    setMessage(QString::fromUtf8(ModelText::signedOut));
}

} // namespace parlo
