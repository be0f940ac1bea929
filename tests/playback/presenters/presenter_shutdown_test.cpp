#include <QPainter>

#include <memory>

#include "playback/presenters/backdrop.h"
#include "playback/presenters/page_window.h"
#include "playback/presenters/picture_window.h"
#include "playback/presenters/video_window.h"
#include "presenter_test_env.h"

// Xlib's headers come after Qt's, whose names its macros (Bool, Status, None)
// would clash with.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace zorvak {
namespace {

using namespace zorvak::test;

enum class Kind { Image, Video, Web };

const char* ClassOf(Kind kind) {
    switch (kind) {
    case Kind::Image: return "PictureWindow";
    case Kind::Video: return "VideoWindow";
    case Kind::Web: return "PageWindow";
    }
    return "";
}

// One item of each kind in a test folder.
class Items {
public:
    bool Make() {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::red);
        if (!picture.save(QString::fromStdString(folder.File("p.png")))) return false;
        QFile page(QString::fromStdString(folder.File("page.html")));
        if (!page.open(QIODevice::WriteOnly)) return false;
        page.write("<html><body style='background:red'>page</body></html>");
        page.close();
        return MakeClip(folder.File("clip.mp4"), "red", 1.0);
    }
    std::string Location(Kind kind) const {
        switch (kind) {
        case Kind::Image: return folder.File("p.png");
        case Kind::Video: return folder.File("clip.mp4");
        case Kind::Web: return folder.File("page.html");
        }
        return {};
    }
    TempFolder folder;
    FixedAppDirectory appDir{folder.Path()};
};

void Present(WindowPresenters& presenters, Kind kind, const std::string& location, int seconds,
             MediaSource source) {
    switch (kind) {
    case Kind::Image: presenters.ShowImage(location, seconds, source); break;
    case Kind::Video: presenters.PlayVideo(location, seconds, source); break;
    case Kind::Web: presenters.ShowWebPage(location, seconds, source); break;
    }
}

PresenterWindow* WindowOf(WindowPresenters& presenters, Kind kind) {
    switch (kind) {
    case Kind::Image: return presenters.Pictures();
    case Kind::Video: return presenters.Videos();
    case Kind::Web: return presenters.Pages();
    }
    return nullptr;
}

// The widget a key typed now would reach: the page's focus proxy for a web
// page, the player surface for a video, else the focused widget.
QWidget* KeyReceiver(PresenterWindow* window, Kind kind) {
    if (kind == Kind::Web) {
        // The page's focus proxy exists once the page has its renderer.
        QWebEngineView* view = static_cast<PageWindow*>(window)->View();
        WaitFor([&] { return view->focusProxy() != nullptr; }, 10000);
        return view->focusProxy() != nullptr ? view->focusProxy() : view;
    }
    if (kind == Kind::Video) return static_cast<VideoWindow*>(window)->PlayerSurface();
    return KeyTarget(window);
}

class PresenterShutdown : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ZORVAK_NEEDS_DISPLAY();
        if (!items_.Make()) GTEST_SKIP() << "cannot make the test items";
    }
    Items items_;
    SwitchConnectivity online_;
};

// With 0 seconds the window stays: keys without text leave it; a character,
// Esc or Enter close it. Each key goes to the widget that holds the keyboard
// inside the window (the page, the player surface).
TEST_P(PresenterShutdown, CharacterKeysCloseTheWindowOtherKeysDoNot) {
    const Kind kind = GetParam();
    struct Key {
        int key;
        const char* text;
        bool closes;
    } keys[] = {
        {Qt::Key_A, "a", true},           {Qt::Key_Escape, "\x1b", true},
        {Qt::Key_Return, "\r", true},     {Qt::Key_5, "5", true},
    };
    const Key quiet[] = {{Qt::Key_Left, "", false}, {Qt::Key_F5, "", false},
                         {Qt::Key_Shift, "", false}, {Qt::Key_Down, "", false}};
    WindowPresenters presenters(online_, items_.appDir, {}, TestSettings());
    for (const Key& key : keys) {
        bool open_after_quiet_keys = false;
        bool guard_fired = false;
        After(0, [&] {
            PresenterWindow* window = WindowOf(presenters, kind);
            WaitFor([&] { return window->isVisible(); }, 5000);
            Spin(kind == Kind::Web ? 300 : 100);
            for (const Key& k : quiet) {
                SendKey(KeyReceiver(window, kind), k.key, QString::fromLatin1(k.text));
            }
            Spin(200);
            open_after_quiet_keys = window->isVisible() && window->IsShownModally();
            SendKey(KeyReceiver(window, kind), key.key, QString::fromLatin1(key.text));
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            guard_fired = true;
            presenters.CloseAllPresenters();
        });
        guard.start(8000);
        Present(presenters, kind, items_.Location(kind), 0, MediaSource::kLocalFile);
        EXPECT_TRUE(open_after_quiet_keys) << ClassOf(kind) << " key " << key.key;
        EXPECT_FALSE(guard_fired) << ClassOf(kind) << " key " << key.key;
        EXPECT_EQ(WindowOf(presenters, kind), nullptr);
        EXPECT_EQ(PresenterWindowsAlive(ClassOf(kind)), 0);
    }
}

// A display time of 0 (or less) never ticks: the window is still up after
// more than a second, and CloseAllPresenters from a timer ends the call.
TEST_P(PresenterShutdown, ZeroSecondsNeverTicksAndCloseAllPresentersEndsTheItem) {
    const Kind kind = GetParam();
    WindowPresenters presenters(online_, items_.appDir, {}, TestSettings());
    for (int seconds : {0, -5}) {
        bool still_open = false;
        int timer_interval = -1;
        After(1300, [&] {
            PresenterWindow* window = WindowOf(presenters, kind);
            still_open = window != nullptr && window->isVisible() && window->IsShownModally();
            timer_interval = window != nullptr ? window->DisplayTimerInterval() : -1;
            presenters.CloseAllPresenters();
        });
        Present(presenters, kind, items_.Location(kind), seconds, MediaSource::kLocalFile);
        EXPECT_TRUE(still_open) << ClassOf(kind) << " " << seconds;
        EXPECT_EQ(timer_interval, 0) << ClassOf(kind) << " " << seconds;
        EXPECT_EQ(WindowOf(presenters, kind), nullptr);
    }
}

// A call nested in an earlier call of the same kind returns at once and
// leaves the window on screen alone.
TEST_P(PresenterShutdown, ANestedCallReturnsAtOnceAndLeavesTheWindowAlone) {
    const Kind kind = GetParam();
    WindowPresenters presenters(online_, items_.appDir, {}, TestSettings());
    PresenterWindow* outer = nullptr;
    PresenterWindow* after_nested = nullptr;
    bool still_shown = false;
    bool nested_returned = false;
    After(0, [&] {
        outer = WindowOf(presenters, kind);
        WaitFor([&] { return outer->isVisible(); }, 5000);
        Present(presenters, kind, items_.Location(kind), 0, MediaSource::kLocalFile);
        nested_returned = true;
        after_nested = WindowOf(presenters, kind);
        still_shown = outer->isVisible() && outer->IsShownModally();
        presenters.CloseAllPresenters();
    });
    Present(presenters, kind, items_.Location(kind), 0, MediaSource::kLocalFile);
    EXPECT_TRUE(nested_returned);
    EXPECT_EQ(after_nested, outer);
    EXPECT_TRUE(still_shown);
    EXPECT_EQ(WindowOf(presenters, kind), nullptr);
}

// A missing local file and an online item while offline return at once,
// creating no window (with 0 seconds, a window would stay until the guard).
TEST_P(PresenterShutdown, AMissingFileOrNoConnectionReturnsAtOnce) {
    const Kind kind = GetParam();
    int fetches = 0;
    WindowPresenters presenters(
        online_, items_.appDir,
        [&](const std::string&) {
            ++fetches;
            return std::optional<std::string>();
        },
        TestSettings());
    bool guard_fired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        guard_fired = true;
        presenters.CloseAllPresenters();
    });
    guard.start(5000);

    Present(presenters, kind, items_.folder.File("missing"), 0, MediaSource::kLocalFile);
    online_.online = false;
    Present(presenters, kind, "http://127.0.0.1:9/item", 0, MediaSource::kOnline);

    EXPECT_FALSE(guard_fired);
    EXPECT_EQ(fetches, 0);
    EXPECT_EQ(online_.calls, 1);
    EXPECT_EQ(PresenterWindowsAlive(ClassOf(kind)), 0);
    EXPECT_EQ(presenters.Player(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EachPresenter, PresenterShutdown,
                         ::testing::Values(Kind::Image, Kind::Video, Kind::Web),
                         [](const ::testing::TestParamInfo<Kind>& param) {
                             return std::string(ClassOf(param.param));
                         });

TEST(CloseAllPresenters, WithNothingOnScreenTouchesNothing) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());
    QWidget other;
    other.setWindowTitle(QStringLiteral("全屏图片"));  // the caption alone is not enough
    other.show();
    // It returns without serving events: a call queued before is still waiting.
    bool served = false;
    QTimer::singleShot(0, qApp, [&] { served = true; });
    presenters.CloseAllPresenters();
    EXPECT_FALSE(served);
    EXPECT_TRUE(other.isVisible());
    EXPECT_EQ(presenters.Player(), nullptr);
}

// The pointer at one point of the screen, as the X server draws it there: the
// cursor of the window under it (XFixesGetCursorImage), on a connection of
// its own.
class PointerProbe {
public:
    // Moves the pointer to (x, y) of the screen.
    PointerProbe(int x, int y) : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) return;
        XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
        XSync(display_, False);
    }
    ~PointerProbe() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    PointerProbe(const PointerProbe&) = delete;
    PointerProbe& operator=(const PointerProbe&) = delete;

    bool Open() const { return display_ != nullptr; }
    // Whether the pointer shows as nothing: no pixel of its cursor has any
    // opacity.
    bool Hidden() const {
        XFixesCursorImage* image = XFixesGetCursorImage(display_);
        if (image == nullptr) return false;
        bool hidden = true;
        for (int i = 0; i < int(image->width) * int(image->height); ++i) {
            if ((image->pixels[i] >> 24) != 0) hidden = false;
        }
        XFree(image);
        return hidden;
    }

private:
    Display* display_;
};

// Two pictures in a test folder, a.png red and b.png blue, and a green
// window over the whole screen that stands for the desktop and the windows on
// it.
class BackdropScope : public ::testing::Test {
protected:
    void SetUp() override {
        ZORVAK_NEEDS_DISPLAY();
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::red);
        ASSERT_TRUE(picture.save(QString::fromStdString(folder.File("a.png"))));
        picture.fill(Qt::blue);
        ASSERT_TRUE(picture.save(QString::fromStdString(folder.File("b.png"))));
        desktop = std::make_unique<QWidget>();
        desktop->setPalette(QPalette(Qt::green));
        desktop->setAutoFillBackground(true);
        desktop->setGeometry(0, 0, 1280, 720);
        desktop->show();
        ASSERT_TRUE(WaitForPixel(640, 360, Qt::green, 5000));
    }

    TempFolder folder;
    FixedAppDirectory appDir{folder.Path()};
    std::unique_ptr<QWidget> desktop;  // made once the application is up
};

// The backdrop covers the desktop from the start of a run on: between two
// pictures the screen keeps the first picture (the backdrop holds its last
// frame), not the desktop; a run nested in it leaves it up; after the
// outermost run the desktop shows again.
TEST_F(BackdropScope, CoversTheDesktopBetweenItemsAndGoesAfterTheRun) {
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    presenters.BeginRun();
    bool first_shown = false;
    After(0, [&] {
        first_shown = WaitForPixel(640, 360, Qt::red, 5000);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("a.png"), 0, MediaSource::kLocalFile);
    Spin(200);
    const bool held_between = Near(GrabScreen().pixelColor(640, 360), Qt::red);
    const bool backdrop_up = presenters.BackdropUp();
    presenters.BeginRun();  // a run inside the run
    presenters.EndRun();
    const bool up_after_nested_run = presenters.BackdropUp();
    bool second_shown = false;
    After(0, [&] {
        second_shown = WaitForPixel(640, 360, Qt::blue, 5000);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("b.png"), 0, MediaSource::kLocalFile);
    presenters.EndRun();

    EXPECT_TRUE(first_shown);
    EXPECT_TRUE(held_between);
    EXPECT_TRUE(backdrop_up);
    EXPECT_TRUE(up_after_nested_run);
    EXPECT_TRUE(second_shown);
    EXPECT_TRUE(WaitForPixel(640, 360, Qt::green, 5000));
    EXPECT_FALSE(presenters.BackdropUp());
}

// The operator's "show taskbar and pointer" between two items of a run: the
// backdrop, which would hide the desktop and the pointer for the whole run,
// leaves the screen until the run's next item is shown; that item lays it
// again beneath its window, and it holds that item's frame and hides the
// pointer between the items that follow. Outside a run the call does nothing.
TEST_F(BackdropScope, GivesWayToTheDesktopUntilTheRunsNextItem) {
    PointerProbe pointer(640, 360);
    ASSERT_TRUE(pointer.Open());
    ASSERT_TRUE(WaitFor([&] { return !pointer.Hidden(); }, 5000)) << "the desktop's pointer";

    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());
    presenters.GiveWayToDesktop();  // no run: nothing to give way
    EXPECT_FALSE(presenters.BackdropUp());

    presenters.BeginRun();
    bool first_shown = false;
    After(0, [&] {
        first_shown = WaitForPixel(640, 360, Qt::red, 5000);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("a.png"), 0, MediaSource::kLocalFile);
    EXPECT_TRUE(first_shown);
    // Between the items: the backdrop holds the picture and hides the pointer.
    EXPECT_TRUE(presenters.BackdropUp());
    EXPECT_TRUE(WaitForPixel(640, 360, Qt::red, 5000));
    EXPECT_TRUE(WaitFor([&] { return pointer.Hidden(); }, 5000)) << "over the backdrop";

    presenters.GiveWayToDesktop();
    EXPECT_FALSE(presenters.BackdropUp());
    EXPECT_TRUE(WaitForPixel(640, 360, Qt::green, 5000)) << "the desktop shows";
    EXPECT_TRUE(WaitFor([&] { return !pointer.Hidden(); }, 5000)) << "the pointer shows";
    Spin(200);
    EXPECT_FALSE(presenters.BackdropUp()) << "until the next item, not only for a moment";
    EXPECT_TRUE(Near(GrabScreen().pixelColor(640, 360), Qt::green));

    // The run's next item brings the backdrop back beneath its window.
    bool second_shown = false;
    bool up_under_second = false;
    After(0, [&] {
        second_shown = WaitForPixel(640, 360, Qt::blue, 5000);
        up_under_second = presenters.BackdropUp();
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("b.png"), 0, MediaSource::kLocalFile);
    EXPECT_TRUE(second_shown);
    EXPECT_TRUE(up_under_second);
    EXPECT_TRUE(presenters.BackdropUp());
    EXPECT_TRUE(WaitForPixel(640, 360, Qt::blue, 5000)) << "the backdrop holds the frame again";
    EXPECT_TRUE(WaitFor([&] { return pointer.Hidden(); }, 5000)) << "over the backdrop again";

    presenters.EndRun();
    EXPECT_FALSE(presenters.BackdropUp());
    EXPECT_TRUE(WaitForPixel(640, 360, Qt::green, 5000));
    EXPECT_TRUE(WaitFor([&] { return !pointer.Hidden(); }, 5000));
}

}  // namespace
}  // namespace zorvak
