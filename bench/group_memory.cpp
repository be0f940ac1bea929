// group-memory: the memory a group of processes takes together, each page of
// physical memory counted once.
//
//   group-memory PID [PID...]
//
// Prints one line: "<unique KiB> <rss KiB> <swap KiB>", where
//   unique  the resident pages of all the processes, a page shared by several
//           of them (a library mapped by the client and by each web-engine
//           helper, memory a helper shares with the zygote it was forked from)
//           counted once;
//   rss     the sum of the processes' resident sizes, for comparison: it counts
//           a shared page once per process that maps it;
//   swap    the processes' pages in swap (summed, not deduplicated).
// A process that has gone while it was read is left out.
//
// The physical page of each resident page is read from /proc/PID/pagemap,
// which gives page frame numbers only to a process with CAP_SYS_ADMIN: without
// it the program says so and exits with status 2. It reads; it changes nothing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kPresent = 1ULL << 63;
constexpr std::uint64_t kSwapped = 1ULL << 62;
constexpr std::uint64_t kFrameMask = (1ULL << 55) - 1;

struct Range {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// The mappings of a process that have resident or swapped pages (from smaps),
// and the process's resident size in KiB.
bool ReadRanges(int pid, std::vector<Range>& ranges, std::uint64_t& rssKb) {
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    if (!smaps) return false;
    std::string line;
    Range current;
    bool inUse = false;
    auto flush = [&] {
        if (inUse && current.end > current.start) ranges.push_back(current);
        inUse = false;
    };
    while (std::getline(smaps, line)) {
        unsigned long long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx ", &start, &end) == 2 &&
            line.find(':') > line.find(' ')) {
            flush();
            current = {start, end};
            continue;
        }
        unsigned long long kb = 0;
        if (std::sscanf(line.c_str(), "Rss: %llu kB", &kb) == 1) {
            rssKb += kb;
            if (kb > 0) inUse = true;
        } else if (std::sscanf(line.c_str(), "Swap: %llu kB", &kb) == 1 && kb > 0) {
            inUse = true;
        }
    }
    flush();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: group-memory PID [PID...]\n");
        return 1;
    }
    const long pageSize = sysconf(_SC_PAGESIZE);
    std::vector<std::uint64_t> frames;
    std::uint64_t rssKb = 0;
    std::uint64_t swappedPages = 0;
    bool framesHidden = false;
    for (int i = 1; i < argc; ++i) {
        const int pid = std::atoi(argv[i]);
        if (pid <= 0) continue;
        std::vector<Range> ranges;
        std::uint64_t processRss = 0;
        if (!ReadRanges(pid, ranges, processRss)) continue;
        const int fd = open(("/proc/" + std::to_string(pid) + "/pagemap").c_str(), O_RDONLY);
        if (fd < 0) continue;
        rssKb += processRss;
        std::vector<std::uint64_t> entries;
        for (const Range& range : ranges) {
            const std::uint64_t first = range.start / std::uint64_t(pageSize);
            const std::uint64_t count = (range.end - range.start) / std::uint64_t(pageSize);
            entries.resize(count);
            const ssize_t bytes = pread(fd, entries.data(), count * sizeof(std::uint64_t),
                                        off_t(first * sizeof(std::uint64_t)));
            if (bytes <= 0) continue;
            const std::size_t read = std::size_t(bytes) / sizeof(std::uint64_t);
            for (std::size_t k = 0; k < read; ++k) {
                const std::uint64_t entry = entries[k];
                if (entry & kPresent) {
                    const std::uint64_t frame = entry & kFrameMask;
                    if (frame == 0) framesHidden = true;
                    else frames.push_back(frame);
                } else if (entry & kSwapped) {
                    ++swappedPages;
                }
            }
        }
        close(fd);
    }
    if (framesHidden && frames.empty()) {
        std::fprintf(stderr, "group-memory: page frame numbers are hidden (needs CAP_SYS_ADMIN)\n");
        return 2;
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    const std::uint64_t pageKb = std::uint64_t(pageSize) / 1024;
    std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(frames.size() * pageKb),
                static_cast<unsigned long long>(rssKb),
                static_cast<unsigned long long>(swappedPages * pageKb));
    return 0;
}
