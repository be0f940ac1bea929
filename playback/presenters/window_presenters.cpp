#include "playback/presenters/window_presenters.h"

#include <QApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QByteArray>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <stdexcept>

#include "core/log.h"
#include "core/product_texts.h"
#include "playback/presenters/backdrop.h"
#include "playback/presenters/page_window.h"
#include "playback/presenters/picture_preparer.h"
#include "playback/presenters/picture_window.h"
#include "playback/presenters/video_window.h"

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
    delete pictures_.window.data();
    delete videos_.window.data();
    delete pages_.window.data();
    player_.reset();
    backdrop_.reset();
    warmTimer_.stop();
    delete warmPage_.data();
    delete profile_;
    preparer_.reset();
}

PictureWindow* WindowPresenters::Pictures() const {
    return static_cast<PictureWindow*>(pictures_.window.data());
}

VideoWindow* WindowPresenters::Videos() const {
    return static_cast<VideoWindow*>(videos_.window.data());
}

PageWindow* WindowPresenters::Pages() const {
    return static_cast<PageWindow*>(pages_.window.data());
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

void WindowPresenters::PresentItem(Slot& slot, MediaSource source, bool fileExists, int seconds,
                                   const std::function<PresenterWindow*()>& create,
                                   const std::function<bool(PresenterWindow&)>& load,
                                   LoadFailure failure) {
    if (!Showable(source, fileExists, slot.busy)) return;
    if (slot.window != nullptr) {
        slot.window->ReadyForNextItem();
    } else {
        slot.window = create();
    }
    InUse inUse(slot.busy);

    bool loaded = false;
    if (failure == LoadFailure::kLeavesTheCall) {
        // Unguarded: the error leaves the call and the window stays in the slot.
        try {
            loaded = load(*slot.window);
        } catch (...) {
            lastEnd_ = {ItemEndCause::kError, CurrentExceptionText()};
            throw;
        }
    }
    try {
        if (failure == LoadFailure::kEndsTheItem) loaded = load(*slot.window);
        // The load may serve events; the window is gone only with the presenters.
        if (slot.window == nullptr) return;
        if (loaded) ShowItemWindow(*slot.window, seconds);
    } catch (...) {
        lastEnd_ = {ItemEndCause::kError, CurrentExceptionText()};
    }
    // Unguarded: a window that cannot finish (a video the player will not
    // stop) leaves the call with the error and stays in the slot.
    if (slot.window != nullptr) slot.window->AfterShown();
    delete slot.window.data();
    slot.window = nullptr;
    ItemEnded();
}

void WindowPresenters::ShowItemWindow(PresenterWindow& window, int seconds) {
    // A backdrop that gave way to the desktop comes back with the run's next
    // item, beneath its window.
    if (runDepth_ > 0 && backdrop_ != nullptr && !BackdropUp()) backdrop_->ShowBackdrop();
    window.ArmDisplayTimer(seconds);
    window.SetShownAbove(backdrop_.get());
    HandOverFrames(window);
    PrepareAfterFirstFrame(window);
    if (BackdropUp()) {
        const QPixmap frame = window.FrameBeforeShown(backdrop_->size());
        if (!frame.isNull()) backdrop_->HoldFrame(frame);
    }
    window.ShowModal();
    EndedBy(window);
}

void WindowPresenters::ShowImage(const std::string& location, int seconds, MediaSource source) {
    const QString path = QString::fromStdString(location);
    PresentItem(
        pictures_, source, FileExists(path), seconds,
        [this] { return MakePictureWindow(); },
        [&](PresenterWindow& window) {
            return LoadPicture(static_cast<PictureWindow&>(window), location, source);
        },
        // A local picture that cannot be decoded throws out of the call.
        source == MediaSource::kLocalFile ? LoadFailure::kLeavesTheCall
                                          : LoadFailure::kEndsTheItem);
}

PictureWindow* WindowPresenters::MakePictureWindow() {
    auto* window =
        new PictureWindow(QString::fromStdString(appDirectory_.Path() + "logo.png"));
    if (!window->LogoFault().empty() && window->LogoFault() != logoFault_) {
        LogWarning(LogCategory::kPlay,
                   "logo.png cannot be read, pictures are shown without it: " + window->LogoFault());
    }
    logoFault_ = window->LogoFault();
    return window;
}

bool WindowPresenters::LoadPicture(PictureWindow& window, const std::string& location,
                                   MediaSource source) {
    try {
        return LoadPictureOf(window, location, source);
    } catch (const PictureTooLarge& e) {
        // Its item ends with the error; the log says which picture it was.
        LogWarning(LogCategory::kPlay, "The picture " + location + " is not shown, " + e.what());
        throw;
    }
}

bool WindowPresenters::LoadPictureOf(PictureWindow& window, const std::string& location,
                                     MediaSource source) {
    if (source == MediaSource::kOnline) {
        if (!connectivity_.IsOnline()) return false;
        std::optional<std::string> body;
        if (fetch_) body = fetch_(location);
        // The fetch serves events; the window is gone only with the presenters.
        if (pictures_.window == nullptr) return false;
        if (!body) throw std::runtime_error("The picture could not be fetched");
        if (!window.LoadJpeg(QByteArray(body->data(), qsizetype(body->size())))) {
            throw std::runtime_error("The picture is not a JPEG picture");
        }
        return true;
    }
    const QString path = QString::fromStdString(location);
    if (!FileExists(path)) return false;
    if (std::optional<PreparedPicture> prepared = preparer_->Take(path)) {
        window.UsePreparedPicture(std::move(*prepared));
    } else {
        window.LoadPicture(path);
    }
    return true;
}

void WindowPresenters::PlayVideo(const std::string& location, int seconds, MediaSource source) {
    PresentItem(
        videos_, source, FileExists(QString::fromStdString(location)), seconds,
        [this] {
            return new VideoWindow(EnsurePlayer(), QString::fromStdString(settings_.contactNumber));
        },
        [&](PresenterWindow& window) {
            static_cast<VideoWindow&>(window).Open(location);
            return true;
        },
        LoadFailure::kEndsTheItem);
}

void WindowPresenters::ShowWebPage(const std::string& location, int seconds,
                                   MediaSource source) {
    const QString text = QString::fromStdString(location);
    PresentItem(
        pages_, source, FileExists(text), seconds,
        [this] { return new PageWindow(EnsureProfile()); },
        [&](PresenterWindow& window) {
            static_cast<PageWindow&>(window).Navigate(source == MediaSource::kLocalFile
                                                          ? QUrl::fromLocalFile(text)
                                                          : QUrl::fromUserInput(text));
            return true;
        },
        LoadFailure::kEndsTheItem);
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
    // Each step in its own guard, so that one failing leaves the others to run.
    try {
        if (VideoWindow* window = Videos()) {
            if (window->IsPlaying()) window->Stop();
            window->CloseWindow();
        }
    } catch (...) {
    }
    for (Slot* slot : {&pictures_, &pages_}) {
        try {
            if (slot->window != nullptr) slot->window->CloseWindow();
        } catch (...) {
        }
    }
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

void WindowPresenters::GiveWayToDesktop() {
    // The operator's click comes between two items (an item's window is
    // modal): the desktop shows until the next item is shown, whose
    // full-screen window covers it again; from then on the run's switches
    // need the backdrop to keep the desktop out of sight.
    try {
        if (runDepth_ > 0 && backdrop_ != nullptr) backdrop_->HideBackdrop();
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
