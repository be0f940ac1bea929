#pragma once

#include <QIODevice>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace zorvak {

// The decoder QImageReader uses for a picture file, by its extension compared
// without regard to case: "bmp", "ico", "jpeg" (jpg, jpeg), "png", and "wmf",
// "emf" for the Windows metafiles (drawn by metafile.h, not by a reader).
// nullptr for any other extension.
const char* PictureDecoderFor(const QString& path);

// A picture whose decode would need more memory than a picture may take.
// Its message is "too large: W × H" (the picture's own size, upright).
class PictureTooLarge : public std::runtime_error {
public:
    explicit PictureTooLarge(QSize size);
};

// Reads a picture with exactly that decoder, content detection off, upright:
// the EXIF orientation (2–8) is applied, a missing or damaged tag leaves the
// picture as stored. With a non-empty `shown`, a picture larger than that is
// decoded at `shown` (upright) where the decoder can scale while it reads
// (JPEG: libjpeg's reduced decode, then a smooth scale); a picture no larger
// than `shown` in both directions, or of a decoder that cannot scale (PNG,
// BMP, ICO), is read whole. Every decode stays within QImageReader's
// allocation limit (128 MB by default): one that would not throws
// PictureTooLarge before anything is decoded. Throws std::runtime_error with
// the reader's message when the data cannot be read.
QImage ReadPicture(QIODevice& device, const char* format, QSize shown = QSize());
// The same for the file at path.
QImage ReadPictureStrictly(const QString& path, const char* format, QSize shown = QSize());

// image as the picture window shows it at size: stretched to it
// (IgnoreAspectRatio, SmoothTransformation) and drawn over black, so opaque,
// Format_RGB32.
QImage ScaledOverBlack(const QImage& image, QSize size);

// A picture file as it was when read: a file replaced or rewritten since has
// another key (its size or its modification time, to the nanosecond,
// differ).
struct PictureFileKey {
    QString path;
    std::uintmax_t size = 0;
    std::int64_t modifiedNs = 0;

    bool operator==(const PictureFileKey&) const = default;
};
// The key of the regular file at path now; nullopt when there is none.
std::optional<PictureFileKey> PictureFileKeyOf(const QString& path);

// A picture decoded ahead of its turn, as the picture window would decode it,
// and that image as the window shows it at `scaled.size()` (ScaledOverBlack).
struct PreparedPicture {
    PictureFileKey key;
    QImage image;
    QImage scaled;
};

// Decodes one local picture at a time off the GUI thread, for the picture
// window to show at its turn without decoding or scaling it then.
//
// Create, use and destroy it on the GUI thread. One worker thread, started
// at the first Prepare(), decodes at most one picture at a time; its result
// comes back as a queued call, so what Take() sees changes only while the GUI
// thread serves events. It holds at most one finished picture: a newer one
// replaces it, Take() hands it out, Drop() lets it go. The destructor waits
// for a decode in progress (a picture's decode time at most) and drops its
// result; nothing of the worker outlives the preparer.
class PicturePreparer {
public:
    PicturePreparer();
    ~PicturePreparer();
    PicturePreparer(const PicturePreparer&) = delete;
    PicturePreparer& operator=(const PicturePreparer&) = delete;

    // Starts decoding the picture at path and scaling it to size. Only
    // bitmaps are prepared (bmp, ico, jpeg, png by PictureDecoderFor); for
    // anything else, no file, or an empty size it does nothing. Supersedes
    // an earlier request that has not finished (its result is dropped when
    // it does); a request for the picture already being decoded, unchanged,
    // lets that decode go on. A picture that cannot be decoded, or whose file
    // changed while it was read, gives no result.
    void Prepare(const QString& path, QSize size);

    // The prepared picture of the file at path as it is now, handed out; the
    // preparer holds none afterwards. nullopt when the prepared picture is of
    // another file, or none is finished; a prepared picture of the same path
    // whose file changed since is dropped.
    std::optional<PreparedPicture> Take(const QString& path);

    // Drops the finished picture and any request not finished yet.
    void Drop();

    // A request has not finished yet (for tests).
    bool Preparing() const { return wanted_.has_value(); }
    // How many requests started a decode (for tests).
    int Requested() const { return requested_; }
    // A finished picture is held (for tests).
    bool HoldsPicture() const { return ready_.has_value(); }
    // The key of the held picture, if any (for tests).
    std::optional<PictureFileKey> HeldKey() const;

private:
    struct Request {
        std::uint64_t generation = 0;
        PictureFileKey key;
        QByteArray format;
        QSize size;
    };
    void Work();
    // On the GUI thread: a result of the worker.
    void Finished(std::uint64_t generation, std::shared_ptr<PreparedPicture> picture);

    // Shared with the worker, under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    bool stopping_ = false;

    // GUI thread only.
    std::uint64_t generation_ = 0;          // of the latest request
    std::optional<PictureFileKey> wanted_;  // the latest request's file, until its result
    QSize wantedSize_;
    int requested_ = 0;
    std::optional<PreparedPicture> ready_;
    // The worker's results are queued calls to this object; it goes only
    // after the worker has ended, and with it any result still queued.
    std::unique_ptr<QObject> receiver_;
    std::thread worker_;
};

}  // namespace zorvak
