#include "playback/presenters/full_screen_img.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <stdexcept>

#include "core/product_texts.h"
#include "playback/presenters/metafile.h"
#include "playback/presenters/picture_preparer.h"

namespace zorvak {
namespace {

// A metafile has no size of its own worth keeping: it is drawn at the size it
// is shown at, the screen's.
QSize MetafileSize(const QWidget& window) {
    if (window.isVisible() && !window.size().isEmpty()) return window.size();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->size();
    return QSize(1280, 720);
}

}  // namespace

TfrmFullScreenImg::TfrmFullScreenImg(const QString& logoPath,
                                     const std::function<void(const std::string&)>& report)
    : PresenterWindow("TfrmFullScreenImg", QString::fromUtf8(texts::kImageWindowCaption)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (!QFileInfo::exists(logoPath)) return;
    try {
        imgLogo = QPixmap::fromImage(ReadPictureStrictly(logoPath, "png"));
    } catch (const std::exception& e) {
        imgLogo = QPixmap();
        if (report) report(e.what());
    }
}

void TfrmFullScreenImg::LoadPicture(const QString& path) {
    const char* format = PictureDecoderFor(path);
    if (format == nullptr) {
        throw std::runtime_error("Unknown picture file extension (." +
                                 QFileInfo(path).suffix().toStdString() + ")");
    }
    const std::string type = format;
    if (type == "wmf") imgShow = RenderWmfFile(path, MetafileSize(*this));
    else if (type == "emf") imgShow = RenderEmfFile(path, MetafileSize(*this));
    else imgShow = ReadPictureStrictly(path, format);
    frame_ = QPixmap();
    update();
}

void TfrmFullScreenImg::UsePreparedPicture(PreparedPicture picture) {
    imgShow = std::move(picture.image);
    frame_ = QPixmap();
    if (!picture.scaled.isNull()) {
        // Opaque already (ScaledOverBlack on the worker): the logo goes
        // straight onto it, and the frame keeps its memory, which the
        // worker thread touched ahead of this item's turn.
        DrawLogo(picture.scaled);
        frame_ = QPixmap::fromImage(std::move(picture.scaled));
    }
    update();
}

bool TfrmFullScreenImg::LoadJpeg(const QByteArray& bytes) {
    QImage image;
    if (!image.loadFromData(bytes, "JPEG")) return false;
    imgShow = image;
    frame_ = QPixmap();
    update();
    return true;
}

void TfrmFullScreenImg::ClearPictures() {
    imgShow = QImage();
    imgLogo = QPixmap();
    frame_ = QPixmap();
    update();
}

QRect TfrmFullScreenImg::LogoBoxIn(QSize size) {
    return QRect(size.width() - kLogoRight - kLogoWidth, size.height() - kLogoBottom - kLogoHeight,
                 kLogoWidth, kLogoHeight);
}

void TfrmFullScreenImg::DrawLogo(QPaintDevice& frame) const {
    if (imgLogo.isNull()) return;
    QPainter painter(&frame);
    const QRect box = LogoBoxIn(QSize(frame.width(), frame.height()));
    painter.setClipRect(box);
    painter.drawPixmap(box.topLeft(), imgLogo);
}

QPixmap TfrmFullScreenImg::FrameAt(QSize size) {
    if (frame_.size() == size || size.isEmpty()) return frame_;
    QImage frame;
    if (imgShow.isNull()) {
        frame = QImage(size, QImage::Format_RGB32);
        frame.fill(Qt::black);
    } else {
        frame = ScaledOverBlack(imgShow, size);
    }
    DrawLogo(frame);
    frame_ = QPixmap::fromImage(std::move(frame));
    return frame_;
}

void TfrmFullScreenImg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, FrameAt(size()));
}

}  // namespace zorvak
