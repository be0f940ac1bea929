#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvak {

// One header line of a request or an answer.
struct HttpHeader {
    std::string name;
    std::string value;

    bool operator==(const HttpHeader&) const = default;
};
using HttpHeaders = std::vector<HttpHeader>;

// The value of the first header called name (compared without case); nullopt
// when there is none.
std::optional<std::string> FindHeader(const HttpHeaders& headers, std::string_view name);

// The status and headers of an answer, as they arrived.
struct HttpAnswer {
    int status = 0;
    std::string url;      // the URL this answer came from
    HttpHeaders headers;  // in the order received, names as sent, values without
                          // surrounding blanks; folded lines joined with a blank

    std::optional<std::string> Header(std::string_view name) const {
        return FindHeader(headers, name);
    }
};

// Reads the head of an answer as it arrives, one line at a time (each line
// with or without its line end): a status line starts an answer (an interim
// 1xx or a redirect is followed by another), header lines fill it, a line
// beginning with a blank or a tab continues the header before it, the empty
// line ends the head. Once the head of an answer of status 200 or more has
// ended, later lines are trailers and are ignored until the next status line.
// A CR, LF or NUL inside a line is read as a blank.
class HttpHeadReader {
public:
    enum class Line {
        kStatus,   // a new answer began
        kHeader,   // a header was added (Answer().headers.back())
        kFolded,   // the last header was continued
        kEnd,      // the head ended
        kIgnored,  // a trailer, or a line that is no header
    };

    Line Feed(std::string_view line);
    // The answer read so far (its url is not set here).
    const HttpAnswer& Answer() const { return answer_; }
    HttpAnswer& Answer() { return answer_; }
    // True once a final answer's head (status 200 or more) has ended.
    bool HeadDone() const { return headDone_; }

private:
    HttpAnswer answer_;
    bool headDone_ = false;
};

}  // namespace zorvak
