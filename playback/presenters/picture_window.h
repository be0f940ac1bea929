#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

#include <string>

#include "playback/presenters/picture_preparer.h"
#include "playback/presenters/presenter_window.h"

namespace zorvak {

// The full-screen picture window, object name "frmFullScreenImg", caption
// texts::kImageWindowCaption. It paints, in this order: black; the picture
// stretched to the whole window (its aspect ratio is not kept); the logo at its own size
// from the top-left corner of a 320 × 106 box whose right side is 8 px from
// the window's right edge and whose bottom side is 12 px from its bottom edge,
// clipped to that box and drawn with its transparency.
class PictureWindow final : public PresenterWindow {
    Q_OBJECT

public:
    static constexpr int kLogoWidth = 320;
    static constexpr int kLogoHeight = 106;
    static constexpr int kLogoRight = 8;
    static constexpr int kLogoBottom = 12;

    // Loads the logo from logoPath when a file exists there. A logo that
    // exists but cannot be read leaves the window without a logo, and
    // LogoFault() says why.
    explicit PictureWindow(const QString& logoPath);

    // Loads a local picture by the type its extension names, compared without
    // regard to case: bmp, ico, jpg, jpeg, png, and the Windows metafiles wmf
    // and emf, drawn at the screen's size (metafile.h). Bitmaps are read by
    // ReadPictureStrictly: upright, and decoded at the size shown when larger.
    // Any other extension, or content the named decoder cannot read, throws
    // std::runtime_error (PictureTooLarge for a picture too large to decode).
    void LoadPicture(const QString& path);
    // Shows a picture decoded ahead of its turn (PicturePreparer) as
    // LoadPicture would have loaded it from the same file. Its scaled image,
    // with the logo drawn on it, is the frame at that image's size (the
    // screen's); at any other size the frame is made afresh from the picture.
    void UsePreparedPicture(PreparedPicture picture);
    // Decodes data as JPEG, whatever it holds, as ReadPicture reads it
    // (upright, at the size shown when larger). False when it cannot; a
    // picture too large to decode throws PictureTooLarge.
    bool LoadJpeg(const QByteArray& bytes);
    // Clears the picture and the logo (a window reused after a failed load).
    void ClearPictures();

    bool HasPicture() const { return !picture_.isNull(); }
    bool HasLogo() const { return !logo_.isNull(); }
    // Why the logo file that exists could not be read; empty when it was read
    // or there is none.
    const std::string& LogoFault() const { return logoFault_; }
    // Where the logo box lies in a window of that size.
    static QRect LogoBoxIn(QSize size);

    // What the window paints when it has that size, made once per size and
    // kept: black, the picture, the logo.
    QPixmap FrameAt(QSize size);

    // The frame at size: the run's backdrop shows it before the window maps.
    QPixmap FrameBeforeShown(QSize size) override { return FrameAt(size); }
    // A window kept after a failed load shows its next picture without
    // either picture or logo of the last one.
    void ReadyForNextItem() override { ClearPictures(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Draws the logo into its box on frame, a frame of the window's content.
    void DrawLogo(QPaintDevice& frame) const;

    QImage picture_;
    QPixmap logo_;
    std::string logoFault_;
    QPixmap frame_;  // FrameAt() at the size last asked for (or prepared); null after a change
};

}  // namespace zorvak
