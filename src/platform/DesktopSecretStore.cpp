#include "platform/DesktopSecretStore.h"

#include <QTimer>
#include <qcoro/qcorosignal.h>
#include <qt6keychain/keychain.h>

#include <chrono>
#include <memory>

namespace parlo::platform {

namespace {

using namespace std::chrono_literals;

// An unlock prompt of the desktop may keep a job waiting for the user; past this the job counts as
// failed rather than holding its caller for ever.
constexpr auto kJobLimit = 120s;

struct JobDeleter {
    void operator()(QKeychain::Job* job) const { job->deleteLater(); }
};

// Runs a job to its end. The start is deferred to the event loop so the wait is connected before
// the job can possibly finish.
QCoro::Task<bool> run(QKeychain::Job* job) {
    job->setAutoDelete(false);
    QTimer::singleShot(0, job, [job] { job->start(); });
    const auto finished = co_await qCoro(job, &QKeychain::Job::finished, kJobLimit);
    co_return finished.has_value();
}

const QString kTimedOut = QStringLiteral("The secret store did not answer in time.");

} // namespace

QCoro::Task<SecretStore::Lookup> DesktopSecretStore::read(QString service, QString account) {
    std::unique_ptr<QKeychain::ReadPasswordJob, JobDeleter> job(new QKeychain::ReadPasswordJob(service));
    job->setInsecureFallback(false);
    job->setKey(account);
    Lookup lookup;
    const bool finished = co_await run(job.get());
    if (!finished) {
        lookup.errorDescription = kTimedOut;
        co_return lookup;
    }
    switch (job->error()) {
    case QKeychain::NoError:
        lookup.outcome = Lookup::Outcome::Found;
        lookup.data = job->binaryData();
        break;
    case QKeychain::EntryNotFound:
        lookup.outcome = Lookup::Outcome::Absent;
        break;
    default:
        lookup.errorDescription = job->errorString();
        break;
    }
    co_return lookup;
}

QCoro::Task<std::optional<QString>> DesktopSecretStore::remove(QString service, QString account) {
    std::unique_ptr<QKeychain::DeletePasswordJob, JobDeleter> job(new QKeychain::DeletePasswordJob(service));
    job->setInsecureFallback(false);
    job->setKey(account);
    const bool finished = co_await run(job.get());
    if (!finished)
        co_return kTimedOut;
    if (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound)
        co_return std::nullopt;
    co_return job->errorString();
}

QCoro::Task<std::optional<QString>> DesktopSecretStore::write(QString service, QString account,
                                                              QByteArray data) {
    std::unique_ptr<QKeychain::WritePasswordJob, JobDeleter> job(new QKeychain::WritePasswordJob(service));
    job->setInsecureFallback(false);
    job->setKey(account);
    job->setBinaryData(data);
    const bool finished = co_await run(job.get());
    if (!finished)
        co_return kTimedOut;
    if (job->error() == QKeychain::NoError)
        co_return std::nullopt;
    co_return job->errorString();
}

} // namespace parlo::platform
