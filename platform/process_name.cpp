#include "platform/process_name.h"

namespace zorvak {

std::string_view FileNamePart(std::string_view path) {
    auto sep = path.find_last_of("/\\:");
    return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string UpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool ProcessNameMatches(std::string_view processName, std::string_view wanted) {
    if (UpperAscii(FileNamePart(processName)) == UpperAscii(FileNamePart(wanted))) return true;
    return UpperAscii(processName) == UpperAscii(wanted);
}

}  // namespace zorvak
