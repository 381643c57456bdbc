// Loads and saves a large library the way the application does at start-up and on every change, and
// reads the same file with simdjson and nlohmann::json where they are installed, as anchors. Each
// measurement runs in a fresh child process so that its peak memory is its own.
//
//   library_bench [recordings=1000]      (also runs 100 recordings)
#include "library/LocalStore.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef PARLO_BENCH_SIMDJSON
#include <simdjson.h>
#endif
#ifdef PARLO_BENCH_NLOHMANN
#include <nlohmann/json.hpp>
#endif

using namespace parlo;
using Stopwatch = std::chrono::steady_clock;

namespace {

// 1,000 recordings make a library of 213 MB: nine in ten with an hour of transcript (1,000 segments).
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

double cpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's resident memory now, in MB.
double residentNow() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// What a child reports back through shared memory.
struct Report {
    double wall = 0;
    double cpu = 0;
    double residentAfter = 0;
    std::size_t count = 0;
};

// Runs `work` in a child; returns the child's peak resident memory in MB (0 when it failed).
template <typename Work> double inChild(Work work) {
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        try {
            work();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "child failed: %s\n", error.what());
            std::_Exit(1);
        }
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child failed\n");
        return 0;
    }
    return usage.ru_maxrss / 1024.0;
}

// Times one way of reading the whole file in a child and prints it as a row of the load table.
template <typename Load> void loadRow(const char* name, double mb, double baseline, Load load) {
    auto* report = static_cast<Report*>(
        ::mmap(nullptr, sizeof(Report), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *report = {};
    const double peak = inChild([&] {
        const double cpuStart = cpuSeconds();
        const auto start = Stopwatch::now();
        report->count = load();
        report->wall = seconds(Stopwatch::now() - start);
        report->cpu = cpuSeconds() - cpuStart;
        report->residentAfter = residentNow();
    });
    if (peak > 0)
        std::printf("  %-34s %7.3f s %7.3f s %6.0f MB/s %8.0f MB %8.0f MB %7.2f x  %zu\n", name, report->wall,
                    report->cpu, mb / report->cpu, peak, report->residentAfter, (peak - baseline) / mb,
                    report->count);
    ::munmap(report, sizeof(Report));
}

#ifdef PARLO_BENCH_SIMDJSON
// Visits every value, as a strict reader must: on demand, simdjson checks only what is visited.
// Returns how many values there were; `textBytes` adds up the unescaped strings and keys.
std::size_t visit(simdjson::ondemand::value value, std::size_t& textBytes) {
    using Type = simdjson::ondemand::json_type;
    std::size_t count = 1;
    switch (value.type().value()) {
    case Type::object:
        for (auto field : value.get_object()) {
            textBytes += std::string_view(field.unescaped_key()).size();
            count += visit(field.value(), textBytes);
        }
        break;
    case Type::array:
        for (auto element : value.get_array())
            count += visit(element.value(), textBytes);
        break;
    case Type::string:
        textBytes += std::string_view(value.get_string()).size();
        break;
    case Type::number:
        textBytes += double(value.get_double()) < 0 ? 1 : 0;
        break;
    case Type::boolean:
        textBytes += bool(value.get_bool()) ? 1 : 0;
        break;
    case Type::null:
        textBytes += value.is_null() ? 0 : 1;
        break;
    }
    return count;
}
#endif

void run(int count) {
    QTemporaryDir dir;
    qputenv("MELLO_PARLO_DATA_DIR", QFile::encodeName(dir.path()));
    inChild([&] { LocalStore::save(makeLibrary(count)); });
    const std::string file = LocalStore::libraryFile().string();
    const double mb = std::filesystem::file_size(file) / 1e6;
    const double baseline = inChild([] {});
    std::printf("library of %d recordings: %.1f MB (process baseline %.0f MB)\n", count, mb, baseline);
    std::printf("  %-34s %9s %9s %11s %11s %11s %9s  %s\n", "load (whole file, every value checked)", "wall",
                "CPU", "CPU speed", "peak RSS", "RSS after", "peak/file", "records|values");

    loadRow("parlo LocalStore::load", mb, baseline, [] { return LocalStore::load().size(); });
#ifdef PARLO_BENCH_SIMDJSON
    loadRow("simdjson DOM", mb, baseline, [&] {
        simdjson::dom::parser parser;
        simdjson::dom::element root = parser.load(file);
        return simdjson::dom::array(root).size();
    });
    loadRow("simdjson on demand (visit all)", mb, baseline, [&] {
        simdjson::padded_string text = simdjson::padded_string::load(file);
        simdjson::ondemand::parser parser;
        simdjson::ondemand::document document = parser.iterate(text);
        std::size_t textBytes = 0;
        return visit(document.get_value(), textBytes);
    });
#else
    std::printf("  simdjson: not built (libsimdjson-dev is not installed)\n");
#endif
#ifdef PARLO_BENCH_NLOHMANN
    loadRow("nlohmann::json", mb, baseline, [&] {
        std::ifstream in(file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        const nlohmann::json root = nlohmann::json::parse(text);
        return root.size();
    });
#else
    std::printf("  nlohmann::json: not built (nlohmann-json3-dev is not installed)\n");
#endif

    double peak = inChild([&] {
        auto items = LocalStore::load();
        // persist after a change of one entry, as the model does; the results are written back
        // from the mapped file, which each save replaces.
        items[0].stage = "Изменено";
        double best = 1e9, bestCpu = 1e9;
        for (int i = 0; i < 3; ++i) {
            auto start = Stopwatch::now();
            const double cpuStart = cpuSeconds();
            LocalStore::save(items);
            best = std::min(best, seconds(Stopwatch::now() - start));
            bestCpu = std::min(bestCpu, cpuSeconds() - cpuStart);
        }
        std::printf("  persist: %7.3f s  %7.0f MB/s  (best of 3, including fdatasync; %.3f s of CPU)\n", best,
                    mb / best, bestCpu);
    });
    std::printf("  load + persist peak memory: %.0f MB (%.2f x the file)\n", peak, (peak - baseline) / mb);

    peak = inChild([&] {
        auto items = LocalStore::load();
        auto start = Stopwatch::now();
        std::size_t segments = 0;
        for (const auto& item : items)
            if (item.result)
                segments += item.result->value().segments.size();
        std::printf("  decoding every result on demand: %.3f s (%zu segments)\n",
                    seconds(Stopwatch::now() - start), segments);
    });
    std::printf("  load + every result decoded, peak memory: %.0f MB\n", peak);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    run(count);
    if (argc <= 1)
        run(100);
    return 0;
}
