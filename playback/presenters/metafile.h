#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace zorvak {

// Windows metafiles drawn into a picture of the given size, the drawing
// stretched to it (its aspect ratio is not kept), over white as a Windows
// picture control would show it:
//  - WMF (placeable or not) through libwmf's raster device;
//  - EMF through libemf2svg to SVG, drawn by Qt's SVG renderer.
// Throw std::runtime_error when the file cannot be read or decoded.
QImage RenderWmfFile(const QString& path, QSize size);
QImage RenderEmfFile(const QString& path, QSize size);

}  // namespace zorvak
