#include "playback/presenters/window_presenters.h"

#include <QApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QByteArray>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <stdexcept>

#include "core/log.h"
#include "core/product_texts.h"
#include "playback/presenters/backdrop.h"

#include "playback/presenters/full_screen_html.h"
#include "playback/presenters/full_screen_img.h"
#include "playback/presenters/full_screen_mp4.h"
#include "playback/presenters/picture_preparer.h"

namespace zorvak {
namespace {

bool FileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// Marks a slot's window as in use for the lifetime of the guard.
class InUse {
public:
    explicit InUse(bool& flag) : flag_(flag) { flag_ = true; }
    ~InUse() { flag_ = false; }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    bool& flag_;
};

// A top-level window of the class (the form class's name, without namespace)
// with exactly this caption exists among the application's windows.
bool TopLevelWindowExists(const char* className, const QString& caption) {
    if (caption.isEmpty()) return false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        const QString name = QString::fromLatin1(widget->metaObject()->className()).section("::", -1);
        if (name == QLatin1String(className) && widget->windowTitle() == caption) return true;
    }
    return false;
}

// Adds a flag to the web engine's command line, after any the environment
// already gives.
void AppendChromiumFlag(const char* flag) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
    if (flags.split(' ').contains(QByteArray(flag))) return;
    if (!flags.isEmpty()) flags += ' ';
    flags += flag;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

}  // namespace

bool WindowPresenters::Showable(MediaSource source, bool fileExists, bool busy) {
    if (source == MediaSource::kLocalFile && !fileExists) {
        lastEnd_ = {ItemEndCause::kNotShown, "no such file"};
        return false;
    }
    if (source == MediaSource::kOnline && !connectivity_.IsOnline()) {
        lastEnd_ = {ItemEndCause::kNotShown, "offline"};
        return false;
    }
    if (busy) {
        lastEnd_ = {ItemEndCause::kNotShown, "the presenter is showing another item"};
        return false;
    }
    lastEnd_ = {ItemEndCause::kUnknown, {}};
    return true;
}

void WindowPresenters::EndedBy(const PresenterWindow& window) {
    lastEnd_ = {window.EndCause(), window.EndDetail()};
}

void WindowPresenters::ItemEnded() {
    // Pages given back are faulted in again by the next items (about 30 ms
    // more for a picture, 90 ms for a clip on a small machine), so the heap is
    // trimmed at most once a minute: often enough that free space never piles
    // up, rarely enough that items keep their speed.
    if (heapReleased_.isValid() && !heapReleased_.hasExpired(kHeapReleaseIntervalMs)) return;
    ReleaseFreeHeapMemory();
    heapReleased_.start();
}

WindowPresenters::WindowPresenters(Connectivity& connectivity, const AppDirectory& appDirectory,
                                   PictureFetch fetch, PresenterSettings settings)
    : connectivity_(connectivity),
      appDirectory_(appDirectory),
      fetch_(std::move(fetch)),
      settings_(std::move(settings)),
      preparer_(std::make_unique<PicturePreparer>()) {
    warmTimer_.setSingleShot(true);
    QObject::connect(&warmTimer_, &QTimer::timeout, [this] { WarmWebEngine(); });
}

WindowPresenters::~WindowPresenters() {
    delete frmFullScreenImg_.data();
    delete frmFullScreenMp4_.data();
    delete frmFullScreenHtml_.data();
    player_.reset();
    backdrop_.reset();
    warmTimer_.stop();
    delete warmPage_.data();
    delete profile_;
    preparer_.reset();
}

TfrmFullScreenImg* WindowPresenters::frmFullScreenImg() const {
    return frmFullScreenImg_;
}

TfrmFullScreenMp4* WindowPresenters::frmFullScreenMp4() const {
    return frmFullScreenMp4_;
}

TfrmFullScreenHtml* WindowPresenters::frmFullScreenHtml() const {
    return frmFullScreenHtml_;
}

PlayerCore& WindowPresenters::EnsurePlayer() {
    if (!player_) player_ = std::make_unique<PlayerCore>(settings_.player);
    return *player_;
}

QWebEngineProfile* WindowPresenters::EnsureProfile() {
    if (profile_ == nullptr) {
        // Off the record: nothing of the pages is kept on disk.
        profile_ = new QWebEngineProfile();
        profile_->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    }
    return profile_;
}

void WindowPresenters::WarmWebEngine() {
    if (engineWarmed_) return;
    engineWarmed_ = true;
    warmPage_ = new SilentWebPage(EnsureProfile(), nullptr);
    // Once its empty document has loaded, the engine has started; the page
    // goes, and its renderer process with it (about 90 MB that a playlist
    // without pages would otherwise carry for good).
    QObject::connect(warmPage_.data(), &QWebEnginePage::loadFinished, warmPage_.data(),
                     &QObject::deleteLater);
    warmPage_->setUrl(QUrl(QStringLiteral("about:blank")));
}

void WindowPresenters::HandOverFrames(PresenterWindow& window) {
    // Only during a run: without the backdrop nobody would show the frame.
    if (!BackdropUp()) {
        window.SetFrameKeeper({});
        window.SetCoverFrame(QPixmap());
        return;
    }
    window.SetFrameKeeper([this](const QPixmap& frame) {
        if (BackdropUp()) backdrop_->HoldFrame(frame);
    });
    // A window that waits for its first frame shows the held one until then.
    window.SetCoverFrame(backdrop_->HeldFrame());
}

void WindowPresenters::ShowImage(const std::string& location, int seconds, MediaSource source) {
    const QString path = QString::fromStdString(location);
    if (!Showable(source, FileExists(path), imageBusy_)) return;

    if (frmFullScreenImg_ != nullptr) {
        frmFullScreenImg_->ClearPictures();
    } else {
        const QString logo = QString::fromStdString(appDirectory_.Path() + "logo.png");
        frmFullScreenImg_ = new TfrmFullScreenImg(logo, settings_.reportError);
    }
    InUse inUse(imageBusy_);

    if (source == MediaSource::kOnline && connectivity_.IsOnline()) {
        try {
            std::optional<std::string> body;
            if (fetch_) body = fetch_(location);
            if (frmFullScreenImg_ == nullptr) return;
            if (!body) throw std::runtime_error("The picture could not be fetched");
            if (!frmFullScreenImg_->LoadJpeg(QByteArray(body->data(), qsizetype(body->size())))) {
                throw std::runtime_error("The picture is not a JPEG picture");
            }
            ShowPictureWindow(seconds);
        } catch (...) {
            lastEnd_ = {ItemEndCause::kError, CurrentExceptionText()};
            if (frmFullScreenImg_ != nullptr) frmFullScreenImg_->ClearPictures();
        }
    } else if (source == MediaSource::kLocalFile && FileExists(path)) {
        // Unguarded: a picture that cannot be loaded leaves the call as an error
        // and the window stays in the slot.
        lastEnd_ = {ItemEndCause::kError, "the picture could not be loaded"};
        if (std::optional<PreparedPicture> prepared = preparer_->Take(path)) {
            frmFullScreenImg_->UsePreparedPicture(std::move(*prepared));
        } else {
            frmFullScreenImg_->LoadPicture(path);
        }
        try {
            ShowPictureWindow(seconds);
        } catch (...) {
            lastEnd_ = {ItemEndCause::kError, CurrentExceptionText()};
        }
    }
    delete frmFullScreenImg_.data();
    frmFullScreenImg_ = nullptr;
    ItemEnded();
}

void WindowPresenters::ShowPictureWindow(int seconds) {
    TfrmFullScreenImg& window = *frmFullScreenImg_;
    window.ArmDisplayTimer(seconds);
    window.SetStayOnTop();
    window.SetShownAbove(backdrop_.get());
    HandOverFrames(window);
    PrepareAfterFirstFrame(window);
    if (BackdropUp()) backdrop_->HoldFrame(window.FrameAt(backdrop_->size()));
    window.ShowModal();
    EndedBy(*frmFullScreenImg_);
}

void WindowPresenters::PlayVideo(const std::string& location, int seconds, MediaSource source) {
    if (!Showable(source, FileExists(QString::fromStdString(location)), videoBusy_)) return;

    if (frmFullScreenMp4_ != nullptr) {
        try {
            if (frmFullScreenMp4_->playState() == TfrmFullScreenMp4::kPlaying) {
                frmFullScreenMp4_->Stop();
            }
        } catch (...) {
        }
    } else {
        PlayerCore& player = EnsurePlayer();
        frmFullScreenMp4_ =
            new TfrmFullScreenMp4(player, QString::fromStdString(settings_.contactNumber));
    }
    InUse inUse(videoBusy_);

    try {
        frmFullScreenMp4_->SetStayOnTop();
        frmFullScreenMp4_->SetShownAbove(backdrop_.get());
        HandOverFrames(*frmFullScreenMp4_);
        PrepareAfterFirstFrame(*frmFullScreenMp4_);
        frmFullScreenMp4_->ArmDisplayTimer(seconds);
        if (frmFullScreenMp4_->playState() == TfrmFullScreenMp4::kPlaying) {
            frmFullScreenMp4_->Stop();
        }
        frmFullScreenMp4_->SetUrl(location);
        if (frmFullScreenMp4_->playState() != TfrmFullScreenMp4::kPlaying) {
            frmFullScreenMp4_->Play();
        }
        frmFullScreenMp4_->ShowModal();
        EndedBy(*frmFullScreenMp4_);
    } catch (...) {
        lastEnd_ = {ItemEndCause::kError, CurrentExceptionText()};
    }
    // Unguarded: a stop that fails leaves the call as an error and the window
    // stays in the slot.
    if (frmFullScreenMp4_ != nullptr &&
        frmFullScreenMp4_->playState() == TfrmFullScreenMp4::kPlaying) {
        frmFullScreenMp4_->Stop();
    }
    delete frmFullScreenMp4_.data();
    frmFullScreenMp4_ = nullptr;
    ItemEnded();
}

void WindowPresenters::ShowWebPage(const std::string& location, int seconds,
                                   MediaSource source) {
    const QString text = QString::fromStdString(location);
    if (!Showable(source, FileExists(text), webBusy_)) return;

    if (frmFullScreenHtml_ == nullptr) {
        frmFullScreenHtml_ = new TfrmFullScreenHtml(EnsureProfile());
    }
    InUse inUse(webBusy_);

    try {
        frmFullScreenHtml_->SetStayOnTop();
        frmFullScreenHtml_->SetShownAbove(backdrop_.get());
        HandOverFrames(*frmFullScreenHtml_);
        PrepareAfterFirstFrame(*frmFullScreenHtml_);
        frmFullScreenHtml_->ArmDisplayTimer(seconds);
        frmFullScreenHtml_->Navigate(source == MediaSource::kLocalFile ? QUrl::fromLocalFile(text)
                                                                       : QUrl::fromUserInput(text));
        frmFullScreenHtml_->ShowModal();
        EndedBy(*frmFullScreenHtml_);
    } catch (...) {
        lastEnd_ = {ItemEndCause::kError, CurrentExceptionText()};
    }
    delete frmFullScreenHtml_.data();
    frmFullScreenHtml_ = nullptr;
    ItemEnded();
}

void WindowPresenters::PreparePicture(const std::string& path) {
    pictureToPrepare_ = path;
}

void WindowPresenters::PrepareAfterFirstFrame(PresenterWindow& window) {
    window.SetFirstFrameShown([this] {
        try {
            if (pictureToPrepare_.empty()) return;
            const QString path = QString::fromStdString(pictureToPrepare_);
            pictureToPrepare_.clear();
            // The picture window covers the primary screen (PresenterWindow::ShowModal).
            if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                preparer_->Prepare(path, screen->geometry().size());
            }
        } catch (...) {
        }
    });
}

void WindowPresenters::CloseAllPresenters() {
    try {
        const QString caption =
            frmFullScreenMp4_ != nullptr ? frmFullScreenMp4_->windowTitle() : QString();
        if (TopLevelWindowExists("TfrmFullScreenMp4", caption)) {
            if (frmFullScreenMp4_->playState() == TfrmFullScreenMp4::kPlaying) {
                frmFullScreenMp4_->Stop();
            }
            frmFullScreenMp4_->CloseWindow();
        }
    } catch (...) {
    }
    try {
        const QString caption =
            frmFullScreenImg_ != nullptr ? frmFullScreenImg_->windowTitle() : QString();
        if (TopLevelWindowExists("TfrmFullScreenImg", caption)) frmFullScreenImg_->CloseWindow();
    } catch (...) {
    }
    try {
        const QString caption =
            frmFullScreenHtml_ != nullptr ? frmFullScreenHtml_->windowTitle() : QString();
        if (TopLevelWindowExists("TfrmFullScreenHtml", caption)) {
            frmFullScreenHtml_->CloseWindow();
        }
    } catch (...) {
    }
    QThread::msleep(10);
}

bool WindowPresenters::BackdropUp() const {
    return backdrop_ != nullptr && backdrop_->isVisible();
}

void WindowPresenters::BeginRun() {
    try {
        if (runDepth_++ > 0) return;
        if (backdrop_ == nullptr) backdrop_ = std::make_unique<Backdrop>();
        backdrop_->ShowBackdrop();
        // The web engine starts (profile, one hidden page and its renderer)
        // while the run's first item is on screen, not when the first page is due.
        if (!engineWarmed_) warmTimer_.start(kWarmDelayMs);
    } catch (...) {
    }
}

void WindowPresenters::EndRun() {
    try {
        if (runDepth_ == 0 || --runDepth_ > 0) return;
        warmTimer_.stop();
        pictureToPrepare_.clear();
        preparer_->Drop();
        if (backdrop_ != nullptr) backdrop_->HideBackdrop();
    } catch (...) {
    }
}

void PrepareWebEngineEnvironment() {
    if (RunsAsSuperuser()) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (HasGpuDevice()) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return;
    }
    // Without a GPU, OpenGL is Mesa's software rasteriser: the web engine's
    // shared OpenGL context, its GPU thread and the view's scene graph would
    // run it inside the client (LLVM, its shader caches and threads: some
    // 60 MB) only to move pixels drawn in software anyway. Chromium's software
    // compositor and Qt Quick's software renderer draw the same pages, and
    // with X11's OpenGL integration off nothing loads the rasteriser at all
    // (the video player draws with plain X11 then, see PlayerCore).
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    AppendChromiumFlag("--disable-gpu");
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    }
}

}  // namespace zorvak
