#include "playback/presenters/full_screen_mp4.h"

#include <QFontDatabase>
#include <QKeyEvent>

#include "core/product_texts.h"

namespace zorvak {
namespace {

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

}  // namespace

TfrmFullScreenMp4::TfrmFullScreenMp4(PlayerCore& core, const QString& contactNumber)
    : PresenterWindow("TfrmFullScreenMp4", QString::fromUtf8(texts::kVideoWindowCaption)),
      core_(core) {
    // In z-order from the bottom: Label2, Label1, then the player over both.
    label2_ = MakeCaption(this, "Label2", contactNumber, 37);
    label1_ = MakeCaption(this, "Label1", QString::fromUtf8(texts::kBrandCaption), 48);
    wmMp4 = core_.Attach(this, this);
    SetWaitsForFirstFrame(true);
}

TfrmFullScreenMp4::~TfrmFullScreenMp4() {
    core_.Detach(this);
}

void TfrmFullScreenMp4::PlaceLabels() {
    label1_->setGeometry(width() - 24 - 288, height() - 51 - 62, 288, 62);
    label2_->setGeometry(width() - 44 - 252, height() - 9 - 48, 252, 48);
}

void TfrmFullScreenMp4::resizeEvent(QResizeEvent* event) {
    PresenterWindow::resizeEvent(event);
    PlaceLabels();
    if (wmMp4 != nullptr) wmMp4->setGeometry(rect());
}

int TfrmFullScreenMp4::playState() {
    return core_.IsPlaying() ? kPlaying : 1;
}

void TfrmFullScreenMp4::Stop() {
    core_.Stop();
}

void TfrmFullScreenMp4::SetUrl(const std::string& location) {
    core_.SetUrl(location);
}

void TfrmFullScreenMp4::Play() {
    core_.Play();
}

void TfrmFullScreenMp4::SetFullScreen(bool fullScreen) {
    fullScreen_ = fullScreen;
    if (!fullScreen) return;
    if (wmMp4 != nullptr) {
        wmMp4->setGeometry(rect());
        wmMp4->raise();
        KeepCoverOnTop();
    }
    core_.SetKeepAspect(true);
}

void TfrmFullScreenMp4::StopIfPlaying() {
    try {
        if (playState() == kPlaying) Stop();
    } catch (...) {
    }
}

void TfrmFullScreenMp4::PlayerStateChanged() {
    try {
        if (playState() == kPlaying) SetFullScreen(true);
    } catch (...) {
    }
}

void TfrmFullScreenMp4::PlayerFirstFrame() {
    FirstFrameReady();
}

void TfrmFullScreenMp4::PlayerMediaError() {
    NoteEndCause(ItemEndCause::kError, "the video player could not play the file");
    CloseWindow();
}

// FormKeyPress, and wmMp4KeyPress for the keys that reach the player surface.
void TfrmFullScreenMp4::FormKeyPress(QKeyEvent* event) {
    if (event->text().isEmpty()) return;
    NoteEndCause(event->key() == Qt::Key_Escape ? ItemEndCause::kEscape : ItemEndCause::kKey);
    StopIfPlaying();
    CloseWindow();
}

void TfrmFullScreenMp4::FormClose() {
    StopIfPlaying();
}

}  // namespace zorvak
