#include "playback/presenters/full_screen_html.h"

#include <QAuthenticator>
#include <QEvent>
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
    connect(&frameAfterStyle_, &QTimer::timeout, this, [this] {
        awaitingPaint_ = false;
        FirstFrameReady();
    });
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
    if (!awaitingPaint_) return;
    awaitingPaint_ = false;
    frameAfterStyle_.stop();
    // Once this frame has reached the window's backing store.
    QTimer::singleShot(0, this, [this] { FirstFrameReady(); });
}

void TfrmFullScreenHtml::AwaitStyledFrame() {
    awaitingPaint_ = true;
    frameAfterStyle_.start(kFrameAfterStyleMs);
    // The render widget is a Qt Quick widget that renders its scene whether
    // or not the cover hides it (its paint events may then be left out): its
    // next rendering after the styling holds the styled page.
    if (auto* quick = qobject_cast<QQuickWidget*>(WebBrowser1->focusProxy())) {
        if (QQuickWindow* scene = quick->quickWindow()) {
            connect(scene, &QQuickWindow::afterRendering, this, [this] { StyledFrameDrawn(); },
                    Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        }
    }
}

TfrmFullScreenHtml::~TfrmFullScreenHtml() {
    destroying_ = true;
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
