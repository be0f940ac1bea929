// What the screen shows while a run goes from one item to the next: the
// outgoing item's frame until the incoming item's own, never the backdrop's
// black and never the desktop. A second X connection on a thread of its own
// samples the screen the whole time, since the switch itself runs on the GUI
// thread without serving events.
#include <QPainter>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "presenter_test_env.h"

// After Qt's headers: Xlib defines Bool, Status and the like as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zorvak {
namespace {

using namespace zorvak::test;

const QColor kRed(220, 40, 40);
const QColor kBlue(40, 70, 220);
const QColor kDesktopGreen(0, 200, 0);

enum class Seen { Red, Blue, Black, Desktop, Other };

const char* Name(Seen s) {
    switch (s) {
    case Seen::Red: return "red";
    case Seen::Blue: return "blue";
    case Seen::Black: return "black";
    case Seen::Desktop: return "desktop";
    case Seen::Other: return "other";
    }
    return "?";
}

Seen Classify(QColor c) {
    if (Near(c, kRed, 40)) return Seen::Red;
    if (Near(c, kBlue, 40)) return Seen::Blue;
    if (Near(c, kDesktopGreen, 40)) return Seen::Desktop;
    if (std::max({c.red(), c.green(), c.blue()}) < 32) return Seen::Black;
    return Seen::Other;
}

// Points the sampler reads: every 64th pixel of three rows across the
// screen, so that every 256-pixel tile a page is drawn in has some.
constexpr int kRows[] = {100, 360, 620};
constexpr int kPointsPerRow = 20;
constexpr int kPoints = 3 * kPointsPerRow;
using Sample = std::array<Seen, kPoints>;

// Reads those points of the screen over and over on its own connection, from
// construction until Stop().
class ScreenSampler {
public:
    ScreenSampler() {
        display_ = XOpenDisplay(nullptr);
        if (display_ != nullptr) thread_ = std::thread([this] { Run(); });
    }
    ~ScreenSampler() { Stop(); }
    bool Ok() const { return display_ != nullptr; }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (display_ != nullptr) XCloseDisplay(display_);
        display_ = nullptr;
    }
    // One entry per sample: what each point showed.
    std::vector<Sample> Samples() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }

private:
    void Run() {
        const Window root = DefaultRootWindow(display_);
        while (!stop_) {
            Sample sample{};
            for (int row = 0; row < 3; ++row) {
                XImage* image = XGetImage(display_, root, 0, kRows[row], 1280, 1, AllPlanes, ZPixmap);
                if (image == nullptr) return;
                for (int i = 0; i < kPointsPerRow; ++i) {
                    const unsigned long p = XGetPixel(image, 32 + 64 * i, 0);
                    sample[row * kPointsPerRow + i] = Classify(
                        QColor(int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)));
                }
                XDestroyImage(image);
            }
            std::lock_guard<std::mutex> lock(mutex_);
            samples_.push_back(sample);
        }
    }

    Display* display_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Sample> samples_;
};

bool All(const Sample& sample, Seen s) {
    return std::all_of(sample.begin(), sample.end(), [s](Seen seen) { return seen == s; });
}

enum class Incoming { Picture, Page, Video };

const char* Name(Incoming k) {
    switch (k) {
    case Incoming::Picture: return "Picture";
    case Incoming::Page: return "Page";
    case Incoming::Video: return "Video";
    }
    return "?";
}

// A 1920 x 1080 picture of one colour, each pixel off by up to 12 per channel.
QImage Noisy(QColor colour) {
    QImage image(1920, 1080, QImage::Format_RGB32);
    unsigned seed = 12345;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1103515245u + 12345u;
            const int d = int((seed >> 16) % 25) - 12;
            line[x] = qRgb(std::clamp(colour.red() + d, 0, 255),
                           std::clamp(colour.green() - d, 0, 255),
                           std::clamp(colour.blue() + d, 0, 255));
        }
    }
    return image;
}

struct SwitchCase {
    Incoming incoming;
    const char* windowManager;  // nullptr: none
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
    *os << Name(c.incoming) << (c.windowManager != nullptr ? " under " : "")
        << (c.windowManager != nullptr ? c.windowManager : "");
}

class ItemSwitch : public ::testing::TestWithParam<SwitchCase> {
protected:
    void SetUp() override {
        ZORVAK_NEEDS_DISPLAY();
        if (GetParam().windowManager != nullptr) {
            manager_ = std::make_unique<WindowManager>(GetParam().windowManager);
            ASSERT_TRUE(manager_->Running()) << GetParam().windowManager << " did not take the screen";
        }
        // Pictures larger than the screen with fine noise: they take as long to
        // decode and scale as photographs do.
        ASSERT_TRUE(Noisy(kRed).save(QString::fromStdString(folder_.File("red.jpg")), "JPEG", 95));
        ASSERT_TRUE(Noisy(kBlue).save(QString::fromStdString(folder_.File("blue.jpg")), "JPEG", 95));
        QFile page(QString::fromStdString(folder_.File("blue.html")));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        // Taller than the screen until it is styled (its body's margin):
        // the styling takes the scroll bar away, and the page is laid out
        // and drawn again after its first frame.
        page.write("<!DOCTYPE html><html><head><style>html, body { height: 100%; "
                   "background: rgb(40,70,220); color: rgb(40,70,220); }</style></head>"
                   "<body><p>blue</p></body></html>");
        page.close();
        if (GetParam().incoming == Incoming::Video &&
            !MakeClip(folder_.File("blue.mp4"), "0x2846DC", 8.0, "1280x720")) {
            GTEST_SKIP() << "ffmpeg cannot make a clip";
        }
    }
    std::unique_ptr<WindowManager> manager_;
    TempFolder folder_;
    FixedAppDirectory appDir_{folder_.Path()};
    SwitchConnectivity online_;
};

// From the moment the red picture covers the screen until the incoming blue
// item covers it, every sample shows red or blue: the backdrop's black and
// the desktop never show, whatever the incoming item needs to get its first
// frame ready (decoding, loading and rendering a page, opening a clip).
TEST_P(ItemSwitch, TheOutgoingFrameStaysUntilTheIncomingItemIsPainted) {
    QWidget desktop;  // stands for the desktop and the windows on it
    desktop.setPalette(QPalette(kDesktopGreen));
    desktop.setAutoFillBackground(true);
    desktop.setGeometry(0, 0, 1280, 720);
    desktop.show();
    ASSERT_TRUE(WaitForPixel(640, 360, kDesktopGreen, 5000));

    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    if (GetParam().incoming == Incoming::Page) {
        // The web engine's start-up (its first page ever) is not what is
        // measured here.
        presenters.ShowWebPage(folder_.File("blue.html"), 1, MediaSource::kLocalFile);
    }

    presenters.BeginRun();
    ScreenSampler sampler;
    ASSERT_TRUE(sampler.Ok());
    presenters.ShowImage(folder_.File("red.jpg"), 1, MediaSource::kLocalFile);
    Spin(30);  // the play loop serves events between two items
    switch (GetParam().incoming) {
    case Incoming::Picture:
        presenters.ShowImage(folder_.File("blue.jpg"), 1, MediaSource::kLocalFile);
        break;
    case Incoming::Page:
        presenters.ShowWebPage(folder_.File("blue.html"), 2, MediaSource::kLocalFile);
        break;
    case Incoming::Video:
        presenters.PlayVideo(folder_.File("blue.mp4"), 3, MediaSource::kLocalFile);
        break;
    }
    sampler.Stop();
    presenters.EndRun();

    const auto samples = sampler.Samples();
    size_t redFrom = samples.size(), blueFrom = samples.size();
    for (size_t i = 0; i < samples.size(); ++i) {
        if (redFrom == samples.size() && All(samples[i], Seen::Red)) redFrom = i;
        if (redFrom < i && All(samples[i], Seen::Blue)) {
            blueFrom = i;
            break;
        }
    }
    ASSERT_LT(redFrom, samples.size()) << "the red picture never covered the screen";
    ASSERT_LT(blueFrom, samples.size()) << "the incoming item never covered the screen";
    int strays = 0;
    std::string first;
    for (size_t i = redFrom; i < samples.size(); ++i) {
        for (Seen s : samples[i]) {
            if (s == Seen::Red || s == Seen::Blue) continue;
            if (strays++ == 0) first = Name(s);
        }
    }
    EXPECT_EQ(strays, 0) << strays << " points of " << (samples.size() - redFrom)
                         << " samples from the red picture on showed neither item, the first "
                         << first;
}

INSTANTIATE_TEST_SUITE_P(
    FromAPicture, ItemSwitch,
    ::testing::Values(SwitchCase{Incoming::Picture, nullptr}, SwitchCase{Incoming::Page, nullptr},
                      SwitchCase{Incoming::Video, nullptr},
                      SwitchCase{Incoming::Picture, "matchbox-window-manager"},
                      SwitchCase{Incoming::Page, "matchbox-window-manager"},
                      SwitchCase{Incoming::Video, "matchbox-window-manager"}),
    [](const auto& info) {
        return std::string(Name(info.param.incoming)) +
               (info.param.windowManager != nullptr ? "UnderMatchbox" : "");
    });

// The frame a backdrop holds is what the screen shows where the presenter was,
// and letting it go (or the run's end) takes it off.
TEST(HeldFrame, TheBackdropShowsTheOutgoingPixelsAfterTheWindowWent) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    // Four quarters, so a frame shown shifted or scaled would not pass.
    QImage quarters(1280, 720, QImage::Format_RGB32);
    {
        QPainter p(&quarters);
        p.fillRect(0, 0, 640, 360, kRed);
        p.fillRect(640, 0, 640, 360, kBlue);
        p.fillRect(0, 360, 640, 360, kBlue);
        p.fillRect(640, 360, 640, 360, kRed);
    }
    ASSERT_TRUE(quarters.save(QString::fromStdString(folder.File("q.png"))));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    presenters.BeginRun();
    After(0, [&] {
        WaitForPixel(100, 100, kRed, 5000);
        Spin(100);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("q.png"), 0, MediaSource::kLocalFile);
    ASSERT_EQ(PresenterWindowsAlive("PictureWindow"), 0);
    Spin(300);  // the backdrop has been exposed and repainted meanwhile
    const QImage held = GrabScreen();
    presenters.EndRun();

    struct Probe {
        int x, y;
        QColor colour;
    } probes[] = {{100, 100, kRed}, {1180, 100, kBlue}, {100, 620, kBlue}, {1180, 620, kRed}};
    for (const Probe& p : probes) {
        EXPECT_TRUE(Near(held.pixelColor(p.x, p.y), p.colour))
            << p.x << "," << p.y << ": " << Describe(held.pixelColor(p.x, p.y));
    }

    // A new run starts black again, with nothing held from the last one.
    presenters.BeginRun();
    EXPECT_TRUE(WaitForPixel(100, 100, Qt::black, 5000));
    EXPECT_TRUE(WaitForPixel(1180, 100, Qt::black, 5000));
    presenters.EndRun();
}

}  // namespace
}  // namespace zorvak
