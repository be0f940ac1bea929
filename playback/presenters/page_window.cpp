#include "playback/presenters/page_window.h"

#include <QAuthenticator>
#include <QEvent>
#include <QImage>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>

#include <cstdlib>

#include "core/product_texts.h"

namespace zorvak {
namespace {

// The four styling steps, on the top-level document, inside one guard: the
// first failure (no body yet, a document that is not HTML) skips the rest.
const char* const kStylePage = R"JS(
(function () {
    try {
        document.body.scroll = "no";
        document.documentElement.style.overflow = "hidden";
        document.body.style.border = "none";
        document.body.style.margin = "0px";
        return true;
    } catch (e) {
        return false;
    }
})();
)JS";

}  // namespace

SilentWebPage::SilentWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    connect(this, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { error.rejectCertificate(); });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator, const QString&) {
                *authenticator = QAuthenticator();
            });
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::selectClientCertificate, this,
            [](QWebEngineClientCertificateSelection selection) { selection.selectNone(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
}

QWebEnginePage* SilentWebPage::createWindow(WebWindowType) {
    ++refusedWindows_;
    return nullptr;
}

void SilentWebPage::javaScriptAlert(const QUrl&, const QString&) {}

bool SilentWebPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool SilentWebPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

void SilentWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                             const QString&) {}

QStringList SilentWebPage::chooseFiles(FileSelectionMode, const QStringList&,
                                       const QStringList&) {
    return {};
}

QWebEngineView* PresenterWebView::createWindow(QWebEnginePage::WebWindowType) {
    return nullptr;
}

PageWindow::PageWindow(QWebEngineProfile* profile)
    : PresenterWindow("frmFullScreenHtml", QString::fromUtf8(texts::kWebPageWindowCaption)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new PresenterWebView(this);
    view_->setObjectName("WebBrowser1");
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    page_ = new SilentWebPage(profile, view_);
    page_->setBackgroundColor(Qt::black);
    view_->setPage(page_);
    layout->addWidget(view_);
    setFocusProxy(view_);
    connect(page_, &QWebEnginePage::loadFinished, this,
            [this](bool) { StylePage(); });

    // The window comes up over the backdrop once the view has painted the
    // loaded, styled page: until then the last item's frame stays on screen.
    ContentCover().SetWaitsForFirstFrame(true);
    frameAfterStyle_.setSingleShot(true);
    connect(&frameAfterStyle_, &QTimer::timeout, this, [this] { StopAwaitingFrame(); });
}

bool PageWindow::eventFilter(QObject* watched, QEvent* event) {
    // The view paints through a child widget (the web engine's render widget):
    // its first paint after the styling carries the styled page.
    if (awaitingPaint_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
        view_->isAncestorOf(static_cast<QWidget*>(watched))) {
        StyledFrameDrawn();
    }
    return PresenterWindow::eventFilter(watched, event);
}

void PageWindow::StyledFrameDrawn() {
    if (!awaitingPaint_ || checkQueued_) return;
    checkQueued_ = true;
    // Once this frame has reached the window's backing store (and outside any
    // paint event, since the look renders the view).
    QTimer::singleShot(0, this, [this] {
        checkQueued_ = false;
        // A rendering of the scene before the renderer's frame has come (the
        // window mapped, moved or activated) shows only the background: the
        // cover stays until a rendering shows the page, or the timer ends it.
        if (awaitingPaint_ && ViewShowsPage()) StopAwaitingFrame();
    });
}

void PageWindow::StopAwaitingFrame() {
    if (!awaitingPaint_) return;
    awaitingPaint_ = false;
    frameAfterStyle_.stop();
    disconnect(renderings_);
    ContentCover().FirstFrameReady();
}

bool PageWindow::ViewShowsPage() const {
    const QImage frame = view_->grab().toImage();
    if (frame.isNull()) return false;
    const QColor background = page_->backgroundColor();
    // 16 × 9 points, one in the middle of each cell of a grid over the view:
    // on a 16:9 screen the cells are square, 80 px at 1280 × 720, so anything
    // of the page larger than a cell is met, and the 144 reads of a rendering
    // cost little beside rendering it.
    constexpr int kColumns = 16;
    constexpr int kRows = 9;
    // How far a channel may lie from the background's and still count as
    // background: the renderer's output of a plain colour may be off by a few
    // steps (colour conversion, dithering), while anything a page draws on
    // purpose lies further from it.
    constexpr int kTolerance = 8;
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const QColor c = frame.pixelColor((2 * column + 1) * frame.width() / (2 * kColumns),
                                              (2 * row + 1) * frame.height() / (2 * kRows));
            if (std::abs(c.red() - background.red()) > kTolerance ||
                std::abs(c.green() - background.green()) > kTolerance ||
                std::abs(c.blue() - background.blue()) > kTolerance) {
                return true;
            }
        }
    }
    return false;
}

void PageWindow::AwaitStyledFrame() {
    awaitingPaint_ = true;
    frameAfterStyle_.start(kFrameAfterStyleMs);
    // The render widget is a Qt Quick widget that renders its scene whether
    // or not the cover hides it (its paint events may then be left out): each
    // rendering after the styling is looked at until one shows the page.
    disconnect(renderings_);
    if (auto* quick = qobject_cast<QQuickWidget*>(view_->focusProxy())) {
        if (QQuickWindow* scene = quick->quickWindow()) {
            renderings_ = connect(scene, &QQuickWindow::afterRendering, this,
                                  [this] { StyledFrameDrawn(); }, Qt::QueuedConnection);
        }
    }
}

PageWindow::~PageWindow() {
    destroying_ = true;
    disconnect(renderings_);
    // The page goes before the view that shows it.
    view_->setPage(nullptr);
    delete page_;
}

void PageWindow::Navigate(const QUrl& url) {
    view_->setUrl(url);
}

void PageWindow::StylePage() {
    page_->runJavaScript(QString::fromLatin1(kStylePage), QWebEngineScript::ApplicationWorld,
                         [this](const QVariant&) {
                             // Also called, with no result, while the page is destroyed.
                             if (destroying_) return;
                             ++styledLoads_;
                             if (!ContentCover().Revealed()) AwaitStyledFrame();
                         });
}

}  // namespace zorvak
