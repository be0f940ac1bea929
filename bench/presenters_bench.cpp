// Presenter figures on the current X display (run it under Xvfb):
//   - the time from a presenter call to its first frame on screen, per type;
//   - the process's memory (RSS) over back-to-back items of each type;
//   - the gap between two consecutive pictures, with the backdrop up;
//   - with "large" among the types: the first frame and peak RSS of 24 and
//     48 megapixel JPEGs.
//
//   Xvfb :45 -screen 0 1280x720x24 & DISPLAY=:45 build/bin/presenters-bench [items [types]]
//
// items (default 200) is the number of back-to-back items per type; types
// picks some of "picture,video,web,per-item,large" (default all but large; per-item is the
// video again with a new libmpv instance for every item, for comparison). Each item
// is closed by CloseAllPresenters as soon as its first frame is on screen
// (pictures, videos) or its page has loaded and been styled (web pages).
// Needs ffmpeg for the video clip.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "platform/platform.h"
#include "playback/presenters/page_window.h"
#include "playback/presenters/window_presenters.h"

namespace zorvak {
namespace {

class AlwaysOnline final : public Connectivity {
public:
    bool IsOnline() override { return true; }
};

long RssKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

// RSS of the process's descendants (the web engine's helper processes).
long ChildrenRssKb(int pid) {
    long total = 0;
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    int child = 0;
    while (children >> child) total += RssKb(child) + ChildrenRssKb(child);
    return total;
}

bool NearColour(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 48 && std::abs(a.green() - b.green()) < 48 &&
           std::abs(a.blue() - b.blue()) < 48;
}

bool CentreIs(QColor colour) {
    QImage screen = QGuiApplication::primaryScreen()->grabWindow(0, 630, 350, 20, 20).toImage();
    return !screen.isNull() && NearColour(screen.pixelColor(10, 10), colour);
}

// Serves events until done() or timeout; returns done().
bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Stats {
    std::vector<double> ms;
    std::string Text() const {
        if (ms.empty()) return "no samples";
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        char buf[160];
        std::snprintf(buf, sizeof buf, "median %.0f ms, min %.0f ms, max %.0f ms (%zu samples)",
                      v[v.size() / 2], v.front(), v.back(), v.size());
        return buf;
    }
};

enum class Kind { Image, Video, Web, VideoPlayerPerItem };
const char* Name(Kind k) {
    switch (k) {
    case Kind::Image: return "picture";
    case Kind::Video: return "video";
    case Kind::Web: return "web page";
    case Kind::VideoPlayerPerItem: return "video, one libmpv instance per item";
    }
    return "";
}

class Bench {
public:
    Bench(const QString& dir) : dir_(dir), app_dir_(dir.toStdString()) { Renew(); }

    // New presenters, and so a new video player (libmpv instance) at the next video.
    void Renew() {
        presenters_.reset();
        PresenterSettings settings;
        settings.player.audioOutput = "null";
        presenters_ = std::make_unique<WindowPresenters>(online_, app_dir_, PictureFetch(), settings);
    }

    std::string Path(const char* name) const { return QDir(dir_).filePath(name).toStdString(); }

    // One item, closed once it is on screen. Returns the milliseconds from the
    // call to its first frame (or loaded page), -1 when it never came.
    double Item(Kind kind, const std::string& location, QColor colour) {
        double first_frame = -1;
        QElapsedTimer elapsed;
        QTimer::singleShot(0, qApp, [&] {
            bool ok = false;
            if (kind == Kind::Web) {
                ok = WaitFor([&] {
                    auto* w = presenters_->Pages();
                    return w != nullptr && w->StyledLoads() > 0 && CentreIs(colour);
                }, 20000);
            } else {
                ok = WaitFor([&] { return CentreIs(colour); }, 20000);
            }
            if (ok) first_frame = double(elapsed.nsecsElapsed()) / 1e6;
            presenters_->CloseAllPresenters();
        });
        elapsed.start();
        switch (kind) {
        case Kind::Image: presenters_->ShowImage(location, 0, MediaSource::kLocalFile); break;
        case Kind::Video:
        case Kind::VideoPlayerPerItem: presenters_->PlayVideo(location, 0, MediaSource::kLocalFile); break;
        case Kind::Web: presenters_->ShowWebPage(location, 0, MediaSource::kLocalFile); break;
        }
        return first_frame;
    }

    // Two pictures in a row with the backdrop up: from the close of the first
    // to the second's first frame on screen.
    WindowPresenters& Presenters() { return *presenters_; }

    double Gap(const std::string& a, const std::string& b) {
        QElapsedTimer since_close;
        QTimer::singleShot(0, qApp, [&] {
            WaitFor([&] { return CentreIs(Qt::red); }, 20000);
            since_close.start();
            presenters_->CloseAllPresenters();
        });
        presenters_->ShowImage(a, 0, MediaSource::kLocalFile);
        double gap = -1;
        QTimer::singleShot(0, qApp, [&] {
            if (WaitFor([&] { return CentreIs(Qt::blue); }, 20000)) {
                gap = double(since_close.nsecsElapsed()) / 1e6;
            }
            presenters_->CloseAllPresenters();
        });
        presenters_->ShowImage(b, 0, MediaSource::kLocalFile);
        return gap;
    }

private:
    QString dir_;
    FixedAppDirectory app_dir_;
    AlwaysOnline online_;
    std::unique_ptr<WindowPresenters> presenters_;
};

// The process's peak RSS (VmHWM) since the last ResetPeakRss(), in kB.
long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}
void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Camera-sized JPEGs (24 and 48 megapixels, red with noise, made by ffmpeg): the time to the
// first frame on screen (decoded at its turn, no read-ahead) and the peak RSS
// while each is read and shown.
void LargePictures(Bench& bench, const QString& d, int pid) {
    std::printf("\nLarge pictures (red JPEG, decoded at its turn):\n");
    for (const char* size : {"6000x4000", "8000x6000"}) {
        const std::string path = QDir(d).filePath(QString("large-%1.jpg").arg(size)).toStdString();
        const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i color=c=red:size=" +
                                 std::string(size) + " -vf noise=alls=20:allf=t -frames:v 1 -q:v 3 '" + path +
                                 "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) {
            std::printf("  %s skipped: ffmpeg could not make it\n", size);
            continue;
        }
        Stats first;
        long peak = 0;
        std::string error;
        for (int i = 0; i < 5; ++i) {
            ResetPeakRss();
            double ms = -1;
            try {
                ms = bench.Item(Kind::Image, path, Qt::red);
            } catch (const std::exception& e) {
                error = e.what();
            }
            peak = std::max(peak, PeakRssKb());
            if (ms >= 0) first.ms.push_back(ms);
        }
        std::printf("  %s: first frame %s; peak RSS %ld MB (now %ld MB)%s%s\n", size,
                    first.Text().c_str(), peak / 1024, RssKb(pid) / 1024,
                    error.empty() ? "" : "; error: ", error.c_str());
    }
}

int Run(int items, const std::string& only) {
    QTemporaryDir dir;
    const QString d = dir.path();
    QImage red(1920, 1080, QImage::Format_RGB32);
    red.fill(Qt::red);
    red.save(QDir(d).filePath("red.jpg"), "jpeg", 90);
    QImage blue(1920, 1080, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    blue.save(QDir(d).filePath("blue.jpg"), "jpeg", 90);
    QImage logo(320, 106, QImage::Format_ARGB32);
    logo.fill(QColor(255, 255, 255, 128));
    logo.save(QDir(d).filePath("logo.png"));
    {
        QFile page(QDir(d).filePath("red.html"));
        page.open(QIODevice::WriteOnly);
        page.write("<!DOCTYPE html><html><body style='background: rgb(255,0,0)'>"
                   "<div style='height: 3000px'></div></body></html>");
    }
    const std::string clip = QDir(d).filePath("red.mp4").toStdString();
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i "
                             "color=c=red:size=1280x720:rate=25:duration=2 -pix_fmt yuv420p "
                             "-c:v libx264 '" + clip + "' >/dev/null 2>&1";
    const bool have_clip = std::system(make.c_str()) == 0;

    Bench bench(d);
    const int pid = int(QCoreApplication::applicationPid());
    std::printf("screen %dx%d, %d items per type\n\n",
                QGuiApplication::primaryScreen()->size().width(),
                QGuiApplication::primaryScreen()->size().height(), items);

    struct Type {
        Kind kind;
        std::string location;
    };
    std::vector<Type> types = {{Kind::Image, bench.Path("red.jpg")},
                               {Kind::Web, bench.Path("red.html")}};
    if (have_clip) {
        types.insert(types.begin() + 1, {Kind::Video, clip});
        types.push_back({Kind::VideoPlayerPerItem, clip});
    }
    const char* keys[] = {"picture", "video", "web", "per-item"};
    types.erase(std::remove_if(types.begin(), types.end(),
                               [&](const Type& t) {
                                   return only.find(keys[int(t.kind)]) == std::string::npos;
                               }),
                types.end());

    std::printf("First frame on screen after the call (first 20 items), and memory:\n");
    for (const Type& type : types) {
        Stats first;
        const long before = RssKb(pid);
        long after_first = 0;
        std::ostringstream curve;
        for (int i = 1; i <= items; ++i) {
            if (type.kind == Kind::VideoPlayerPerItem) bench.Renew();
            double ms = bench.Item(type.kind, type.location, Qt::red);
            if (i <= 20 && ms >= 0) first.ms.push_back(ms);
            if (i == 1) after_first = RssKb(pid);
            if (i == 1 || i % 50 == 0 || i == items) {
                curve << " " << i << ":" << RssKb(pid) / 1024 << "MB";
            }
        }
        const long after = RssKb(pid);
        std::printf("  %s\n", Name(type.kind));
        std::printf("    first frame: %s\n", first.Text().c_str());
        std::printf("    RSS: before %ld MB, after item 1 %ld MB, after item %d %ld MB "
                    "(%+ld MB since item 1)\n    RSS by item:%s\n",
                    before / 1024, after_first / 1024, items, after / 1024,
                    (after - after_first) / 1024, curve.str().c_str());
        if (type.kind == Kind::Web) {
            std::printf("    web engine helper processes: %ld MB RSS\n", ChildrenRssKb(pid) / 1024);
        }
    }
    if (!have_clip) std::printf("  video    skipped: ffmpeg could not make a clip\n");

    if (only.find("large") != std::string::npos) LargePictures(bench, d, pid);
    if (only.find("picture") == std::string::npos) return 0;

    bench.Presenters().BeginRun();
    Stats gaps;
    for (int i = 0; i < 20; ++i) {
        double gap = bench.Gap(bench.Path("red.jpg"), bench.Path("blue.jpg"));
        if (gap >= 0) gaps.ms.push_back(gap);
    }
    bench.Presenters().EndRun();
    std::printf("\nGap between two pictures (close of the first to the second on screen, "
                "backdrop up):\n  %s\n", gaps.Text().c_str());
    return 0;
}

}  // namespace
}  // namespace zorvak

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::printf("presenters-bench needs an X display (run it under Xvfb)\n");
        return 0;
    }
    // The client's own heap settings and web engine set-up, so the figures
    // are the client's.
    zorvak::TuneHeapForLongRuns();
    zorvak::PrepareWebEngineEnvironment();
    QApplication app(argc, argv);
    const int items = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    return zorvak::Run(items, argc > 2 ? argv[2] : "picture,video,web,per-item");
}
