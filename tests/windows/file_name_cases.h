#pragma once

#include <string>

namespace zorvak::check {

// Names Windows keeps a file under, and names it does not (device names,
// names it cuts at the end, characters it does not allow).
inline const std::string kWindowsKeeps[] = {
    "a.jpg", "..a", "a..b", ".hidden", "\xE5\xB9\xBF\xE5\x91\x8A 1.mp4", "CONSOLE.mp4", "con1.jpg",
    "COM10.jpg", "LPT0.png", "COM.jpg", "nul_.mp4", "auxiliary", "x.con", "a b.mp4", "com\xC2\xB9x",
};
inline const std::string kWindowsRefuses[] = {
    "", ".", "..", "CON", "con", "Con.mp4", "PRN.jpg", "aux.tar.gz", "NUL", "nul.mp4", "NUL .mp4",
    "nul ", "COM1", "com9.jpg", "LPT1", "lpt9.txt", "COM\xC2\xB9.jpg", "lpt\xC2\xB3", "CONIN$",
    "conout$.txt", "a.jpg.", "a.jpg ", "name...", "x<y", "x>y", "x:y", "x\"y", "x/y", "x\\y", "x|y",
    "x?y", "x*y", "x\ty", std::string("a\0b", 3),
};

}  // namespace zorvak::check
