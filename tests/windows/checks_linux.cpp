// The Linux side of the rules the Windows checker looks at.

#include <string>

#include "check.h"
#include "platform/file_name.h"

namespace zorvak {
namespace {

CHECK_GROUP(LocalFileName) {
    // Linux keeps what Windows refuses, but for "/" and NUL.
    for (const char* name : {"nul.mp4", "CON", "a.jpg.", "a.jpg ", "x:y", "COM1", "x?y"})
        EXPECT_TRUE(IsLocalFileName(name), std::string("Linux keeps ") + name);
    for (const std::string& name :
         {std::string(""), std::string("."), std::string(".."), std::string("x/y"), std::string("a\0b", 3)})
        EXPECT_TRUE(!IsLocalFileName(name), "Linux refuses " + check::Show(name));
}

}  // namespace
}  // namespace zorvak
