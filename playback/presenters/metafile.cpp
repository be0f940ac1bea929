#include "playback/presenters/metafile.h"

#include <stdio.h>

#include <QByteArray>
#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

// libwmf's headers predate C++ and are not all wrapped.
extern "C" {
#include <libwmf/api.h>
#include <libwmf/gd.h>
}
#include <emf2svg.h>

namespace zorvak {

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Cannot open the picture file: " + file.errorString().toStdString());
    QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) throw std::runtime_error("The picture file is empty");
    return bytes;
}

QImage OnWhite(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

std::int16_t Int16At(const QByteArray& bytes, int offset) {
    return static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes.at(offset)) |
                                      (static_cast<std::uint8_t>(bytes.at(offset + 1)) << 8));
}

// libwmf's scan pads the drawing's box by half a pen's width on each side, so
// a drawing that fills its picture would show a thin white frame. A placeable
// metafile says which box is its picture (in its logical units, with the
// units per inch; libwmf works in points): the scanned box is cut to it.
void FitToPlaceableFrame(const QByteArray& bytes, wmfD_Rect& bbox) {
    if (bytes.size() < 22 || static_cast<std::uint8_t>(bytes.at(0)) != 0xD7 ||
        static_cast<std::uint8_t>(bytes.at(1)) != 0xCD ||
        static_cast<std::uint8_t>(bytes.at(2)) != 0xC6 ||
        static_cast<std::uint8_t>(bytes.at(3)) != 0x9A)
        return;
    const int inch = static_cast<std::uint16_t>(Int16At(bytes, 14));
    if (inch <= 0) return;
    const double scale = 72.0 / inch;
    wmfD_Rect frame{};
    frame.TL.x = static_cast<float>(Int16At(bytes, 6) * scale);
    frame.TL.y = static_cast<float>(Int16At(bytes, 8) * scale);
    frame.BR.x = static_cast<float>(Int16At(bytes, 10) * scale);
    frame.BR.y = static_cast<float>(Int16At(bytes, 12) * scale);
    wmfD_Rect cut = bbox;
    cut.TL.x = std::max(cut.TL.x, frame.TL.x);
    cut.TL.y = std::max(cut.TL.y, frame.TL.y);
    cut.BR.x = std::min(cut.BR.x, frame.BR.x);
    cut.BR.y = std::min(cut.BR.y, frame.BR.y);
    if (cut.BR.x > cut.TL.x && cut.BR.y > cut.TL.y) bbox = cut;
}

// One libwmf player with its raster device, writing PNG into memory.
class WmfPlayer {
public:
    WmfPlayer() {
        wmfAPI_Options options{};
        options.function = wmf_gd_function;
        // No messages on stderr; errors come back as codes.
        const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR |
                                    WMF_OPT_NO_DEBUG;
        if (wmf_api_create(&api_, flags, &options) != wmf_E_None) {
            if (api_ != nullptr) wmf_api_destroy(api_);
            api_ = nullptr;
            throw std::runtime_error("The metafile player cannot be created");
        }
    }
    ~WmfPlayer() {
        if (api_ != nullptr) wmf_api_destroy(api_);
        if (memory_ != nullptr) std::free(memory_);
    }
    WmfPlayer(const WmfPlayer&) = delete;
    WmfPlayer& operator=(const WmfPlayer&) = delete;

    QImage Render(QByteArray& bytes, QSize size) {
        if (wmf_mem_open(api_, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size()) !=
            wmf_E_None)
            throw std::runtime_error("The picture is not a Windows metafile");
        wmfD_Rect bbox{};
        if (wmf_scan(api_, 0, &bbox) != wmf_E_None)
            throw std::runtime_error("The Windows metafile cannot be read");
        wmf_gd_t* device = WMF_GD_GetData(api_);
        device->type = wmf_gd_png;
        // libwmf keeps the drawing's aspect ratio inside the size it is given,
        // so it draws at the drawing's own proportions (as wide as asked) and
        // the stretch to the asked size follows below.
        FitToPlaceableFrame(bytes, bbox);
        const double drawingWidth = static_cast<double>(bbox.BR.x) - bbox.TL.x;
        const double drawingHeight = static_cast<double>(bbox.BR.y) - bbox.TL.y;
        if (!(drawingWidth > 0) || !(drawingHeight > 0))
            throw std::runtime_error("The Windows metafile draws nothing");
        const double height = size.width() * drawingHeight / drawingWidth;
        device->width = static_cast<unsigned int>(size.width());
        device->height = static_cast<unsigned int>(
            height < 1 ? 1 : height > 4.0 * size.height() ? 4.0 * size.height() : height);
        device->bbox = bbox;
        FILE* out = open_memstream(&memory_, &length_);
        if (out == nullptr) throw std::runtime_error("No memory for the metafile's picture");
        device->file = out;
        device->flags |= WMF_GD_OUTPUT_FILE;
        const wmf_error_t played = wmf_play(api_, 0, &bbox);
        std::fclose(out);
        if (played != wmf_E_None || length_ == 0)
            throw std::runtime_error("The Windows metafile cannot be drawn");
        QImage drawn;
        if (!drawn.loadFromData(reinterpret_cast<const uchar*>(memory_),
                                static_cast<int>(length_), "PNG"))
            throw std::runtime_error("The Windows metafile cannot be drawn");
        QImage image = OnWhite(size);
        QPainter painter(&image);
        painter.drawImage(QRect(QPoint(0, 0), size), drawn);
        return image;
    }

private:
    wmfAPI* api_ = nullptr;
    char* memory_ = nullptr;
    size_t length_ = 0;
};

}  // namespace

QImage RenderWmfFile(const QString& path, QSize size) {
    QByteArray bytes = ReadAll(path);
    WmfPlayer player;
    return player.Render(bytes, size);
}

QImage RenderEmfFile(const QString& path, QSize size) {
    QByteArray bytes = ReadAll(path);
    // An EMF starts with its header record: type 1, then " EMF" at byte 40.
    if (bytes.size() < 88 || bytes.at(0) != 1 || bytes.mid(40, 4) != QByteArray(" EMF"))
        throw std::runtime_error("The picture is not an enhanced metafile");
    generatorOptions options{};
    options.nameSpace = const_cast<char*>("");
    options.verbose = false;
    options.emfplus = true;
    options.svgDelimiter = true;
    options.imgWidth = size.width();
    options.imgHeight = size.height();
    char* svg = nullptr;
    size_t svgLength = 0;
    const int converted = emf2svg(bytes.data(), static_cast<size_t>(bytes.size()), &svg, &svgLength, &options);
    std::unique_ptr<char, decltype(&std::free)> owned(svg, &std::free);
    if (converted == 0 || svg == nullptr || svgLength == 0)
        throw std::runtime_error("The enhanced metafile cannot be read");
    QSvgRenderer renderer(QByteArray(svg, static_cast<qsizetype>(svgLength)));
    if (!renderer.isValid()) throw std::runtime_error("The enhanced metafile cannot be drawn");
    renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
    QImage image = OnWhite(size);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

}  // namespace zorvak
