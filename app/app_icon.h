#pragma once

#include <QIcon>
#include <QImage>

namespace zorvak {

// The sizes the client's icon is drawn at, in pixels.
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// The client's own icon at one size: a screen with a play mark, drawn in code
// so that every size is crisp. Needs a QGuiApplication.
QImage DrawClientIcon(int size);

// Every size of kIconSizes in one icon.
QIcon ClientIcon();

}  // namespace zorvak
