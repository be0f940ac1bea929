#include "playback/presenters/full_screen_img.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QScreen>

#include <stdexcept>

#include "core/product_texts.h"
#include "playback/presenters/metafile.h"

namespace zorvak {
namespace {

// The decoder for a file extension, or nullptr when the extension names no
// supported picture type. Metafiles (wmf, emf) are drawn by metafile.h.
const char* DecoderFor(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == "bmp") return "bmp";
    if (extension == "ico") return "ico";
    if (extension == "jpg" || extension == "jpeg") return "jpeg";
    if (extension == "png") return "png";
    if (extension == "wmf") return "wmf";
    if (extension == "emf") return "emf";
    return nullptr;
}

// A metafile has no size of its own worth keeping: it is drawn at the size it
// is shown at, the screen's.
QSize MetafileSize(const QWidget& window) {
    if (window.isVisible() && !window.size().isEmpty()) return window.size();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->size();
    return QSize(1280, 720);
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
    const std::string type = format;
    if (type == "wmf") imgShow = RenderWmfFile(path, MetafileSize(*this));
    else if (type == "emf") imgShow = RenderEmfFile(path, MetafileSize(*this));
    else imgShow = ReadStrictly(path, format);
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
