#include "playback/presenters/video_window.h"

#include <QFontDatabase>
#include <QKeyEvent>

#include "core/product_texts.h"

namespace zorvak {
namespace {

// Where the two captions lie: a box of this size whose right and bottom sides
// are these distances from the window's right and bottom edges, and the
// height of its text in pixels.
struct CaptionPlace {
    int width;
    int height;
    int right;
    int bottom;
    int textPixels;
};
constexpr CaptionPlace kBrandPlace{288, 62, 24, 51, 48};
constexpr CaptionPlace kContactPlace{252, 48, 44, 9, 37};

// 微软雅黑 where it is installed, else an installed CJK font, else the default.
QString CaptionFontFamily() {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family :
         {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
          QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("Noto Sans SC"), QStringLiteral("WenQuanYi Micro Hei")}) {
        if (installed.contains(family)) return family;
    }
    return QString();
}

QLabel* MakeCaption(QWidget* parent, const char* name, const QString& text, int pixelHeight) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    const QString family = CaptionFontFamily();
    if (!family.isEmpty()) font.setFamily(family);
    font.setPixelSize(pixelHeight);
    label->setFont(font);
    label->setStyleSheet("color: white; background: transparent;");
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

void Place(QLabel& caption, const CaptionPlace& place, QSize window) {
    caption.setGeometry(window.width() - place.right - place.width,
                        window.height() - place.bottom - place.height, place.width, place.height);
}

}  // namespace

VideoWindow::VideoWindow(PlayerCore& core, const QString& contactNumber)
    : PresenterWindow("frmFullScreenMp4", QString::fromUtf8(texts::kVideoWindowCaption)),
      core_(core) {
    // In z-order from the bottom: the contact number, the brand, then the
    // player over both.
    contactCaption_ = MakeCaption(this, "Label2", contactNumber, kContactPlace.textPixels);
    brandCaption_ = MakeCaption(this, "Label1", QString::fromUtf8(texts::kBrandCaption),
                                kBrandPlace.textPixels);
    surface_ = core_.Attach(this, this);
    ContentCover().SetWaitsForFirstFrame(true);
}

VideoWindow::~VideoWindow() {
    core_.Detach(this);
}

void VideoWindow::PlaceCaptions() {
    Place(*brandCaption_, kBrandPlace, size());
    Place(*contactCaption_, kContactPlace, size());
}

void VideoWindow::resizeEvent(QResizeEvent* event) {
    PresenterWindow::resizeEvent(event);
    PlaceCaptions();
    if (surface_ != nullptr) surface_->setGeometry(rect());
}

bool VideoWindow::IsPlaying() {
    return core_.IsPlaying();
}

void VideoWindow::Stop() {
    core_.Stop();
}

void VideoWindow::Open(const std::string& location) {
    if (IsPlaying()) Stop();
    core_.SetUrl(location);
    if (!IsPlaying()) core_.Play();
}

void VideoWindow::AfterShown() {
    if (IsPlaying()) Stop();
}

void VideoWindow::SetFullScreen(bool fullScreen) {
    fullScreen_ = fullScreen;
    if (!fullScreen) return;
    if (surface_ != nullptr) {
        surface_->setGeometry(rect());
        surface_->raise();
        ContentCover().KeepOnTop();
    }
    core_.SetKeepAspect(true);
}

void VideoWindow::StopIfPlaying() {
    try {
        if (IsPlaying()) Stop();
    } catch (...) {
    }
}

void VideoWindow::PlayerStateChanged() {
    try {
        if (IsPlaying()) SetFullScreen(true);
    } catch (...) {
    }
}

void VideoWindow::PlayerFirstFrame() {
    ContentCover().FirstFrameReady();
}

void VideoWindow::PlayerMediaError() {
    NoteEndCause(ItemEndCause::kError, "the video player could not play the file");
    CloseWindow();
}

void VideoWindow::KeyPreview(QKeyEvent* event) {
    if (event->text().isEmpty()) return;
    NoteEndCause(event->key() == Qt::Key_Escape ? ItemEndCause::kEscape : ItemEndCause::kKey);
    StopIfPlaying();
    CloseWindow();
}

void VideoWindow::WindowClosing() {
    StopIfPlaying();
}

}  // namespace zorvak
