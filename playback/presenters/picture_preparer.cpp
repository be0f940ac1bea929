#include "playback/presenters/picture_preparer.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <stdexcept>
#include <system_error>

#include "platform/file_path.h"

namespace zorvak {

QImage ScaledOverBlack(const QImage& image, QSize size) {
    QImage scaled = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.format() == QImage::Format_RGB32) return scaled;
    QImage opaque(size, QImage::Format_RGB32);
    opaque.fill(Qt::black);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, scaled);
    return opaque;
}

const char* PictureDecoderFor(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == "bmp") return "bmp";
    if (extension == "ico") return "ico";
    if (extension == "jpg" || extension == "jpeg") return "jpeg";
    if (extension == "png") return "png";
    if (extension == "wmf") return "wmf";
    if (extension == "emf") return "emf";
    return nullptr;
}

namespace {

// The memory a decode of that size takes at most: 4 bytes a pixel.
qint64 DecodeBytes(QSize size) {
    return qint64(size.width()) * size.height() * 4;
}

bool WithinAllocationLimit(QSize size) {
    const int limitMb = QImageReader::allocationLimit();
    return limitMb <= 0 || DecodeBytes(size) <= qint64(limitMb) * 1024 * 1024;
}

// The size libjpeg decodes a stored picture at when Qt's JPEG reader is asked
// for `scaled`: the least of its M/8 reductions (M = 1..8) not smaller than
// `scaled` in both directions.
QSize JpegDecodeSize(QSize stored, QSize scaled) {
    const double f = std::min(double(stored.width()) / scaled.width(),
                              double(stored.height()) / scaled.height());
    const int m = std::clamp(int(std::ceil(8 / f)), 1, 8);
    return QSize(int((qint64(stored.width()) * m + 7) / 8),
                 int((qint64(stored.height()) * m + 7) / 8));
}

}  // namespace

PictureTooLarge::PictureTooLarge(QSize size)
    : std::runtime_error("too large: " + std::to_string(size.width()) + " × " +
                         std::to_string(size.height())) {}

QImage ReadPicture(QIODevice& device, const char* format, QSize shown) {
    QImageReader reader(&device, format);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (stored.isValid()) {
        // The orientation is applied after the decode, so a size asked of
        // the decoder is in the stored picture's directions.
        const bool transposed =
            (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
        const QSize upright = transposed ? stored.transposed() : stored;
        const QSize target = transposed ? shown.transposed() : shown;
        const bool larger = !shown.isEmpty() &&
                            (stored.width() > target.width() || stored.height() > target.height());
        if (larger && reader.supportsOption(QImageIOHandler::ScaledSize)) {
            const bool jpeg = std::strcmp(format, "jpeg") == 0;
            if (!WithinAllocationLimit(jpeg ? JpegDecodeSize(stored, target) : stored)) {
                throw PictureTooLarge(upright);
            }
            reader.setScaledSize(target);
        } else if (!WithinAllocationLimit(stored)) {
            throw PictureTooLarge(upright);
        }
    }
    QImage image = reader.read();
    if (image.isNull()) {
        throw std::runtime_error(reader.errorString().toStdString());
    }
    return image;
}

QImage ReadPictureStrictly(const QString& path, const char* format, QSize shown) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toStdString());
    }
    return ReadPicture(file, format, shown);
}

std::optional<PictureFileKey> PictureFileKeyOf(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    const std::filesystem::path file = LocalPath(path.toStdString());
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error) return std::nullopt;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) return std::nullopt;
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    return PictureFileKey{path, size, static_cast<std::int64_t>(ns)};
}

PicturePreparer::PicturePreparer() : receiver_(std::make_unique<QObject>()) {}

PicturePreparer::~PicturePreparer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        pending_.reset();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    // Results still queued go with their receiver.
    receiver_.reset();
}

void PicturePreparer::Prepare(const QString& path, QSize size) {
    const char* format = PictureDecoderFor(path);
    // Metafiles are drawn at the window's size on the GUI thread, at their turn.
    if (format == nullptr || std::strcmp(format, "wmf") == 0 || std::strcmp(format, "emf") == 0) {
        return;
    }
    if (size.isEmpty()) return;
    const std::optional<PictureFileKey> key = PictureFileKeyOf(path);
    if (!key) return;
    if (wanted_ == key && wantedSize_ == size) return;  // being decoded already

    wanted_ = key;
    wantedSize_ = size;
    ++generation_;
    ++requested_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = Request{generation_, *key, QByteArray(format), size};
    }
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
    wake_.notify_one();
}

std::optional<PreparedPicture> PicturePreparer::Take(const QString& path) {
    if (!ready_ || ready_->key.path != path) return std::nullopt;
    if (PictureFileKeyOf(path) != ready_->key) {
        // The file changed since it was decoded.
        ready_.reset();
        return std::nullopt;
    }
    std::optional<PreparedPicture> picture = std::move(ready_);
    ready_.reset();
    return picture;
}

void PicturePreparer::Drop() {
    ready_.reset();
    wanted_.reset();
    ++generation_;
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.reset();
}

std::optional<PictureFileKey> PicturePreparer::HeldKey() const {
    if (!ready_) return std::nullopt;
    return ready_->key;
}

void PicturePreparer::Work() {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
            if (stopping_) return;
            request = std::move(*pending_);
            pending_.reset();
        }
        std::shared_ptr<PreparedPicture> picture;
        try {
            // Decoded only from the file the request saw, and kept only when
            // it did not change while it was read.
            if (PictureFileKeyOf(request.key.path) == request.key) {
                QImage image = ReadPictureStrictly(request.key.path, request.format.constData(),
                                                   request.size);
                QImage scaled = ScaledOverBlack(image, request.size);
                if (PictureFileKeyOf(request.key.path) == request.key) {
                    picture = std::make_shared<PreparedPicture>(
                        PreparedPicture{request.key, std::move(image), std::move(scaled)});
                }
            }
        } catch (...) {
            // Decoded again at its turn, where the error leaves ShowImage.
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        // Under the lock: the destructor cannot have begun, so the receiver
        // is there.
        QMetaObject::invokeMethod(
            receiver_.get(),
            [this, generation = request.generation, picture] { Finished(generation, picture); },
            Qt::QueuedConnection);
    }
}

void PicturePreparer::Finished(std::uint64_t generation, std::shared_ptr<PreparedPicture> picture) {
    if (generation != generation_) return;  // superseded or dropped meanwhile
    wanted_.reset();
    if (picture) ready_ = std::move(*picture);
}

}  // namespace zorvak
