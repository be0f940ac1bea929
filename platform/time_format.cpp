#include "platform/time_format.h"

namespace zorvak {

TimeFormatError::TimeFormatError(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid time") {}

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Reads the text left to right; every Scan* step skips blanks first.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    void SkipBlanks() {
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    }
    bool AtEnd() const { return pos_ >= text_.size(); }

    // A run of digits; at most 4 are taken, so the value stays below 10,000.
    bool ScanNumber(int& value) {
        SkipBlanks();
        std::size_t start = pos_;
        value = 0;
        while (pos_ < text_.size() && pos_ - start < 4 && text_[pos_] >= '0' && text_[pos_] <= '9')
            value = value * 10 + (text_[pos_++] - '0');
        return pos_ > start;
    }

    bool ScanText(std::string_view symbol) {
        SkipBlanks();
        if (symbol.empty() || text_.size() - pos_ < symbol.size()) return false;
        for (std::size_t i = 0; i < symbol.size(); ++i)
            if (UpperAscii(text_[pos_ + i]) != UpperAscii(symbol[i])) return false;
        pos_ += symbol.size();
        return true;
    }

    // 0 for a morning marker, 12 for an afternoon one, -1 for none.
    int ScanMarker(std::string_view amText, std::string_view pmText) {
        if (ScanText(amText) || ScanText("AM")) return 0;
        if (ScanText(pmText) || ScanText("PM")) return 12;
        return -1;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<TimeOfDay> ScanTime(std::string_view text, std::string_view separator,
                                  std::string_view amText, std::string_view pmText) {
    Scanner s(text);
    int baseHour = s.ScanMarker(amText, pmText);
    int hour = 0, minute = 0, second = 0, millis = 0;
    if (!s.ScanNumber(hour)) return std::nullopt;
    if (s.ScanText(separator)) {
        if (!s.ScanNumber(minute)) return std::nullopt;
        if (s.ScanText(separator)) {
            if (!s.ScanNumber(second)) return std::nullopt;
            if (s.ScanText(".") && !s.ScanNumber(millis)) return std::nullopt;
        }
    }
    if (baseHour < 0) baseHour = s.ScanMarker(amText, pmText);
    if (baseHour >= 0) {
        if (hour == 0 || hour > 12) return std::nullopt;
        hour = hour % 12 + baseHour;
    }
    s.SkipBlanks();
    if (!s.AtEnd()) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59 || millis > 999) return std::nullopt;
    return TimeOfDay{hour, minute, second};
}

}  // namespace zorvak
