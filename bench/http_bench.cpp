// http-bench: the client's request loop (multi handle, pump every wait, own
// time limits) against plain curl_easy_perform on the same loopback server.
// Prints the time for one large GET streamed to a sink and for many small
// GETs (the playlist case), and the ratio of ours to plain libcurl.
//
//   build/bin/http-bench [MEGABYTES] [SMALL_REQUESTS]
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "playlist/http_client.h"
#include "tools/testserver/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

class CountingPump final : public zorvak::EventPump {
public:
    long calls = 0;
    void Pump() override { ++calls; }
};

size_t Discard(char*, size_t size, size_t count, void* userp) {
    *static_cast<std::uint64_t*>(userp) += size * count;
    return size * count;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Plain libcurl: one easy handle, default settings, body discarded.
double PlainCurl(const std::string& url, int times, std::uint64_t& bytes) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bytes);
    auto start = Clock::now();
    for (int i = 0; i < times; ++i) curl_easy_perform(easy);
    double s = Seconds(Clock::now() - start);
    curl_easy_cleanup(easy);
    return s;
}

double Ours(zorvak::HttpClient& client, const std::string& url, int times, std::uint64_t& bytes) {
    auto start = Clock::now();
    for (int i = 0; i < times; ++i) {
        zorvak::HttpRequest request{.url = url};
        request.sink = [&](std::string_view piece) {
            bytes += piece.size();
            return true;
        };
        auto r = client.Send(request);
        if (!r.ok()) std::fprintf(stderr, "request failed: %s\n", r.error.c_str());
    }
    return Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const int small = argc > 2 ? std::atoi(argv[2]) : 2000;
    zorvak::test::TestServer server;
    zorvak::test::Response big;
    big.generatedSize = megabytes * 1024 * 1024;
    big.generator = [](std::uint64_t, char* out, std::size_t n) {
        std::fill(out, out + n, 'x');
        return true;
    };
    server.Route("/big", big);
    server.Route("/getplaylist.php", zorvak::test::Response::Text(std::string(20'000, 'p')));

    CountingPump pump;
    zorvak::HttpClient client(pump);
    std::uint64_t plainBytes = 0, ourBytes = 0;
    double plainBig = PlainCurl(server.Url("/big"), 1, plainBytes);
    double ourBig = Ours(client, server.Url("/big"), 1, ourBytes);
    std::printf("one GET of %llu MB: plain libcurl %.3f s (%.0f MB/s), ours %.3f s (%.0f MB/s), "
                "ratio %.2f, %ld pump calls\n",
                static_cast<unsigned long long>(megabytes), plainBig, megabytes / plainBig, ourBig,
                megabytes / ourBig, ourBig / plainBig, pump.calls);
    if (plainBytes != ourBytes) std::printf("byte counts differ: %llu vs %llu\n",
                                            static_cast<unsigned long long>(plainBytes),
                                            static_cast<unsigned long long>(ourBytes));
    plainBytes = ourBytes = 0;
    pump.calls = 0;
    const std::string url = server.Url("/getplaylist.php?hostname=site1");
    double plainSmall = PlainCurl(url, small, plainBytes);
    double ourSmall = Ours(client, url, small, ourBytes);
    std::printf("%d GETs of 20 kB: plain libcurl %.3f s (%.0f us each), ours %.3f s (%.0f us each), "
                "ratio %.2f, %ld pump calls\n",
                small, plainSmall, plainSmall / small * 1e6, ourSmall, ourSmall / small * 1e6,
                ourSmall / plainSmall, pump.calls);
    return 0;
}
