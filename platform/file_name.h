#pragma once

#include <string_view>

namespace zorvak {

// Whether Windows keeps a file under exactly this name (one path component)
// and finds it again by it. Refused: the empty name; the reserved device names
// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (also with the superscript digits
// ¹ ² ³), CONIN$ and CONOUT$, in any case, alone or before an extension
// ("nul.mp4", "Com1.tar.gz", "aux .txt"), which open a device instead of a
// file; names ending in a dot or a blank, which Windows cuts off, so that
// "a.jpg." would be the file "a.jpg"; and names holding a character Windows
// does not allow in names: < > : " / \ | ? * and the codes 0-31.
// The same answer on every OS, so that the rule is tested everywhere.
bool IsWindowsFileName(std::string_view name);

// Whether this OS keeps a file under exactly this name (one path component)
// in a folder. Linux: any name but "", "." and ".." without "/" or NUL.
// Windows: IsWindowsFileName.
bool IsLocalFileName(std::string_view name);

}  // namespace zorvak
