#include <QElapsedTimer>
#include <QLabel>

#include "playback/presenters/video_window.h"
#include "presenter_test_env.h"

#include <iterator>
#include <vector>

// After Qt's headers: Xlib defines Bool, Status and the like as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zorvak {
namespace {

// Marks the child windows of an X window (a property of our own on each) and
// tells how many there are and how many of them were marked already: a window
// destroyed and made again does not have the mark, even under the same id.
struct MarkedChildren {
    unsigned count = 0;
    unsigned markedBefore = 0;
};
MarkedChildren MarkChildWindows(WId window) {
    MarkedChildren seen;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return seen;
    const Atom mark = XInternAtom(display, "ZORVAK_TEST_MARK", False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    if (XQueryTree(display, Window(window), &root, &parent, &children, &seen.count) != 0) {
        for (unsigned i = 0; i < seen.count; ++i) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, children[i], mark, 0, 1, False, AnyPropertyType, &type,
                                   &format, &items, &after, &data) == Success &&
                type != None) {
                ++seen.markedBefore;
            }
            if (data != nullptr) XFree(data);
            const unsigned char one = 1;
            XChangeProperty(display, children[i], mark, XA_CARDINAL, 8, PropModeReplace, &one, 1);
        }
        if (children != nullptr) XFree(children);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return seen;
}

using namespace zorvak::test;

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

class VideoPresenter : public ::testing::Test {
protected:
    void SetUp() override {
        ZORVAK_NEEDS_DISPLAY();
        if (!MakeClip(folder_.File("red.mp4"), "red", 1.0)) GTEST_SKIP() << "ffmpeg cannot make a clip";
    }
    TempFolder folder_;
    FixedAppDirectory appDir_{folder_.Path()};
    SwitchConnectivity online_;
};

// A 1-second red clip with a play time of 4 seconds: the frame is on screen
// (the player keeps the 4:3 picture's aspect ratio, so the sides stay black),
// the stopped clip stays on screen after its end, and the window is gone when
// the time is over.
TEST_F(VideoPresenter, PlaysTheClipOnceAndClosesAtItsPlayTime) {
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    bool frame_shown = false;
    bool side_black = false;
    bool playing = false;
    bool fullScreen = false;
    bool still_there_after_end = false;
    QRect label1, label2, player;
    QString label1_text;
    QElapsedTimer elapsed;
    After(0, [&] {
        frame_shown = WaitForPixel(640, 360, kRed, 3000);
        side_black = Near(GrabScreen().pixelColor(20, 360), kBlack);
        auto* window = presenters.Videos();
        playing = window->IsPlaying();
        fullScreen = window->FullScreen();
        label1 = window->BrandCaption()->geometry();
        label2 = window->ContactCaption()->geometry();
        label1_text = window->BrandCaption()->text();
        player = window->PlayerSurface()->geometry();
        // The clip ends by itself well before the play time is over.
        const bool ended = WaitFor([&] {
            return !window->IsPlaying();
        }, int(3700 - elapsed.elapsed()));
        still_there_after_end = ended && window->isVisible() &&
                                Near(GrabScreen().pixelColor(640, 360), kRed);
    });
    elapsed.start();
    presenters.PlayVideo(folder_.File("red.mp4"), 4, MediaSource::kLocalFile);
    const qint64 took = elapsed.elapsed();

    EXPECT_TRUE(frame_shown);
    EXPECT_TRUE(side_black);
    EXPECT_TRUE(playing);
    EXPECT_TRUE(fullScreen);
    EXPECT_TRUE(still_there_after_end);
    EXPECT_EQ(label1, QRect(1280 - 24 - 288, 720 - 51 - 62, 288, 62));
    EXPECT_EQ(label2, QRect(1280 - 44 - 252, 720 - 9 - 48, 252, 48));
    EXPECT_EQ(label1_text, QStringLiteral("Zorvak智能广告"));
    EXPECT_EQ(player, QRect(0, 0, 1280, 720));
    EXPECT_GE(took, 3950);
    EXPECT_LT(took, 10000);
    EXPECT_EQ(presenters.Videos(), nullptr);
    EXPECT_EQ(PresenterWindowsAlive("VideoWindow"), 0);
    // The window is gone from the screen as well.
    EXPECT_TRUE(WaitForPixel(640, 360, kBlack, 2000) ||
                !Near(GrabScreen().pixelColor(640, 360), kRed));
}

// Media the player cannot open closes the window at once; with 0 seconds it
// would otherwise stay until the guard timer closed it.
TEST_F(VideoPresenter, AMediaErrorClosesTheWindowAtOnce) {
    QFile bad(QString::fromStdString(folder_.File("bad.mp4")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'x'));
    bad.close();
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    bool guard_fired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        guard_fired = true;
        presenters.CloseAllPresenters();
    });
    guard.start(8000);
    presenters.PlayVideo(folder_.File("bad.mp4"), 0, MediaSource::kLocalFile);
    EXPECT_FALSE(guard_fired);
    EXPECT_EQ(presenters.Videos(), nullptr);

    // The player goes on with the next item.
    bool frame_shown = false;
    After(0, [&] {
        frame_shown = WaitForPixel(640, 360, kRed, 8000);
        presenters.CloseAllPresenters();
    });
    presenters.PlayVideo(folder_.File("red.mp4"), 0, MediaSource::kLocalFile);
    EXPECT_TRUE(frame_shown);
}

// CloseAllPresenters stops a playing video, then closes its window.
TEST_F(VideoPresenter, CloseAllPresentersStopsThePlayer) {
    ASSERT_TRUE(MakeClip(folder_.File("long.mp4"), "red", 6.0));
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    bool was_playing = false;
    bool stopped = false;
    After(0, [&] {
        was_playing = WaitFor([&] {
            return presenters.Videos()->IsPlaying();
        }, 8000);
        presenters.CloseAllPresenters();
        stopped = !presenters.Videos()->IsPlaying();
    });
    presenters.PlayVideo(folder_.File("long.mp4"), 0, MediaSource::kLocalFile);
    EXPECT_TRUE(was_playing);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(presenters.Videos(), nullptr);
}

// Items back to back share the one player and its one video output; each
// shows its own picture.
TEST_F(VideoPresenter, ConsecutiveItemsEachShowTheirOwnClipThroughOneVideoOutput) {
    ASSERT_TRUE(MakeClip(folder_.File("blue.mp4"), "blue", 1.0));
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    const struct {
        const char* file;
        QColor colour;
    } items[] = {{"red.mp4", kRed}, {"blue.mp4", QColor(0, 0, 255)}, {"red.mp4", kRed}};
    // The windows the video output draws in, inside the player's surface,
    // while each clip shows: the output is kept from clip to clip, not made
    // anew for each.
    std::vector<MarkedChildren> outputWindows;
    for (const auto& item : items) {
        bool shown = false;
        After(0, [&] {
            shown = WaitForPixel(640, 360, item.colour, 8000);
            VideoWindow* window = presenters.Videos();
            auto* surface = window != nullptr ? window->findChild<QWidget*>("wmMp4") : nullptr;
            if (surface != nullptr) outputWindows.push_back(MarkChildWindows(surface->winId()));
            presenters.CloseAllPresenters();
        });
        presenters.PlayVideo(folder_.File(item.file), 0, MediaSource::kLocalFile);
        EXPECT_TRUE(shown) << item.file;
    }
    ASSERT_NE(presenters.Player(), nullptr);
    ASSERT_EQ(outputWindows.size(), std::size(items));
    EXPECT_GT(outputWindows[0].count, 0u);
    EXPECT_EQ(outputWindows[0].markedBefore, 0u);
    for (size_t i = 1; i < outputWindows.size(); ++i) {
        EXPECT_EQ(outputWindows[i].count, outputWindows[0].count) << items[i].file;
        EXPECT_EQ(outputWindows[i].markedBefore, outputWindows[0].count) << items[i].file;
    }
}

}  // namespace
}  // namespace zorvak
