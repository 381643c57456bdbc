// How the main window keeps up with a large library: 1,000 recordings, nine in ten with a 300-segment
// Russian transcript and a 20-item summary. Measures one keystroke in the search field (the model's
// filter, the list's update and the frame it causes) and one selection change (the detail built for
// the summary tab, laid out and drawn). The goal is under 16 ms each; read the CPU column on a busy
// machine.
//
//   build/<dir>/bench/ui_bench [--benchmark_...]   (runs offscreen, in a temporary data folder)

#include "library/LocalRecording.h"
#include "library/LocalStore.h"
#include "library/MeetingResult.h"
#include "model/AppModel.h"
#include "ui/LibraryList.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

using namespace parlo;

const char* const kTopics[] = {"Планёрка команды",      "Созвон с клиентом из Казани",
                               "Ретроспектива спринта", "Интервью с кандидатом",
                               "Обсуждение бюджета",    "Разбор инцидента",
                               "Встреча с дизайнерами", "Планы на неделю",
                               "Демо для партнёров",    "Синхронизация с продажами"};
const char* const kSpeakers[] = {"Анна", "Игорь", "Мария", "Сергей"};

MeetingResult makeResult(std::mt19937& random, int segments, int items) {
    MeetingResult result;
    result.language = "ru";
    double t = 0;
    for (int i = 1; i <= segments; ++i) {
        TranscriptSegment s;
        s.id = i;
        s.start = t;
        s.end = t + 4.5;
        t += 5;
        s.speaker = kSpeakers[random() % 4];
        s.text = "Давайте зафиксируем, что релиз переносится на четверг, а регрессию начнём во вторник после "
                 "обеда.";
        result.segments.push_back(std::move(s));
    }
    result.duration = t;
    result.summary.mode = "meeting";
    auto note = [&](const std::string& text) {
        NoteItem item;
        item.text = text;
        item.evidenceIds = {static_cast<std::int64_t>(random() % segments + 1),
                            static_cast<std::int64_t>(random() % segments + 1)};
        return item;
    };
    for (int i = 0; i < items / 2; ++i)
        result.summary.summary.push_back(
            note("Команда договорилась сдвинуть релиз и проверить оплату ещё раз."));
    for (int i = 0; i < items / 4; ++i)
        result.summary.decisions.push_back(note("Релиз переносится с понедельника на четверг."));
    for (int i = 0; i < items / 4; ++i) {
        NoteItem task = note("Обновить демо-стенд и прислать ссылку в общий чат");
        task.owner = "Мария";
        task.due = "четверг";
        result.summary.tasks.push_back(std::move(task));
    }
    return result;
}

// One model and window over a library of 1,000 recordings, shared by the benchmarks.
struct Library {
    QTemporaryDir dir;
    QTemporaryDir settingsDir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<MainWindow> window;
    std::vector<Uuid> ids;

    Library() {
        qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(dir.path()));
        std::mt19937 random(7);
        std::vector<LocalRecording> items;
        for (int i = 0; i < 1000; ++i) {
            LocalRecording r;
            r.id = Uuid::random();
            r.title = std::string(kTopics[i % 10]) + " · " + std::to_string(i + 1);
            r.created = 780000000.0 + i * 3600.0;
            r.source = "Звук Mac + микрофон";
            r.folderName = r.id.toString();
            r.fileName = "conversation.m4a";
            if (i % 10 == 9) {
                r.status = RecordingStatus::waitingLogin;
                r.stage = "Войдите для расшифровки";
            } else {
                r.status = RecordingStatus::done;
                r.stage = "Готово";
                r.progress = 100;
                MeetingResult result = makeResult(random, 300, 20);
                r.duration = result.duration;
                r.result = std::make_shared<const StoredResult>(std::move(result));
            }
            ids.push_back(r.id);
            items.push_back(std::move(r));
        }
        LocalStore::prepare();
        LocalStore::save(items);
        settings = std::make_unique<QSettings>(settingsDir.filePath(QStringLiteral("parlo.ini")),
                                               QSettings::IniFormat);
        AppModelServices services;
        services.settings = settings.get();
        services.rememberSession = false;
        services.microphoneAuthorized = [] { return true; };
        services.systemAudioPermission = [] { return true; };
        model = std::make_unique<AppModel>(false, std::move(services));
        window = std::make_unique<MainWindow>(*model);
        window->show();
        QCoreApplication::processEvents();
    }
};

// Made on first use and destroyed by main while the QApplication still exists.
std::unique_ptr<Library>& libraryHolder() {
    static std::unique_ptr<Library> instance;
    return instance;
}

Library& library() {
    if (!libraryHolder())
        libraryHolder() = std::make_unique<Library>();
    return *libraryHolder();
}

// Each iteration is one keystroke and the frame it causes: typing one more letter and taking it back,
// alternately. Posted events are processed every time, as the event loop would between keystrokes
// (left to pile up, Qt's scan of the posted-event queue would dominate and mislead).
void BM_SearchKeystroke(benchmark::State& state) {
    Library& lib = library();
    const QString texts[] = {QStringLiteral("пла"), QStringLiteral("план")};
    int i = 0;
    for (auto _ : state) {
        lib.model->setSearch(texts[i++ % 2]);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(lib.window->libraryList()->count());
    }
    lib.model->setSearch(QString());
    QCoreApplication::processEvents();
}

// Each iteration selects the next recording of the library and lets the frame happen: the detail is
// rebuilt on the summary tab, laid out and drawn, and the previous detail deleted.
void BM_SelectionChange(benchmark::State& state) {
    Library& lib = library();
    std::size_t i = 0;
    for (auto _ : state) {
        lib.model->setSelection(lib.ids[i++ % lib.ids.size()]);
        QCoreApplication::processEvents();
    }
}

BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionChange)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    parlo::Theme::load();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    libraryHolder().reset();
    return 0;
}
