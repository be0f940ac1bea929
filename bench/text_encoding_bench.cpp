// Speed of the UTF-8 to GBK conversion the playlist fetch runs on every answer,
// for texts with and without characters GBK cannot hold. The floor is one
// plain iconv call over the same number of bytes of text that converts cleanly.

#include <iconv.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/text_encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string Repeat(const std::string& unit, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += unit;
    return text;
}

double FloorMilliseconds(const std::string& text) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(text.size(), '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const auto start = Clock::now();
    iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const auto end = Clock::now();
    iconv_close(cd);
    return Milliseconds(start, end);
}

}  // namespace

int main() {
    constexpr std::size_t kBytes = 8'000'000;
    const std::string zh = "\xE5\x85\xA8\xE5\xB1\x8F\xE5\x9B\xBE\xE7\x89\x87";  // 全屏图片
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::string hangul = "\xED\x95\x9C";
    const std::string item = "<item><id>1</id><playname>";
    const struct {
        const char* what;
        std::string unit;
    } cases[] = {
        {"ASCII XML", item + "abc</playname></item>\n"},
        {"Chinese XML", item + zh + "</playname></item>\n"},
        {"Chinese XML, 2 misses/item", item + zh + " " + emoji + " " + hangul + "</playname></item>\n"},
        {"Chinese prose", zh + zh + zh + zh + zh},
        {"Chinese prose, miss/21 chars", zh + zh + zh + zh + zh + emoji},
        {"only emoji", emoji},
    };
    const double floor = FloorMilliseconds(Repeat(item + zh + "</playname></item>\n", kBytes));
    std::printf("floor (one iconv call, %zu bytes of Chinese XML): %.1f ms\n", kBytes, floor);
    for (const auto& c : cases) {
        const std::string text = Repeat(c.unit, kBytes);
        const auto start = Clock::now();
        const auto ansi = zorvak::Utf8ToAnsi(text);
        const auto middle = Clock::now();
        const std::string back = zorvak::AnsiToUtf8(ansi.value_or(""));
        const auto end = Clock::now();
        const double toAnsi = Milliseconds(start, middle);
        std::printf("%-30s Utf8ToAnsi %7.1f ms (%.1fx floor)  AnsiToUtf8 %6.1f ms\n", c.what,
                    toAnsi, toAnsi / floor, Milliseconds(middle, end));
    }
}
