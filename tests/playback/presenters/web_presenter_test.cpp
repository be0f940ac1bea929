#include <QElapsedTimer>
#include <QMessageBox>
#include <QMouseEvent>
#include <QWebEngineView>

#include "playback/presenters/page_window.h"
#include "presenter_test_env.h"

namespace zorvak {
namespace {

using namespace zorvak::test;

const QColor kRed(255, 0, 0);

bool WritePage(const std::string& path, const QString& html) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly) && file.write(html.toUtf8()) > 0;
}

// A page much taller and wider than the screen: a red block on a white page,
// inside the body's default 8 px margin.
const char* const kTallPage = R"html(<!DOCTYPE html>
<html><body>
<div style="background: rgb(255,0,0); width: 3000px; height: 6000px"></div>
</body></html>)html";

class WebPresenter : public ::testing::Test {
protected:
    void SetUp() override {
        ZORVAK_NEEDS_DISPLAY();
    }
    // Runs fn inside the modal call once its page is loaded and styled, then
    // closes the presenter. fn runs only once the window is shown modally: a
    // close asked for before the modal loop runs would be lost and leave the
    // call waiting for good, and the web engine may serve events while the
    // window is being made and shown. Every wait is bounded: a window that is
    // not shown modally, or a page not styled, in time fails the test, and a
    // window still up a second after its close fails it and is closed again.
    void ShowStyled(WindowPresenters& presenters, const std::string& page,
                    const std::function<void(PageWindow*)>& fn) {
        constexpr int kShownWithinMs = 60000;
        bool ran = false;
        QElapsedTimer since;
        since.start();
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            PageWindow* window = presenters.Pages();
            if (window == nullptr || !window->IsShownModally()) return;
            poll.stop();
            if (ran) {
                ADD_FAILURE() << "the page window stayed up after CloseAllPresenters";
            } else if (since.elapsed() > kShownWithinMs) {
                ADD_FAILURE() << "the page window came up modally only after " << since.elapsed()
                              << " ms";
            } else {
                EXPECT_TRUE(WaitFor([&] { return window->StyledLoads() > 0; }, 20000));
                fn(window);
            }
            ran = true;
            presenters.CloseAllPresenters();
            poll.start(1000);
        });
        poll.start();
        presenters.ShowWebPage(page, 0, MediaSource::kLocalFile);
        poll.stop();
        EXPECT_TRUE(ran) << "the page window was never shown modally";
    }
    TempFolder folder_;
    FixedAppDirectory appDir_{folder_.Path()};
    SwitchConnectivity online_;
};

// After the load the page shows no scroll bars, no border and no margin: the
// red block reaches every edge of the screen.
TEST_F(WebPresenter, APageTallerThanTheScreenShowsNoScrollBar) {
    ASSERT_TRUE(WritePage(folder_.File("tall.html"), kTallPage));
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    QImage screen;
    bool red_everywhere = false;
    ShowStyled(presenters, folder_.File("tall.html"), [&](PageWindow*) {
        red_everywhere = WaitFor([&] {
            screen = GrabScreen();
            for (QPoint p : {QPoint(1, 1), QPoint(1278, 360), QPoint(640, 718), QPoint(1278, 718)}) {
                if (!Near(screen.pixelColor(p), kRed)) return false;
            }
            return true;
        }, 5000);
    });
    EXPECT_TRUE(red_everywhere) << "right edge " << Describe(screen.pixelColor(1278, 360))
                                << ", bottom edge " << Describe(screen.pixelColor(640, 718))
                                << ", top-left " << Describe(screen.pixelColor(1, 1));
    EXPECT_EQ(presenters.Pages(), nullptr);
    EXPECT_EQ(PresenterWindowsAlive("PageWindow"), 0);
}

// window.open, a link with target _blank (clicked with the mouse) and an alert
// open nothing; the page stays where it is.
TEST_F(WebPresenter, NewWindowsAndDialogsOpenNothing) {
    ASSERT_TRUE(WritePage(folder_.File("links.html"), R"html(<!DOCTYPE html>
<html><body style="margin:0">
<a id="blank" href="other.html" target="_blank"
   style="display:block; width:600px; height:300px; background: rgb(255,0,0)">new window</a>
</body></html>)html"));
    ASSERT_TRUE(WritePage(folder_.File("other.html"), "<html><body>other</body></html>"));
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    const int top_levels_before = int(QApplication::topLevelWidgets().size());
    int refused_after_script = 0;
    int refused_after_click = 0;
    int top_levels_during = 0;
    bool message_box = false;
    QUrl url_after;
    // A dialog box would wait for an answer: this closes any and records it.
    QTimer dialog_watch;
    QObject::connect(&dialog_watch, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                message_box = true;
                box->done(0);
            }
        }
    });
    dialog_watch.start(200);
    ShowStyled(presenters, folder_.File("links.html"), [&](PageWindow* window) {
        SilentWebPage* page = window->Page();
        page->runJavaScript("window.open('other.html', 'popup'); alert('hello'); confirm('sure?');");
        WaitFor([&] { return page->RefusedWindows() >= 1; }, 5000);
        Spin(300);
        refused_after_script = page->RefusedWindows();

        QWidget* target = window->View()->focusProxy();
        const QPoint at(100, 100);
        QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
        WaitFor([&] { return page->RefusedWindows() > refused_after_script; }, 5000);
        Spin(300);
        refused_after_click = page->RefusedWindows();

        top_levels_during = int(QApplication::topLevelWidgets().size());
        url_after = page->url();
    });
    EXPECT_EQ(refused_after_script, 1);
    EXPECT_EQ(refused_after_click, 2);
    EXPECT_FALSE(message_box);
    // Only the presenter window itself was added.
    EXPECT_LE(top_levels_during, top_levels_before + 1);
    EXPECT_EQ(url_after, QUrl::fromLocalFile(QString::fromStdString(folder_.File("links.html"))));
}

// The styling runs after every finished load, always on the top-level
// document; a document without a body skips the steps without harm.
TEST_F(WebPresenter, StylesEveryFinishedLoad) {
    ASSERT_TRUE(WritePage(folder_.File("a.html"), kTallPage));
    WindowPresenters presenters(online_, appDir_, {}, TestSettings());
    int styled_before = 0;
    int styled_after = 0;
    QString overflow;
    ShowStyled(presenters, folder_.File("a.html"), [&](PageWindow* window) {
        styled_before = window->StyledLoads();
        window->Page()->runJavaScript("location.reload();");
        WaitFor([&] { return window->StyledLoads() > styled_before; }, 10000);
        styled_after = window->StyledLoads();
        bool done = false;
        window->Page()->runJavaScript(
            "document.documentElement.style.overflow + '/' + document.body.style.margin",
            [&](const QVariant& v) {
                overflow = v.toString();
                done = true;
            });
        WaitFor([&] { return done; }, 5000);
    });
    EXPECT_EQ(styled_before, 1);
    EXPECT_EQ(styled_after, 2);
    EXPECT_EQ(overflow, "hidden/0px");
}


// What the view shows counts as the page only when something differs from the
// page's background colour (black): that colour alone is also what the view
// shows before the renderer's first frame has come, and the cover must not go
// for it.
TEST_F(WebPresenter, OnlyAViewShowingMoreThanItsBackgroundShowsThePage) {
    struct Case {
        const char* name;
        const char* html;
        bool showsPage;
    };
    const Case cases[] = {
        {"blue", "<body style=\"background: rgb(40,70,220)\"></body>", true},
        {"black", "<body style=\"background: black\"></body>", false},
        {"white words on black",
         "<body style=\"background: black; color: white; font-size: 200px\">"
         "&#9608;&#9608;&#9608;&#9608;&#9608;&#9608;<br>&#9608;&#9608;&#9608;&#9608;&#9608;&#9608;"
         "</body>",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder_.File(std::string(c.name) + ".html");
        ASSERT_TRUE(WritePage(path, QString::fromLatin1("<!DOCTYPE html><html>") + c.html + "</html>"));
        WindowPresenters presenters(online_, appDir_, {}, TestSettings());
        bool shows = !c.showsPage;
        ShowStyled(presenters, path, [&](PageWindow* window) {
            // The styled page is rendered a moment after the styling.
            if (c.showsPage) {
                shows = WaitFor([&] { return window->ViewShowsPage(); }, 5000);
            } else {
                Spin(500);
                shows = window->ViewShowsPage();
            }
        });
        EXPECT_EQ(shows, c.showsPage);
    }
}

}  // namespace
}  // namespace zorvak
