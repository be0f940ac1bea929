#include "playback/presenters/window_presenters.h"

#include <QApplication>
#include <QByteArray>
#include <QFileInfo>
#include <QThread>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <stdexcept>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "playback/presenters/full_screen_html.h"
#include "playback/presenters/full_screen_img.h"
#include "playback/presenters/full_screen_mp4.h"

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
bool TopLevelWindowExists(const char* class_name, const QString& caption) {
    if (caption.isEmpty()) return false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        const QString name = QString::fromLatin1(widget->metaObject()->className()).section("::", -1);
        if (name == QLatin1String(class_name) && widget->windowTitle() == caption) return true;
    }
    return false;
}

}  // namespace

WindowPresenters::WindowPresenters(Connectivity& connectivity, const AppDirectory& app_directory,
                                   PictureFetch fetch, PresenterSettings settings)
    : connectivity_(connectivity),
      app_directory_(app_directory),
      fetch_(std::move(fetch)),
      settings_(std::move(settings)) {}

WindowPresenters::~WindowPresenters() {
    delete frmFullScreenImg_.data();
    delete frmFullScreenMp4_.data();
    delete frmFullScreenHtml_.data();
    player_.reset();
    delete profile_;
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

void WindowPresenters::ShowImage(const std::string& location, int seconds, int online) {
    const QString path = QString::fromStdString(location);
    if (online == 0 && !FileExists(path)) return;
    if (online == 1 && !connectivity_.IsOnline()) return;
    if (image_busy_) return;

    if (frmFullScreenImg_ != nullptr) {
        frmFullScreenImg_->ClearPictures();
    } else {
        const QString logo = QString::fromStdString(app_directory_.Path() + "logo.png");
        frmFullScreenImg_ = new TfrmFullScreenImg(logo, settings_.report_error);
    }
    InUse in_use(image_busy_);

    if (online == 1 && connectivity_.IsOnline()) {
        try {
            std::optional<std::string> body;
            if (fetch_) body = fetch_(location);
            if (frmFullScreenImg_ == nullptr) return;
            if (!body) throw std::runtime_error("The picture could not be fetched");
            if (!frmFullScreenImg_->LoadJpeg(QByteArray(body->data(), qsizetype(body->size())))) {
                throw std::runtime_error("The picture is not a JPEG picture");
            }
            frmFullScreenImg_->ArmDisplayTimer(seconds);
            frmFullScreenImg_->SetStayOnTop();
            frmFullScreenImg_->ShowModal();
        } catch (...) {
            if (frmFullScreenImg_ != nullptr) frmFullScreenImg_->ClearPictures();
        }
    } else if (online == 0 && FileExists(path)) {
        // Unguarded: a picture that cannot be loaded leaves the call as an error
        // and the window stays in the slot.
        frmFullScreenImg_->LoadPicture(path);
        try {
            frmFullScreenImg_->ArmDisplayTimer(seconds);
            frmFullScreenImg_->SetStayOnTop();
            frmFullScreenImg_->ShowModal();
        } catch (...) {
        }
    }
    delete frmFullScreenImg_.data();
    frmFullScreenImg_ = nullptr;
}

void WindowPresenters::PlayVideo(const std::string& location, int seconds, int online) {
    if (online == 0 && !FileExists(QString::fromStdString(location))) return;
    if (online == 1 && !connectivity_.IsOnline()) return;
    if (video_busy_) return;

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
            new TfrmFullScreenMp4(player, QString::fromStdString(settings_.contact_number));
    }
    InUse in_use(video_busy_);

    try {
        frmFullScreenMp4_->SetStayOnTop();
        frmFullScreenMp4_->ArmDisplayTimer(seconds);
        if (frmFullScreenMp4_->playState() == TfrmFullScreenMp4::kPlaying) {
            frmFullScreenMp4_->Stop();
        }
        frmFullScreenMp4_->SetUrl(location);
        if (frmFullScreenMp4_->playState() != TfrmFullScreenMp4::kPlaying) {
            frmFullScreenMp4_->Play();
        }
        frmFullScreenMp4_->ShowModal();
    } catch (...) {
    }
    // Unguarded: a stop that fails leaves the call as an error and the window
    // stays in the slot.
    if (frmFullScreenMp4_ != nullptr &&
        frmFullScreenMp4_->playState() == TfrmFullScreenMp4::kPlaying) {
        frmFullScreenMp4_->Stop();
    }
    delete frmFullScreenMp4_.data();
    frmFullScreenMp4_ = nullptr;
}

void WindowPresenters::ShowWebPage(const std::string& location, int seconds, int online) {
    const QString text = QString::fromStdString(location);
    if (online == 0 && !FileExists(text)) return;
    if (online == 1 && !connectivity_.IsOnline()) return;
    if (web_busy_) return;

    if (frmFullScreenHtml_ == nullptr) {
        frmFullScreenHtml_ = new TfrmFullScreenHtml(EnsureProfile());
    }
    InUse in_use(web_busy_);

    try {
        frmFullScreenHtml_->SetStayOnTop();
        frmFullScreenHtml_->ArmDisplayTimer(seconds);
        frmFullScreenHtml_->Navigate(online == 0 ? QUrl::fromLocalFile(text)
                                                 : QUrl::fromUserInput(text));
        frmFullScreenHtml_->ShowModal();
    } catch (...) {
    }
    delete frmFullScreenHtml_.data();
    frmFullScreenHtml_ = nullptr;
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

void PrepareWebEngineEnvironment() {
#ifndef _WIN32
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

}  // namespace zorvak
