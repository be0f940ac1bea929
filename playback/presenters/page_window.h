#pragma once

#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "playback/presenters/presenter_window.h"

class QWebEngineProfile;

namespace zorvak {

// A page that keeps quiet: no JavaScript alert, confirm or prompt boxes, no
// file chooser, certificate errors rejected, authentication requests
// cancelled, permission and full-screen requests refused, and no new window or
// pop-up, ever. Every refused new window is counted.
class SilentWebPage final : public QWebEnginePage {
    Q_OBJECT

public:
    SilentWebPage(QWebEngineProfile* profile, QObject* parent);
    int RefusedWindows() const { return refusedWindows_; }

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int line, const QString& source) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedTypes) override;

private:
    int refusedWindows_ = 0;
};

// The browser control: a view that never opens a window of its own either.
class PresenterWebView final : public QWebEngineView {
    Q_OBJECT

public:
    using QWebEngineView::QWebEngineView;

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;
};

// The full-screen web page window, object name "frmFullScreenHtml", caption
// texts::kWebPageWindowCaption, filled by the web view (object name
// "WebBrowser1"). After every finished load the top-level
// document is styled: body.scroll = "no", documentElement.style.overflow =
// "hidden", body.style.border = "none", body.style.margin = "0px", in that
// order; a step that fails skips the later ones for that load. The window's
// cover (presenter_window.h) lies over the view until the view has rendered
// the styled page.
class PageWindow final : public PresenterWindow {
    Q_OBJECT

public:
    // The page lives in profile, which must outlive the window.
    explicit PageWindow(QWebEngineProfile* profile);
    ~PageWindow() override;

    // Starts loading url; returns at once.
    void Navigate(const QUrl& url);

    PresenterWebView* View() const { return view_; }
    SilentWebPage* Page() const { return page_; }
    // How many loads have finished and been styled (for tests).
    int StyledLoads() const { return styledLoads_; }

    // After a load is styled, the longest the window waits for the view to
    // paint the page before it takes what it shows as the page's first frame
    // (a page the styling did not change paints nothing new; a page all in its
    // background colour looks like no page at all). Long enough for the
    // styled page's frame to arrive on a loaded two-core machine (in the
    // switch benchmark a page's first frame, load and styling included, came
    // within 600 ms of the switch), short enough that a page
    // that renders nothing new is not held under the cover for long.
    static constexpr int kFrameAfterStyleMs = 600;

    // Whether the view's latest rendering shows something of the page: a point
    // of a grid over it differs from the page's background colour, which is
    // all the view shows until the page's first frame has arrived from the
    // renderer. Renders the view (a few ms).
    bool ViewShowsPage() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A load has finished: the page is styled.
    void StylePage();
    void AwaitStyledFrame();
    void StyledFrameDrawn();

    PresenterWebView* view_ = nullptr;
    SilentWebPage* page_ = nullptr;
    int styledLoads_ = 0;
    bool destroying_ = false;
    // Takes what the view shows as the page's first frame, now.
    void StopAwaitingFrame();

    // Styled, waiting for the view to paint the styled page.
    bool awaitingPaint_ = false;
    // A look at the view's latest rendering is queued.
    bool checkQueued_ = false;
    QTimer frameAfterStyle_;
    QMetaObject::Connection renderings_;
};

}  // namespace zorvak
