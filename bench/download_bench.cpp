// Media download throughput and memory against curl(1), both fetching the same
// 200 MB body from a loopback server in this process.
//
//   download-bench [MEGABYTES]
//
// Prints the throughput of DownloadMediaFile and of `curl -s -o` on the same
// URL (best of three runs each, alternating), their ratio, and the growth of
// this process's peak resident memory (VmHWM) across the downloads. Goals:
// at least 0.8 times curl's throughput, resident growth under 32 MB.
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/app_directory.h"
#include "core/event_pump.h"
#include "platform/platform.h"
#include "playlist/media_download.h"
#include "tools/testserver/test_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class AlwaysOnline final : public zorvak::Connectivity {
public:
    bool IsOnline() override { return true; }
};

long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs curl -s -o out url; returns the elapsed seconds, or a negative value on failure.
double RunCurl(const std::string& url, const std::string& out) {
    const char* argv[] = {"/usr/bin/curl", "-s", "--noproxy", "*", "-o", out.c_str(),
                          url.c_str(), nullptr};
    Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    double elapsed = Seconds(Clock::now() - start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const std::uint64_t size = megabytes * 1000 * 1000;

    zorvak::test::TestServer server;
    zorvak::test::Response body;
    body.generatedSize = size;
    body.generator = [](std::uint64_t offset, char* out, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i)
            out[i] = static_cast<char>((offset + i) * 131 >> 3);
        return true;
    };
    server.Route("/big.bin", body);
    const std::string url = server.Url("/big.bin");

    fs::path folder = fs::temp_directory_path() / ("zorvak-download-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    zorvak::FixedAppDirectory dir(folder.string());
    AlwaysOnline online;
    zorvak::NullEventPump pump;
    zorvak::MediaDownloader downloader(dir, online, pump, [](const std::string& text) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    });
    const std::string cached = zorvak::MediaCachePath(dir, "big.bin");
    const std::string curlOut = (folder / "curl.bin").string();

    const long hwmBefore = PeakResidentKb();
    double bestOurs = 1e9, bestCurl = 1e9;
    for (int round = 0; round < 3; ++round) {
        fs::remove(cached);
        Clock::time_point start = Clock::now();
        bool ok = false;
        try {
            ok = downloader.DownloadMediaFile("big.bin", url);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "download failed: %s\n", e.what());
            return 1;
        }
        double ours = Seconds(Clock::now() - start);
        if (!ok || fs::file_size(cached) != size) {
            std::fprintf(stderr, "download did not complete\n");
            return 1;
        }
        bestOurs = std::min(bestOurs, ours);

        fs::remove(curlOut);
        double curl = RunCurl(url, curlOut);
        if (curl < 0 || fs::file_size(curlOut) != size) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        bestCurl = std::min(bestCurl, curl);
        std::printf("round %d: DownloadMediaFile %.3f s, curl %.3f s\n", round + 1, ours, curl);
    }
    const long hwmAfter = PeakResidentKb();
    fs::remove_all(folder);

    const double mb = static_cast<double>(size) / 1e6;
    const double oursRate = mb / bestOurs, curlRate = mb / bestCurl;
    const double growthMb = (hwmAfter - hwmBefore) / 1024.0;
    std::printf("body: %llu MB from %s\n", static_cast<unsigned long long>(megabytes), url.c_str());
    std::printf("DownloadMediaFile: %.1f MB/s (best of 3)\n", oursRate);
    std::printf("curl -s -o:        %.1f MB/s (best of 3)\n", curlRate);
    std::printf("throughput ratio:  %.2f x curl (goal >= 0.80)\n", oursRate / curlRate);
    std::printf("peak resident:     %ld kB before, %ld kB after, growth %.1f MB (goal < 32)\n",
                hwmBefore, hwmAfter, growthMb);
    return 0;
}
