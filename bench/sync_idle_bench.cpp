// How much an idle hour writes to library.json: a signed-in model with a large, fully transcribed
// library, ticking for one simulated hour against the development service on loopback. Every
// synchronization used to save the whole library; now only one that changed something does.
//
//   sync_idle_bench [recordings=240]        (about 50 MB of library with the default)
#include "DevService.h"
#include "library/LocalStore.h"
#include "model/AppModel.h"

#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>

using namespace parlo;

namespace {

class DrivenClock : public Clock {
public:
    double seconds = 0;
    QDateTime start = QDateTime::currentDateTimeUtc();
    double uptime() const override { return seconds; }
    QDateTime now() const override { return start.addMSecs(static_cast<qint64>(seconds * 1000)); }
};

void spin() {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
}

MeetingResult transcript(int segments) {
    MeetingResult result;
    result.language = "ru";
    result.duration = segments * 3.6;
    for (int s = 0; s < segments; ++s)
        result.segments.push_back({s, s * 3.6, s * 3.6 + 3.5, "Спикер " + std::to_string(s % 4 + 1),
                                   "Обсуждаем сроки релиза, бюджет команды и план на следующую неделю."});
    result.summary.mode = "meeting";
    result.summary.summary.push_back({"Договорились о сроках", {1, 2}, std::nullopt, std::nullopt});
    return result;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 240;
    QTemporaryDir data;
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(data.path()));

    dev::DevServiceOptions options;
    options.stageInterval = std::chrono::milliseconds(0);
    dev::DevService service(options);
    const dev::TlsFiles tls = dev::generateCertificate(data.path());
    service.listenTls(tls);

    // A library whose every recording the service already reports as done, result included.
    const auto stored = std::make_shared<const StoredResult>(transcript(1000));
    std::vector<LocalRecording> items;
    for (int i = 0; i < count; ++i) {
        LocalRecording r;
        r.id = Uuid::random();
        r.title = "Разговор " + std::to_string(i);
        r.created = 790000000.0 + i;
        r.status = "done";
        r.stage = "Готово";
        r.progress = 100;
        r.remoteID = service.addMeeting(QString::fromStdString(r.title), 1.7e9 + i).toStdString();
        r.result = stored;
        r.duration = stored->value().duration;
        r.source = "Личный кабинет";
        items.push_back(std::move(r));
    }
    LocalStore::save(items);
    const double megabytes = static_cast<double>(std::filesystem::file_size(LocalStore::libraryFile())) / 1e6;

    QSettings settings(data.filePath(QStringLiteral("parlo.ini")), QSettings::IniFormat);
    auto clock = std::make_shared<DrivenClock>();
    AppModelServices services;
    services.clock = clock;
    services.settings = &settings;
    services.rememberSession = false;
    services.server =
        ServerClientOptions{service.baseUrl(), QSslCertificate::fromPath(tls.certificate), {}, {}, {}, {}};
    AppModel model(false, std::move(services));
    model.setPassword(QStringLiteral("parlo-dev-key"));
    // Named, so that the closure outlives the coroutine that refers to its captures.
    bool loggedIn = false;
    auto logIn = [&]() -> QCoro::Task<> {
        co_await model.login();
        loggedIn = true;
    };
    auto login = logIn();
    while (!loggedIn)
        spin();

    // One hour of 0.8-second ticks; a save replaces the file, so each new inode is one whole write.
    struct stat info {};
    ::stat(LocalStore::libraryFile().c_str(), &info);
    ino_t inode = info.st_ino;
    int saves = 0;
    double written = 0;
    const int syncsBefore = service.requestsTo(QStringLiteral("/api/meetings")).size();
    for (int tick = 0; tick < 4500; ++tick) {
        clock->seconds += 0.8;
        bool done = false;
        auto runTick = [&]() -> QCoro::Task<> {
            co_await model.tick();
            done = true;
        };
        auto running = runTick();
        while (!done)
            spin();
        ::stat(LocalStore::libraryFile().c_str(), &info);
        if (info.st_ino != inode) {
            inode = info.st_ino;
            ++saves;
            written += static_cast<double>(info.st_size);
        }
    }
    const int syncs = service.requestsTo(QStringLiteral("/api/meetings")).size() - syncsBefore;
    std::printf("library: %d recordings, %.1f MB\n", count, megabytes);
    std::printf("one idle hour: %d synchronizations, %d saves, %.1f MB written to library.json\n", syncs,
                saves, written / 1e6);
    std::printf("saving after every synchronization would write %.1f MB (%d x %.1f MB)\n", syncs * megabytes,
                syncs, megabytes);
    return 0;
}
