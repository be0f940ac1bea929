// play-log-bench [ITEMS] [FOLDER]: what keeping proof of play costs the GUI
// thread. Each item shown ends with one call of the play loop's observer
// (PlayRecorder: one prepared insert into playlog.db, WAL, synchronous
// NORMAL); this times that call for ITEMS items (default 5000) in a fresh
// playlog.db in FOLDER (default: a new folder under the current one, so the
// figures are those of the disk the client would use, not of a RAM /tmp).
// Then it fills 90 days of records at 2,000 items a day and times the first
// record of the next day, which trims what has grown older than 90 days.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "playback/play_recorder.h"
#include "playlist/play_log.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

zorvak::PlayedItem Item(const zorvak::LocalDateTime& when, int n) {
    zorvak::PlayedItem item;
    item.started = when;
    item.ended = when;
    item.rowId = n % 40 + 1;
    item.playname = "早餐广告 " + std::to_string(n % 40);
    item.fileName = "picture" + std::to_string(n % 40) + ".jpg";
    item.type = "10";
    item.end = {zorvak::ItemEndCause::kTimeUp, {}};
    return item;
}

zorvak::LocalDateTime DayPlus(int dayIndex, int secondOfDay) {
    // Days from 2026-01-01, spelt out month by month (90 days fit in Jan–Apr).
    static const int kMonthDays[] = {31, 28, 31, 30, 31};
    int month = 1, day = dayIndex + 1;
    while (day > kMonthDays[month - 1]) day -= kMonthDays[month++ - 1];
    return {2026, month, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
}

}  // namespace

int main(int argc, char** argv) {
    const int items = argc > 1 ? std::atoi(argv[1]) : 5000;
    std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::current_path() / ("play-log-bench." + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string dirText = folder.string() + "/";
    std::filesystem::remove(dirText + zorvak::PlayLog::kFileName);

    zorvak::FixedAppDirectory dir(dirText);
    zorvak::SettableClock clock({2026, 5, 1, 8, 0, 0});
    {
        zorvak::PlayLog log(dir, clock);
        if (!log.Open()) {
            std::fprintf(stderr, "play-log-bench: cannot open %s%s\n", dirText.c_str(),
                         zorvak::PlayLog::kFileName);
            return 1;
        }
        zorvak::PlayRecorder recorder(log);
        std::vector<double> times;
        times.reserve(static_cast<std::size_t>(items));
        // The client's refresh fetches once a minute and checkpoints the log
        // after it: here after every sixth item (10 s items).
        constexpr int kItemsPerFetch = 6;
        std::vector<double> checkpoints;
        for (int i = 0; i < items; ++i) {
            const zorvak::PlayedItem item = Item(clock.Now(), i);
            const auto start = Clock::now();
            recorder.ItemPlayed(item);
            times.push_back(Micros(Clock::now() - start));
            if ((i + 1) % kItemsPerFetch == 0) {
                const auto before = Clock::now();
                log.Checkpoint();
                checkpoints.push_back(Micros(Clock::now() - before));
            }
        }
        std::sort(checkpoints.begin(), checkpoints.end());
        std::sort(times.begin(), times.end());
        double sum = 0;
        for (double t : times) sum += t;
        auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
        std::printf("play record (GUI thread, one item), %d items in %s:\n", items, dirText.c_str());
        std::printf("  median %.1f us, mean %.1f us, p99 %.1f us, max %.1f us\n", at(0.5),
                    sum / static_cast<double>(times.size()), at(0.99), times.back());
        if (!checkpoints.empty()) {
            std::printf("checkpoint after a fetch (every %d items), %zu of them:\n"
                        "  median %.1f us, max %.1f us\n",
                        kItemsPerFetch, checkpoints.size(),
                        checkpoints[checkpoints.size() / 2], checkpoints.back());
        }
    }

    // 90 days at 2,000 items a day, then the first item of day 91, which
    // trims the oldest day.
    std::filesystem::remove(dirText + zorvak::PlayLog::kFileName);
    std::filesystem::remove(dirText + zorvak::PlayLog::kFileName + std::string("-wal"));
    std::filesystem::remove(dirText + zorvak::PlayLog::kFileName + std::string("-shm"));
    constexpr int kDays = 90, kPerDay = 2000;
    clock.Set(DayPlus(0, 0));
    zorvak::PlayLog log(dir, clock);
    log.Open();
    zorvak::PlayRecorder recorder(log);
    for (int d = 0; d < kDays; ++d) {
        for (int i = 0; i < kPerDay; ++i) {
            clock.Set(DayPlus(d, i * 40));
            recorder.ItemPlayed(Item(clock.Now(), i));
        }
    }
    clock.Set(DayPlus(kDays, 3600));
    const auto start = Clock::now();
    recorder.ItemPlayed(Item(clock.Now(), 0));
    std::printf("the first record of a new day, with the trim over %d records: %.1f ms\n",
                kDays * kPerDay, Micros(Clock::now() - start) / 1000.0);
    if (argc <= 2) std::filesystem::remove_all(folder);
    return 0;
}
