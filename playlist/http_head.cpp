#include "playlist/http_head.h"

#include "core/text.h"

namespace zorvak {

std::optional<std::string> FindHeader(const HttpHeaders& headers, std::string_view name) {
    for (const HttpHeader& header : headers)
        if (EqualsNoCase(header.name, name)) return header.value;
    return std::nullopt;
}

HttpHeadReader::Line HttpHeadReader::Feed(std::string_view line) {
    if (StartsWithNoCase(line, "HTTP/")) {
        // A new answer (an interim 1xx is followed by the final one).
        answer_.status = 0;
        const auto sp = line.find(' ');
        if (sp != std::string_view::npos) {
            std::string_view code = line.substr(sp + 1, 3);
            int status = 0;
            bool digits = code.size() == 3;
            for (char c : code) {
                digits = digits && c >= '0' && c <= '9';
                status = status * 10 + (c - '0');
            }
            if (digits) answer_.status = status;
        }
        answer_.headers.clear();
        headDone_ = false;
        return Line::kStatus;
    }
    if (headDone_) return Line::kIgnored;  // trailers of a chunked body: not kept
    // A CR, LF or NUL inside a line becomes a blank (as HTTP/1.1 asks of a
    // recipient), so no kept name or value carries one into a later request.
    std::string cleaned(Trim(line, kBlanksAndLineEnds));
    for (char& c : cleaned)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    std::string_view content = Trim(cleaned, kBlanksAndLineEnds);
    if (content.empty()) {
        if (answer_.status >= 200) headDone_ = true;
        return Line::kEnd;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !answer_.headers.empty()) {
        answer_.headers.back().value += ' ';
        answer_.headers.back().value += content;
        return Line::kFolded;
    }
    const auto colon = content.find(':');
    if (colon == std::string_view::npos) return Line::kIgnored;
    answer_.headers.push_back({std::string(content.substr(0, colon)),
                               std::string(Trim(content.substr(colon + 1), kBlanksAndLineEnds))});
    return Line::kHeader;
}

}  // namespace zorvak
