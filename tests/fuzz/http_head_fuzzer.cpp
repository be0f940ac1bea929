// The reader of an answer's head over any bytes, fed line by line as libcurl
// hands them over. Beyond not crashing: a status is 0 or three digits, and no
// header name or value it keeps holds a line end or a NUL.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "playlist/http_head.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorvak;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    HttpHeadReader reader;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        end = end == std::string_view::npos ? input.size() : end + 1;
        reader.Feed(input.substr(start, end - start));
        start = end;
        const HttpAnswer& answer = reader.Answer();
        if (answer.status < 0 || answer.status > 999) std::abort();
        for (const HttpHeader& header : answer.headers) {
            constexpr std::string_view kBreaks("\r\n\0", 3);
            if (header.name.find_first_of(kBreaks) != std::string::npos ||
                header.value.find_first_of(kBreaks) != std::string::npos)
                std::abort();
        }
    }
    return 0;
}
