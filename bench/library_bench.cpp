// Loads and saves a large library the way the application does at start-up and on every change.
// Each measurement runs in a child process so that its peak memory is its own.
//
//   library_bench [recordings=1000]      (also runs 100 recordings)
#include "library/LocalStore.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace parlo;
using Stopwatch = std::chrono::steady_clock;

namespace {

const char* const kWords[] = {"проект", "клиент", "сроки", "бюджет", "встреча", "задача", "команда",
                              "релиз",  "отчёт",  "план",  "неделя", "решение", "вопрос", "данные"};

std::string sentence(std::uint64_t& seed, int words) {
    std::string text;
    for (int i = 0; i < words; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        if (i > 0)
            text += ' ';
        text += kWords[(seed >> 33) % (sizeof kWords / sizeof *kWords)];
    }
    text += '.';
    return text;
}

std::vector<LocalRecording> makeLibrary(int count) {
    std::vector<LocalRecording> items;
    std::uint64_t seed = 42;
    for (int i = 0; i < count; ++i) {
        LocalRecording r;
        r.id = Uuid::random();
        r.title = "Разговор · " + std::to_string(i % 28 + 1) + " марта, 10:00";
        r.created = 790000000.0 + i * 3600.25;
        r.folderName = r.id.toString();
        r.fileName = "conversation.m4a";
        r.status = "done";
        r.remoteID = "0123456789abcdef0123456789abcdef";
        r.stage = "Готово";
        r.progress = 100;
        r.duration = 3600;
        r.source = "Звук Mac + микрофон";
        if (i % 10 != 9) {
            MeetingResult result;
            result.language = "ru";
            result.duration = 3600;
            for (int s = 0; s < 1000; ++s)
                result.segments.push_back(
                    {s, s * 3.6, s * 3.6 + 3.5, "Спикер " + std::to_string(s % 4 + 1), sentence(seed, 12)});
            result.summary.mode = "meeting";
            for (int n = 0; n < 20; ++n) {
                NoteItem item{sentence(seed, 10), {n, n + 1, n + 7}, std::nullopt, std::nullopt};
                auto& list = n < 10   ? result.summary.summary
                             : n < 15 ? result.summary.decisions
                                      : result.summary.tasks;
                if (n >= 15)
                    item.owner = "Анна", item.due = "пятница";
                list.push_back(std::move(item));
            }
            result.summary.note = sentence(seed, 30);
            r.result = std::make_shared<const StoredResult>(std::move(result));
        }
        items.push_back(std::move(r));
    }
    return items;
}

double seconds(Stopwatch::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Runs `work` in a child; returns the child's peak resident memory in MB.
template <typename Work> double inChild(Work work) {
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        work();
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "child failed\n");
    return usage.ru_maxrss / 1024.0;
}

void run(int count) {
    QTemporaryDir dir;
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(dir.path()));
    inChild([&] { LocalStore::save(makeLibrary(count)); });
    const double mb = std::filesystem::file_size(LocalStore::libraryFile()) / 1e6;
    std::printf("library of %d recordings: %.1f MB\n", count, mb);

    double baseline = inChild([] {});
    double peak = inChild([&] {
        auto start = Stopwatch::now();
        std::clock_t cpuStart = std::clock();
        auto items = LocalStore::load();
        double t = seconds(Stopwatch::now() - start);
        double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        std::printf("  load:    %7.3f s  %7.0f MB/s  (%zu records; %.3f s of CPU)\n", t, mb / t, items.size(),
                    cpu);
    });
    std::printf("  load peak memory: %.0f MB (%.2f x the file; process baseline %.0f MB)\n", peak,
                (peak - baseline) / mb, baseline);

    peak = inChild([&] {
        auto items = LocalStore::load();
        // persist after a change of one entry, as the model does; the first save after loading
        // writes the kept result texts as they are.
        items[0].stage = "Изменено";
        double best = 1e9, bestCpu = 1e9;
        for (int i = 0; i < 3; ++i) {
            auto start = Stopwatch::now();
            std::clock_t cpuStart = std::clock();
            LocalStore::save(items);
            best = std::min(best, seconds(Stopwatch::now() - start));
            bestCpu = std::min(bestCpu, double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        }
        std::printf("  persist: %7.3f s  %7.0f MB/s  (best of 3, including fdatasync; %.3f s of CPU)\n", best,
                    mb / best, bestCpu);
    });
    std::printf("  load + persist peak memory: %.0f MB (%.2f x the file)\n", peak, (peak - baseline) / mb);

    inChild([&] {
        auto items = LocalStore::load();
        auto start = Stopwatch::now();
        std::size_t segments = 0;
        for (const auto& item : items)
            if (item.result)
                segments += item.result->value().segments.size();
        std::printf("  decoding every result on demand: %.3f s (%zu segments)\n",
                    seconds(Stopwatch::now() - start), segments);
    });
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    run(count);
    if (argc <= 1)
        run(100);
    return 0;
}
