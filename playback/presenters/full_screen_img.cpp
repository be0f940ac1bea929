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
    scaled_ = QPixmap();
    update();
}

void TfrmFullScreenImg::UsePreparedPicture(PreparedPicture picture) {
    imgShow = std::move(picture.image);
    scaled_ = picture.scaled.isNull() ? QPixmap() : QPixmap::fromImage(std::move(picture.scaled));
    update();
}

bool TfrmFullScreenImg::LoadJpeg(const QByteArray& bytes) {
    QImage image;
    if (!image.loadFromData(bytes, "JPEG")) return false;
    imgShow = image;
    scaled_ = QPixmap();
    update();
    return true;
}

void TfrmFullScreenImg::ClearPictures() {
    imgShow = QImage();
    imgLogo = QPixmap();
    scaled_ = QPixmap();
    update();
}

QRect TfrmFullScreenImg::LogoBox() const {
    return QRect(width() - kLogoRight - kLogoWidth, height() - kLogoBottom - kLogoHeight,
                 kLogoWidth, kLogoHeight);
}

void TfrmFullScreenImg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!imgShow.isNull()) {
        if (scaled_.size() != size()) {
            scaled_ = QPixmap::fromImage(imgShow.scaled(size(), Qt::IgnoreAspectRatio,
                                                        Qt::SmoothTransformation));
        }
        painter.drawPixmap(0, 0, scaled_);
    }
    if (!imgLogo.isNull()) {
        const QRect box = LogoBox();
        painter.setClipRect(box);
        painter.drawPixmap(box.topLeft(), imgLogo);
    }
}

}  // namespace zorvak
