// switch-gap-bench: what a viewer sees between two items of a play run.
//
// It runs the real client on a private Xvfb (1280 × 720) whose root window is
// painted a colour no item uses, over a loopback playlist of four pictures, a
// local web page and a video (each in a colour of its own, all in the media
// cache before the client starts), grabs the whole screen as fast as it can
// (XShm) and classifies every grab at 144 points: an item's colour, black, the
// desktop's colour, or something else. It also watches the X server for the
// presenter windows (by their captions) and notes when each one goes off the
// screen: that is when its item closed.
//
// Per kind of switch (picture → picture, picture → page, page → picture,
// picture → video, video → picture) it prints, as median and maximum over the
// switches seen:
//   black         time during which black showed anywhere between the two items
//   desktop       grabs in which the desktop showed anywhere
//   first frame   from the outgoing item's window going off the screen to the
//                 first grab that shows all of the incoming item
//   shown         how long the incoming item was on screen in full
// The first page of the run (the web engine starting) is reported on its own.
//
//   switch-gap-bench [--client DIR] [--wm PROGRAM] [--switches N] [--seconds S]
//                    [--busy N] [--keep]
//
//   --client DIR   folder with zorvak-client, zorvak-ctl, zorvak-testserver and
//                  tmpdb.mdb (default: the folder of this program)
//   --wm PROGRAM   run a window manager on the display, e.g.
//                  matchbox-window-manager (default: none)
//   --switches N   at least N switches of each kind (default 20)
//   --seconds S    play time of every item (default 2)
//   --busy N       keep N processes busy (arithmetic and memory traffic) for the
//                  whole run, to measure on a loaded machine (default 0)
//   --keep         keep the working folder (logs, media, app folder, grabs.csv)
//
// Everything it starts (Xvfb, window manager, loopback server, client, busy
// processes) is its own child and ends with it; the client runs with a
// temporary HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR in a throw-away
// application folder, and only talks to 127.0.0.1. Needs ffmpeg, Xvfb and XShm.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/playlist_items.h"

namespace fs = std::filesystem;

namespace {

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// ---- what is on screen -------------------------------------------------------

struct Rgb {
    int r, g, b;
};

// The items in play order; each shows one colour over the whole screen.
enum Kind { kPicture, kPage, kVideo };
struct Item {
    const char* file;
    const char* type;  // f_lx
    Kind kind;
    Rgb colour;
};
const Item kItems[] = {
    {"p1.jpg", "10", kPicture, {220, 40, 40}},   // red
    {"p2.jpg", "10", kPicture, {40, 190, 60}},   // green
    {"page.html", "30", kPage, {190, 50, 200}},  // magenta
    {"p3.jpg", "10", kPicture, {40, 70, 220}},   // blue
    {"video.mp4", "20", kVideo, {40, 200, 200}}, // cyan
    {"p4.jpg", "10", kPicture, {225, 205, 40}},  // yellow
};
constexpr int kItemCount = int(sizeof kItems / sizeof kItems[0]);
const Rgb kDesktop{255, 120, 0};  // orange: the root window

const char* KindName(Kind k) {
    switch (k) {
    case kPicture: return "picture";
    case kPage: return "page";
    case kVideo: return "video";
    }
    return "?";
}

// Class of one sample point: an item index, or one of these.
constexpr int kBlack = -1;
constexpr int kDesktopClass = -2;
constexpr int kOther = -3;

int Classify(const Rgb& c) {
    auto distance = [&](const Rgb& k) {
        return std::max({std::abs(c.r - k.r), std::abs(c.g - k.g), std::abs(c.b - k.b)});
    };
    if (std::max({c.r, c.g, c.b}) < 32) return kBlack;
    int best = kOther, bestDistance = 44;
    for (int i = 0; i < kItemCount; ++i) {
        int d = distance(kItems[i].colour);
        if (d < bestDistance) best = i, bestDistance = d;
    }
    if (distance(kDesktop) < bestDistance) best = kDesktopClass;
    return best;
}

// One grab, summed up.
struct Grab {
    double t;
    int item;  // the item every point shows, or -1 when the points differ
    bool black;
    bool desktop;
};

// A presenter window going off the screen (unmapped or destroyed).
struct Close {
    double t;
    std::string caption;
};

// ---- child processes -----------------------------------------------------------

std::vector<pid_t> g_children;

void StopChild(pid_t pid, int graceMs) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < graceMs / 20; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        ::usleep(20000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

void StopAll() {
    for (auto it = g_children.rbegin(); it != g_children.rend(); ++it) StopChild(*it, 5000);
    g_children.clear();
}

volatile sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }

// Starts argv with env added to this process's environment; stdout and stderr
// go to logPath (or /dev/null). The child dies with this process.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& logPath, const std::string& cwd = "") {
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::setpgid(0, 0);
        int out = ::open(logPath.empty() ? "/dev/null" : logPath.c_str(),
                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) ::dup2(in, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        for (const std::string& e : env) ::putenv(::strdup(e.c_str()));
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    g_children.push_back(pid);
    return pid;
}

// Runs a command to its end; true when it exits with 0.
bool Run(const std::vector<std::string>& argv, const std::string& logPath,
         const std::vector<std::string>& env = {}) {
    pid_t pid = Start(argv, env, logPath);
    if (pid < 0) return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    g_children.erase(std::remove(g_children.begin(), g_children.end(), pid), g_children.end());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts Xvfb on the first free display; ":N" or "".
std::string StartXvfb(const std::string& logPath) {
    int fds[2];
    if (::pipe(fds) != 0) return "";
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) return "";
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::close(fds[0]);
        int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x720x24",
                 "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    g_children.push_back(pid);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    ::close(fds[0]);
    return number.empty() ? "" : ":" + number;
}

// ---- sample media, playlist, application folder -------------------------------

std::string Hex(const Rgb& c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X%02X%02X", c.r, c.g, c.b);
    return buf;
}

bool MakeMedia(const fs::path& media, const std::string& log, double seconds) {
    for (const Item& item : kItems) {
        const std::string out = (media / item.file).string();
        const std::string colour = Hex(item.colour);
        if (item.kind == kPicture) {
            // A 1920 × 1080 JPEG with fine noise: it decodes like a photograph.
            if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                      "color=c=" + colour + ":size=1920x1080", "-vf", "noise=alls=14:allf=u",
                      "-frames:v", "1", "-q:v", "2", out},
                     log))
                return false;
        } else if (item.kind == kVideo) {
            char duration[32];
            std::snprintf(duration, sizeof duration, "%.1f", seconds * 2 + 2);
            if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                      "color=c=" + colour + ":size=1280x720:rate=25:duration=" + duration,
                      "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", out},
                     log))
                return false;
        } else {
            char css[16];
            std::snprintf(css, sizeof css, "#%02x%02x%02x", item.colour.r, item.colour.g,
                          item.colour.b);
            std::ofstream(out) << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                  "<title>page</title><style>html, body { height: 100%; "
                                  "background: " << css << "; color: " << css << "; "
                                  "font: 20px sans-serif; }</style></head><body>"
                                  "<p>A local page.</p></body></html>\n";
        }
    }
    return true;
}

std::string Playlist(const std::string& base, int seconds) {
    std::string items;
    for (int i = 0; i < kItemCount; ++i) {
        const Item& item = kItems[i];
        items += zorvak::test::PlaylistItem{.order_sx = i + 1, .f_lx = item.type,
                                            .listurl = base + "/" + item.file,
                                            .f_filename = item.file, .online_play = 0,
                                            .play_time = seconds,
                                            .f_startdate = "2000-01-01 00:00:00",
                                            .f_enddate = "2099-12-31 23:59:59", .id = i + 1,
                                            .playname = item.file, .hostname = "bench",
                                            .f_date = "2024-01-01 00:00:00", .remark = "",
                                            .file_md5 = "", .update_time = "2024-01-01"}
                     .Xml() +
                 "\n";
    }
    return zorvak::test::Document("\n" + items, "UTF-8");
}

// ---- the screen ------------------------------------------------------------------

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

std::string WindowCaption(Display* display, Window window) {
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string caption;
    if (XGetWindowProperty(display, window, netName, 0, 256, False, utf8, &type, &format, &items,
                           &after, &data) == Success &&
        data != nullptr) {
        caption.assign(reinterpret_cast<char*>(data), items);
    }
    if (data != nullptr) XFree(data);
    return caption;
}

const std::set<std::string> kCaptions = {"全屏图片", "MP4全屏播放", "全屏HTML显示"};

class ScreenWatch {
public:
    explicit ScreenWatch(Display* display) : display_(display), root_(DefaultRootWindow(display)) {
        const int screen = DefaultScreen(display);
        width_ = DisplayWidth(display, screen);
        height_ = DisplayHeight(display, screen);
        Visual* visual = DefaultVisual(display, screen);
        image_ = XShmCreateImage(display, visual, DefaultDepth(display, screen), ZPixmap, nullptr,
                                 &shm_, width_, height_);
        if (image_ == nullptr) return;
        shm_.shmid = shmget(IPC_PRIVATE, size_t(image_->bytes_per_line) * height_, IPC_CREAT | 0600);
        if (shm_.shmid < 0) return;
        shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        shm_.readOnly = False;
        ok_ = XShmAttach(display, &shm_) != 0;
        XSync(display, False);
        shmctl(shm_.shmid, IPC_RMID, nullptr);  // gone once both sides detach
        for (int gy = 0; gy < 9; ++gy)
            for (int gx = 0; gx < 16; ++gx)
                points_.push_back({(2 * gx + 1) * width_ / 32, (2 * gy + 1) * height_ / 18});
        XSelectInput(display, root_, SubstructureNotifyMask);
    }
    ~ScreenWatch() {
        if (image_ == nullptr) return;
        if (ok_) XShmDetach(display_, &shm_);
        if (shm_.shmaddr != nullptr && shm_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm_.shmaddr);
        image_->data = nullptr;
        XDestroyImage(image_);
    }
    bool Ok() const { return ok_; }

    // Paints the root window, the desktop, in one colour.
    void PaintDesktop(const Rgb& c) {
        XSetWindowBackground(display_, root_, Pixel(c));
        XClearWindow(display_, root_);
        XSync(display_, False);
    }

    Grab Take() {
        XShmGetImage(display_, root_, image_, 0, 0, AllPlanes);
        Grab g{Now(), 0, false, false};
        int first = -100;
        bool same = true;
        for (const auto& [x, y] : points_) {
            unsigned long p = XGetPixel(image_, x, y);
            Rgb c{int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)};
            int k = Classify(c);
            if (k == kBlack) g.black = true;
            if (k == kDesktopClass) g.desktop = true;
            if (first == -100) first = k;
            else if (k != first) same = false;
        }
        g.item = same && first >= 0 ? first : -1;
        return g;
    }

    // Notes presenter windows as they come and go.
    void ServeEvents(std::vector<Close>& closes) {
        while (XPending(display_) > 0) {
            XEvent e;
            XNextEvent(display_, &e);
            const double t = Now();
            switch (e.type) {
            case CreateNotify:
                XSelectInput(display_, e.xcreatewindow.window, StructureNotifyMask);
                break;
            case MapNotify: {
                Window w = e.xmap.window;
                if (captions_.count(w) == 0) {
                    std::string caption = WindowCaption(display_, w);
                    if (kCaptions.count(caption) != 0) captions_[w] = caption;
                }
                if (captions_.count(w) != 0) mapped_.insert(w);
                break;
            }
            case UnmapNotify:
            case DestroyNotify: {
                Window w = e.type == UnmapNotify ? e.xunmap.window : e.xdestroywindow.window;
                if (mapped_.erase(w) != 0) closes.push_back({t, captions_[w]});
                if (e.type == DestroyNotify) captions_.erase(w);
                break;
            }
            default:
                break;
            }
        }
    }

private:
    unsigned long Pixel(const Rgb& c) const {
        Visual* v = DefaultVisual(display_, DefaultScreen(display_));
        auto place = [](int value, unsigned long mask) {
            int shift = 0;
            while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++shift;
            return (static_cast<unsigned long>(value) & mask) << shift;
        };
        return place(c.r, v->red_mask) | place(c.g, v->green_mask) | place(c.b, v->blue_mask);
    }

    Display* display_;
    Window root_;
    int width_ = 0, height_ = 0;
    XImage* image_ = nullptr;
    XShmSegmentInfo shm_{};
    bool ok_ = false;
    std::vector<std::pair<int, int>> points_;
    std::map<Window, std::string> captions_;
    std::set<Window> mapped_;
};

// ---- figures ---------------------------------------------------------------------

struct Switch {
    int from, to;
    bool firstPage;
    double blackMs;
    int blackGrabs;
    int desktopGrabs;
    double firstFrameMs;  // -1: no close seen
    double shownMs;       // -1: the run ended while it showed
};

std::string Figure(std::vector<double> v, const char* unit = "ms") {
    if (v.empty()) return "-";
    std::sort(v.begin(), v.end());
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f / %.0f %s", v[v.size() / 2], v.back(), unit);
    return buf;
}

std::string KindOfSwitch(const Switch& s) {
    std::string name = std::string(KindName(kItems[s.from].kind)) + " -> " + KindName(kItems[s.to].kind);
    if (s.firstPage) name += " (first page)";
    return name;
}

void Report(const std::vector<Switch>& switches, int desktopGrabsInRun, int glitches,
            double glitchBlackMs) {
    std::map<std::string, std::vector<const Switch*>> byKind;
    for (const Switch& s : switches) byKind[KindOfSwitch(s)].push_back(&s);
    std::printf("%-28s %4s  %-18s %-13s %-9s %-18s %s\n", "switch", "n", "black med/max",
                "black grabs", "desktop", "first frame", "shown med/max");
    for (const auto& [name, list] : byKind) {
        std::vector<double> black, first, shown;
        int blackGrabs = 0, desktop = 0, withBlack = 0;
        for (const Switch* s : list) {
            black.push_back(s->blackMs);
            blackGrabs += s->blackGrabs;
            desktop += s->desktopGrabs;
            if (s->blackGrabs > 0) ++withBlack;
            if (s->firstFrameMs >= 0) first.push_back(s->firstFrameMs);
            if (s->shownMs >= 0) shown.push_back(s->shownMs);
        }
        char grabs[32];
        std::snprintf(grabs, sizeof grabs, "%d in %d", blackGrabs, withBlack);
        std::printf("%-28s %4zu  %-18s %-13s %-9d %-18s %s\n", name.c_str(), list.size(),
                    Figure(black).c_str(), grabs, desktop, Figure(first).c_str(),
                    Figure(shown).c_str());
    }
    std::printf("desktop grabs during the run: %d; items broken by other grabs while on "
                "screen: %d times (%.0f ms of black)\n",
                desktopGrabsInRun, glitches, glitchBlackMs);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: switch-gap-bench [--client DIR] [--wm PROGRAM] [--switches N] "
                 "[--seconds S] [--busy N] [--keep]\n");
    return 2;
}

// Keeps the machine busy: arithmetic and streaming through 64 MB, until killed.
[[noreturn]] void Busy() {
    std::vector<unsigned char> a(64 << 20, 1), b(64 << 20, 2);
    unsigned long x = 1;
    for (;;) {
        std::memcpy(a.data(), b.data(), a.size());
        for (int i = 0; i < 20000000; ++i) x = x * 6364136223846793005UL + 1442695040888963407UL;
        b[x % b.size()] = static_cast<unsigned char>(x);
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path clientDir = fs::read_symlink("/proc/self/exe").parent_path();
    std::string wm;
    int wanted = 20, seconds = 2, busy = 0;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--client") clientDir = value();
        else if (a == "--wm") wm = value();
        else if (a == "--switches") wanted = std::max(1, std::atoi(value().c_str()));
        else if (a == "--seconds") seconds = std::max(1, std::atoi(value().c_str()));
        else if (a == "--busy") busy = std::max(0, std::atoi(value().c_str()));
        else if (a == "--keep") keep = true;
        else return Usage();
    }
    clientDir = fs::absolute(clientDir);
    for (const char* f : {"zorvak-client", "zorvak-ctl", "zorvak-testserver", "tmpdb.mdb"}) {
        if (!fs::exists(clientDir / f)) {
            std::fprintf(stderr, "switch-gap-bench: %s is missing in %s\n", f, clientDir.c_str());
            return 1;
        }
    }
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);

    char pattern[] = "/tmp/zorvak-switch.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const fs::path work = pattern;
    const fs::path media = work / "server", app = work / "app", logs = work / "logs";
    for (const fs::path& p : {media, app / "data", logs, work / "home", work / "config",
                              work / "runtime"})
        fs::create_directories(p);
    fs::permissions(work / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const std::string log = (logs / "setup.log").string();
    int status = 1;

    auto finish = [&](int code) {
        StopAll();
        if (!keep) fs::remove_all(work);
        else std::printf("working folder kept: %s\n", work.c_str());
        return code;
    };

    std::printf("switch-gap-bench: client %s, window manager %s, %d busy processes, items of "
                "%d s\n", clientDir.c_str(), wm.empty() ? "none" : wm.c_str(), busy, seconds);
    std::fflush(stdout);
    if (!MakeMedia(media, log, seconds)) {
        std::fprintf(stderr, "switch-gap-bench: ffmpeg could not make the media (%s)\n", log.c_str());
        keep = true;
        return finish(1);
    }

    // Loopback server and playlist.
    const std::string serverLog = (logs / "server.log").string();
    Start({(clientDir / "zorvak-testserver").string(), "--port", "0", media.string()}, {}, serverLog);
    std::string hostPort;
    for (int i = 0; i < 200 && hostPort.empty(); ++i) {
        std::ifstream in(serverLog);
        std::string line;
        while (std::getline(in, line)) {
            auto at = line.find("listening on http://");
            if (at != std::string::npos) hostPort = line.substr(at + 20);
        }
        if (hostPort.empty()) ::usleep(50000);
    }
    if (hostPort.empty()) {
        std::fprintf(stderr, "switch-gap-bench: the loopback server did not start\n");
        keep = true;
        return finish(1);
    }
    std::ofstream(media / "playlist.xml") << Playlist("http://" + hostPort, seconds);

    // Application folder, store and media cache filled before the client starts.
    for (const char* f : {"zorvak-client", "zorvak-ctl", "tmpdb.mdb"})
        fs::copy_file(clientDir / f, app / f, fs::copy_options::overwrite_existing);
    std::ofstream(app / "dIrovede.ini") << "[PLAYLIST]\r\nKEYWORD=bench\r\nnoautorun=0\r\n";
    const std::string ctl = (app / "zorvak-ctl").string();
    bool primed = Run({ctl, "fetch", "--appdir", app.string(), "--server", hostPort,
                       "--assume-online"},
                      log);
    for (const Item& item : kItems) {
        primed = primed && Run({ctl, "download", "--appdir", app.string(), "--assume-online",
                                item.file, "http://" + hostPort + "/" + item.file},
                               log);
    }
    if (!primed) {
        std::fprintf(stderr, "switch-gap-bench: the store or the cache could not be filled (%s)\n",
                     log.c_str());
        keep = true;
        return finish(1);
    }

    // Display, desktop colour, window manager.
    const std::string display = StartXvfb((logs / "xvfb.log").string());
    if (display.empty()) {
        std::fprintf(stderr, "switch-gap-bench: Xvfb did not start\n");
        return finish(1);
    }
    ::setenv("DISPLAY", display.c_str(), 1);
    Display* x = XOpenDisplay(display.c_str());
    if (x == nullptr) {
        std::fprintf(stderr, "switch-gap-bench: cannot open %s\n", display.c_str());
        return finish(1);
    }
    XSetErrorHandler(IgnoreXErrors);
    {
        ScreenWatch screen(x);
        if (!screen.Ok()) {
            std::fprintf(stderr, "switch-gap-bench: XShm is not available on %s\n", display.c_str());
            XCloseDisplay(x);
            return finish(1);
        }
        if (!wm.empty()) {
            Start({wm}, {"DISPLAY=" + display}, (logs / "wm.log").string());
            XWindowAttributes root{};
            bool managing = false;
            for (int i = 0; i < 200 && !managing; ++i) {
                XGetWindowAttributes(x, DefaultRootWindow(x), &root);
                managing = (root.all_event_masks & SubstructureRedirectMask) != 0;
                if (!managing) ::usleep(50000);
            }
            if (!managing) {
                std::fprintf(stderr, "switch-gap-bench: %s did not take the screen\n", wm.c_str());
                XCloseDisplay(x);
                return finish(1);
            }
            ::usleep(500000);
        }
        screen.PaintDesktop(kDesktop);
        for (int i = 0; i < busy; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                Busy();
            }
            if (pid > 0) g_children.push_back(pid);
        }

        // The client, in its throw-away folder, talking to the loopback server.
        const std::vector<std::string> env = {
            "DISPLAY=" + display,
            "HOME=" + (work / "home").string(),
            "XDG_CONFIG_HOME=" + (work / "config").string(),
            "XDG_RUNTIME_DIR=" + (work / "runtime").string(),
            "XDG_CACHE_HOME=" + (work / "home" / ".cache").string(),
            "XDG_DATA_HOME=" + (work / "home" / ".local" / "share").string(),
            "ZORVAK_PLAYLIST_SERVER=" + hostPort,
            "QT_QPA_PLATFORM=xcb",
        };
        const double started = Now();
        const pid_t client =
            Start({(app / "zorvak-client").string()}, env, (logs / "client.log").string(), app.string());

        // Grab until every kind of switch has been seen often enough.
        std::vector<Grab> grabs;
        grabs.reserve(1 << 20);
        std::vector<Close> closes;
        const double limit = started + 60 + double(wanted + 2) * kItemCount * (seconds + 1.5);
        std::map<std::string, int> seen;
        int lastItem = -1;
        bool clientEnded = false;
        while (!g_interrupted && Now() < limit) {
            grabs.push_back(screen.Take());
            screen.ServeEvents(closes);
            const Grab& g = grabs.back();
            if (g.item >= 0 && g.item != lastItem) {
                if (lastItem >= 0) {
                    seen[std::string(KindName(kItems[lastItem].kind)) + KindName(kItems[g.item].kind)]++;
                }
                lastItem = g.item;
                bool enough = seen.size() >= 5;
                for (const auto& [k, n] : seen) enough = enough && n >= wanted + 1;
                if (enough) break;
            }
            if ((grabs.size() & 0xff) == 0 && ::waitpid(client, nullptr, WNOHANG) == client) {
                clientEnded = true;
                g_children.erase(std::remove(g_children.begin(), g_children.end(), client),
                                 g_children.end());
                break;
            }
        }
        const double grabbing = grabs.empty() ? 0 : grabs.back().t - grabs.front().t;
        std::printf("grabs: %zu in %.0f s (%.0f per second)%s\n", grabs.size(), grabbing,
                    grabbing > 0 ? double(grabs.size()) / grabbing : 0.0,
                    clientEnded ? "; the client ended by itself" : "");

        // Showings: from the first grab that shows an item in full to the last
        // one before another item shows in full. Grabs in between that are not
        // that item in full (black, mixed) split it into pieces.
        struct Showing {
            int item;
            size_t first, last;  // grab indexes of the first and last full grab
            int pieces;
            double blackMs;  // black between its pieces
        };
        std::vector<Showing> showings;
        auto span = [&](size_t i) {
            return i + 1 < grabs.size() ? (grabs[i + 1].t - grabs[i].t) * 1000 : 0.0;
        };
        for (size_t i = 0; i < grabs.size(); ++i) {
            if (grabs[i].item < 0) continue;
            if (!showings.empty() && showings.back().item == grabs[i].item) {
                Showing& s = showings.back();
                if (s.last + 1 != i) {
                    ++s.pieces;
                    for (size_t k = s.last + 1; k < i; ++k)
                        if (grabs[k].black) s.blackMs += span(k);
                }
                s.last = i;
            } else {
                showings.push_back({grabs[i].item, i, i, 1, 0});
            }
        }
        std::vector<Switch> switches;
        int glitches = 0, desktopInRun = 0;
        double glitchBlack = 0;
        bool pageSeen = false;
        for (size_t s = 0; s < showings.size(); ++s) {
            glitches += showings[s].pieces - 1;
            glitchBlack += showings[s].blackMs;
            for (size_t i = showings[s].first; i <= showings[s].last; ++i)
                if (grabs[i].desktop) ++desktopInRun;
            if (s + 1 == showings.size()) break;
            const Showing& a = showings[s];
            const Showing& b = showings[s + 1];
            Switch sw{a.item, b.item, false, 0, 0, 0, -1, -1};
            for (size_t i = a.last + 1; i < b.first; ++i) {
                if (grabs[i].black) sw.blackMs += span(i), ++sw.blackGrabs;
                if (grabs[i].desktop) ++sw.desktopGrabs;
            }
            desktopInRun += sw.desktopGrabs;
            if (kItems[b.item].kind == kPage && !pageSeen) sw.firstPage = true;
            if (kItems[b.item].kind == kPage) pageSeen = true;
            const double from = grabs[a.first].t, to = grabs[b.first].t;
            for (const Close& c : closes) {
                if (c.t > from && c.t <= to) sw.firstFrameMs = (to - c.t) * 1000;
            }
            if (s + 2 < showings.size()) sw.shownMs = (grabs[b.last].t - grabs[b.first].t) * 1000 + span(b.last);
            switches.push_back(sw);
        }
        if (!switches.empty()) {
            Report(switches, desktopInRun, glitches, glitchBlack);
            status = 0;
        } else {
            std::printf("no switch seen (see %s)\n", (logs / "client.log").c_str());
            keep = true;
        }
        if (keep) {
            std::ofstream csv(work / "grabs.csv");
            csv << "t,item,black,desktop\n";
            for (const Grab& g : grabs)
                csv << g.t - started << "," << g.item << "," << g.black << "," << g.desktop << "\n";
            std::ofstream c(work / "closes.csv");
            for (const Close& cl : closes) c << cl.t - started << "," << cl.caption << "\n";
        }
        // The client quits on SIGTERM as from its tray menu.
        if (!clientEnded) {
            StopChild(client, 10000);
            g_children.erase(std::remove(g_children.begin(), g_children.end(), client),
                             g_children.end());
        }
    }
    XCloseDisplay(x);
    return finish(status);
}
