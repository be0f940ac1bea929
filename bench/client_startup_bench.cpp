// client-startup-bench: the time from starting zorvak-client to its first item
// on screen, with a warm cache: the store holds one valid picture item and the
// picture is already in the media cache, so start-up goes straight into loop
// play. Each run starts the built client in a fresh copy of its folder on
// $DISPLAY, watches the middle pixel of the screen until the picture (pure
// red) shows, then ends the client with SIGTERM (its quit). The first run warms
// the OS file cache and is not counted.
//
//   DISPLAY=:N client-startup-bench [RUNS]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "platform/platform.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/playlist_items.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A 1280 × 720 picture in one colour, as a 24-bit BMP.
void WriteRedBmp(const std::string& path) {
    const int w = 1280, h = 720;
    const int row = w * 3;
    const uint32_t size = 54 + static_cast<uint32_t>(row * h);
    std::vector<unsigned char> b(size, 0);
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    b[26] = 1;
    b[28] = 24;
    put32(34, static_cast<uint32_t>(row * h));
    for (int i = 54; i + 2 < static_cast<int>(size); i += 3) b[i + 2] = 255;  // BGR
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(b.data()), b.size());
}

std::string Document() {
    const zorvak::test::PlaylistItem red{
        .order_sx = 1, .f_lx = "10", .listurl = "http://127.0.0.1:9/red.bmp",
        .f_filename = "red.bmp", .online_play = 0, .play_time = 60,
        .f_startdate = "2000-01-01 00:00:00", .f_enddate = "2099-12-31 23:59:59",
        .id = 1, .playname = "red", .f_date = "2024-01-01", .remark = "", .file_md5 = "",
        .update_time = "2024-01-01"};
    return zorvak::test::Document(red.Xml(), "UTF-8");
}

bool MiddleIsRed(Display* display) {
    Window root = DefaultRootWindow(display);
    int x = DisplayWidth(display, DefaultScreen(display)) / 2;
    int y = DisplayHeight(display, DefaultScreen(display)) / 2;
    XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    unsigned long p = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    unsigned r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
    return r > 200 && g < 60 && b < 60;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("client-startup-bench: needs an X display ($DISPLAY)\n", stderr);
        return 1;
    }
    const std::string binDir = zorvak::ExecutableAppDirectory().Path();
    const fs::path work = fs::temp_directory_path() /
                          ("zorvak-startup-" + std::to_string(::getpid()));
    std::vector<double> times;
    for (int run = 0; run <= runs; ++run) {
        fs::remove_all(work);
        fs::create_directories(work / "data");
        fs::create_directories(work / "config");
        fs::copy_file(binDir + "zorvak-client", work / "zorvak-client");
        const std::string app = work.string() + "/";
        if (std::string e = zorvak::CreateEmptyStore(app + "tmpdb.mdb"); !e.empty()) {
            std::fprintf(stderr, "client-startup-bench: %s\n", e.c_str());
            return 1;
        }
        {
            zorvak::FixedAppDirectory dir(app);
            zorvak::SystemClock now;
            zorvak::PlaylistStore store(dir, now);
            store.ConnectDatabase();
            store.ImportPlaylist(Document());
        }
        WriteRedBmp(app + "data/red.bmp");
        std::ofstream(app + "dIrovede.ini") << "[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\nnoautorun=0\r\n";
        // The screen is black or something else before the client starts.
        while (MiddleIsRed(display)) std::this_thread::sleep_for(std::chrono::milliseconds(20));

        const auto t0 = Clock::now();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
            ::setenv("ZORVAK_PLAYLIST_SERVER", "127.0.0.1:9", 1);
            if (::chdir(work.c_str()) != 0) ::_exit(127);
            int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            ::execl((work / "zorvak-client").c_str(), "zorvak-client", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        bool shown = false;
        while (Clock::now() - t0 < std::chrono::seconds(30)) {
            if (MiddleIsRed(display)) {
                shown = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!shown) {
            std::fprintf(stderr, "client-startup-bench: the picture never showed\n");
            fs::remove_all(work);
            return 1;
        }
        if (run == 0) {
            std::printf("warm-up run: %.0f ms\n", ms);
            continue;
        }
        std::printf("run %d: %.0f ms to the first item on screen (exit %s)\n", run, ms,
                    WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "clean" : "not clean");
        times.push_back(ms);
    }
    fs::remove_all(work);
    std::sort(times.begin(), times.end());
    std::printf("start-up to first item, warm cache: median %.0f ms, min %.0f ms, max %.0f ms "
                "over %zu runs\n",
                times[times.size() / 2], times.front(), times.back(), times.size());
    XCloseDisplay(display);
    return 0;
}
