// The cookie jar over any Set-Cookie values (one per line of the input).
// Beyond not crashing: the Cookie header it makes never carries a line end or
// a NUL, whatever a server sent, so no answer can inject a header into a later
// request.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "playlist/cookie_jar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorvak;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const CookieJar::TimePoint now{std::chrono::seconds(1'800'000'000)};
    CookieJar jar;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        jar.Store(input.substr(start, end - start), "www.shop.example.com", "/app/page", now);
        start = end + 1;
    }
    for (std::string_view path : {"/", "/app/page", "/app/page/deeper", "/other"}) {
        for (bool secure : {false, true}) {
            const std::string header = jar.HeaderFor("www.shop.example.com", path, secure, now);
            if (header.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
                std::abort();
        }
    }
    jar.HeaderFor("shop.example.com", "/app", false, now + std::chrono::hours(24 * 400));
    return 0;
}
