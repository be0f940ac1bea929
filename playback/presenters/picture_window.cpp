#include "playback/presenters/picture_window.h"

#include <QBuffer>
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

// The size a metafile is drawn at when the application has no screen at all:
// nothing is shown then, the picture only has to exist, so any common screen
// size does.
constexpr QSize kSizeWithoutScreen(1280, 720);

// The size a picture is shown at: the window's once it is on screen, the
// screen's before. A metafile is drawn at it; a larger picture is decoded at it.
QSize ShownSize(const QWidget& window) {
    if (window.isVisible() && !window.size().isEmpty()) return window.size();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->size();
    return kSizeWithoutScreen;
}

}  // namespace

PictureWindow::PictureWindow(const QString& logoPath)
    : PresenterWindow("frmFullScreenImg", QString::fromUtf8(texts::kImageWindowCaption)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (!QFileInfo::exists(logoPath)) return;
    try {
        logo_ = QPixmap::fromImage(ReadPictureStrictly(logoPath, "png"));
    } catch (const std::exception& e) {
        logo_ = QPixmap();
        logoFault_ = e.what();
    }
}

void PictureWindow::LoadPicture(const QString& path) {
    const char* format = PictureDecoderFor(path);
    if (format == nullptr) {
        throw std::runtime_error("Unknown picture file extension (." +
                                 QFileInfo(path).suffix().toStdString() + ")");
    }
    const std::string type = format;
    if (type == "wmf") picture_ = RenderWmfFile(path, ShownSize(*this));
    else if (type == "emf") picture_ = RenderEmfFile(path, ShownSize(*this));
    else picture_ = ReadPictureStrictly(path, format, ShownSize(*this));
    frame_ = QPixmap();
    update();
}

void PictureWindow::UsePreparedPicture(PreparedPicture picture) {
    picture_ = std::move(picture.image);
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

bool PictureWindow::LoadJpeg(const QByteArray& bytes) {
    QByteArray data = bytes;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly)) return false;
    QImage image;
    try {
        image = ReadPicture(buffer, "jpeg", ShownSize(*this));
    } catch (const PictureTooLarge&) {
        throw;
    } catch (const std::runtime_error&) {
        return false;
    }
    picture_ = image;
    frame_ = QPixmap();
    update();
    return true;
}

void PictureWindow::ClearPictures() {
    picture_ = QImage();
    logo_ = QPixmap();
    frame_ = QPixmap();
    update();
}

QRect PictureWindow::LogoBoxIn(QSize size) {
    return QRect(size.width() - kLogoRight - kLogoWidth, size.height() - kLogoBottom - kLogoHeight,
                 kLogoWidth, kLogoHeight);
}

void PictureWindow::DrawLogo(QPaintDevice& frame) const {
    if (logo_.isNull()) return;
    QPainter painter(&frame);
    const QRect box = LogoBoxIn(QSize(frame.width(), frame.height()));
    painter.setClipRect(box);
    painter.drawPixmap(box.topLeft(), logo_);
}

QPixmap PictureWindow::FrameAt(QSize size) {
    if (frame_.size() == size || size.isEmpty()) return frame_;
    QImage frame;
    if (picture_.isNull()) {
        frame = QImage(size, QImage::Format_RGB32);
        frame.fill(Qt::black);
    } else {
        frame = ScaledOverBlack(picture_, size);
    }
    DrawLogo(frame);
    frame_ = QPixmap::fromImage(std::move(frame));
    return frame_;
}

void PictureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, FrameAt(size()));
}

}  // namespace zorvak
