#include "playback/presenters/full_screen_html.h"

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

TfrmFullScreenHtml::TfrmFullScreenHtml(QWebEngineProfile* profile)
    : PresenterWindow("TfrmFullScreenHtml", QString::fromUtf8(texts::kWebPageWindowCaption)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    WebBrowser1 = new PresenterWebView(this);
    WebBrowser1->setObjectName("WebBrowser1");
    WebBrowser1->setContextMenuPolicy(Qt::NoContextMenu);
    page_ = new SilentWebPage(profile, WebBrowser1);
    page_->setBackgroundColor(Qt::black);
    WebBrowser1->setPage(page_);
    layout->addWidget(WebBrowser1);
    setFocusProxy(WebBrowser1);
    connect(page_, &QWebEnginePage::loadFinished, this,
            [this](bool) { WebBrowser1DocumentComplete(); });

    // The window comes up over the backdrop once the view has painted the
    // loaded, styled page: until then the last item's frame stays on screen.
    SetWaitsForFirstFrame(true);
    frameAfterStyle_.setSingleShot(true);
    connect(&frameAfterStyle_, &QTimer::timeout, this, [this] { StopAwaitingFrame(); });
}

bool TfrmFullScreenHtml::eventFilter(QObject* watched, QEvent* event) {
    // The view paints through a child widget (the web engine's render widget):
    // its first paint after the styling carries the styled page.
    if (awaitingPaint_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
        WebBrowser1->isAncestorOf(static_cast<QWidget*>(watched))) {
        StyledFrameDrawn();
    }
    return PresenterWindow::eventFilter(watched, event);
}

void TfrmFullScreenHtml::StyledFrameDrawn() {
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

void TfrmFullScreenHtml::StopAwaitingFrame() {
    if (!awaitingPaint_) return;
    awaitingPaint_ = false;
    frameAfterStyle_.stop();
    disconnect(renderings_);
    FirstFrameReady();
}

bool TfrmFullScreenHtml::ViewShowsPage() const {
    const QImage frame = WebBrowser1->grab().toImage();
    if (frame.isNull()) return false;
    const QColor background = page_->backgroundColor();
    constexpr int kColumns = 16;
    constexpr int kRows = 9;
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

void TfrmFullScreenHtml::AwaitStyledFrame() {
    awaitingPaint_ = true;
    frameAfterStyle_.start(kFrameAfterStyleMs);
    // The render widget is a Qt Quick widget that renders its scene whether
    // or not the cover hides it (its paint events may then be left out): each
    // rendering after the styling is looked at until one shows the page.
    disconnect(renderings_);
    if (auto* quick = qobject_cast<QQuickWidget*>(WebBrowser1->focusProxy())) {
        if (QQuickWindow* scene = quick->quickWindow()) {
            renderings_ = connect(scene, &QQuickWindow::afterRendering, this,
                                  [this] { StyledFrameDrawn(); }, Qt::QueuedConnection);
        }
    }
}

TfrmFullScreenHtml::~TfrmFullScreenHtml() {
    destroying_ = true;
    disconnect(renderings_);
    // The page goes before the view that shows it.
    WebBrowser1->setPage(nullptr);
    delete page_;
}

void TfrmFullScreenHtml::Navigate(const QUrl& url) {
    WebBrowser1->setUrl(url);
}

void TfrmFullScreenHtml::WebBrowser1DocumentComplete() {
    page_->runJavaScript(QString::fromLatin1(kStylePage), QWebEngineScript::ApplicationWorld,
                         [this](const QVariant&) {
                             // Also called, with no result, while the page is destroyed.
                             if (destroying_) return;
                             ++styledLoads_;
                             if (!Revealed()) AwaitStyledFrame();
                             emit PageStyled();
                         });
}

}  // namespace zorvak
