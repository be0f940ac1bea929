#include "playback/presenters/full_screen_img.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <stdexcept>

#include "core/product_texts.h"

namespace zorvak {
namespace {

// The decoder for a file extension, or nullptr when the extension names no
// supported picture type. Metafiles (wmf, emf) have no decoder here.
const char* DecoderFor(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == "bmp") return "bmp";
    if (extension == "ico") return "ico";
    if (extension == "jpg" || extension == "jpeg") return "jpeg";
    if (extension == "png") return "png";
    return nullptr;
}

QImage ReadStrictly(const QString& path, const char* format) {
    QImageReader reader(path, format);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    QImage image = reader.read();
    if (image.isNull()) {
        throw std::runtime_error(reader.errorString().toStdString());
    }
    return image;
}

}  // namespace

TfrmFullScreenImg::TfrmFullScreenImg(const QString& logoPath,
                                     const std::function<void(const std::string&)>& report)
    : PresenterWindow("TfrmFullScreenImg", QString::fromUtf8(texts::kImageWindowCaption)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (!QFileInfo::exists(logoPath)) return;
    try {
        imgLogo = QPixmap::fromImage(ReadStrictly(logoPath, "png"));
    } catch (const std::exception& e) {
        imgLogo = QPixmap();
        if (report) report(e.what());
    }
}

void TfrmFullScreenImg::LoadPicture(const QString& path) {
    const char* format = DecoderFor(path);
    if (format == nullptr) {
        throw std::runtime_error("Unknown picture file extension (." +
                                 QFileInfo(path).suffix().toStdString() + ")");
    }
    imgShow = ReadStrictly(path, format);
    scaled_ = QPixmap();
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
