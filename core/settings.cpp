#include "core/settings.h"

#include <optional>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "core/text_encoding.h"
#include "settings_file.h"
#include "text_encoding_os.h"

// The file is kept in the ANSI code page. Each line is decoded to UTF-8 before
// it is looked at, so that a double-byte character whose second byte happens to
// be "[", "]" or "=" is never taken for punctuation; lines that are not
// rewritten go back to disk as the bytes they were read as.

namespace zorvak {
namespace {

// GetPrivateProfileString fills a buffer of 2,048 characters.
constexpr std::size_t kMaxValueBytes = 2047;

// Line ending of a file that has none yet: the one the Windows profile
// functions write, so the file is the same on both targets.
constexpr std::string_view kNewFileLineEnding = "\r\n";

struct Line {
    std::string text;    // raw bytes without the line ending
    std::string ending;  // "\r\n", "\n" or empty for a last line without one
};

std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t newline = bytes.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        std::size_t end = newline;
        if (end > start && bytes[end - 1] == '\r') --end;
        lines.push_back({bytes.substr(start, end - start), bytes.substr(end, newline + 1 - end)});
        start = newline + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
    std::string bytes;
    for (const Line& line : lines) bytes += line.text + line.ending;
    return bytes;
}

// What a line, a name and a value lose at their ends (the line end is
// already gone).
constexpr std::string_view kLineBlanks = " \t\r\v\f";

struct ParsedLine {
    enum Kind { kBlank, kComment, kSection, kKey, kOther } kind = kBlank;
    std::string name;   // section or key name, trimmed, UTF-8
    std::string value;  // key value, trimmed, UTF-8
};

ParsedLine Parse(const Line& line) {
    const std::string utf8 = AnsiToUtf8(line.text);
    const std::string_view text = Trim(utf8, kLineBlanks);
    ParsedLine parsed;
    if (text.empty()) return parsed;
    if (text.front() == ';') {
        parsed.kind = ParsedLine::kComment;
        return parsed;
    }
    if (text.front() == '[') {
        const std::size_t close = text.rfind(']');
        if (close != std::string_view::npos) {
            parsed.kind = ParsedLine::kSection;
            parsed.name = Trim(text.substr(1, close - 1), kLineBlanks);
            return parsed;
        }
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        parsed.kind = ParsedLine::kOther;
        return parsed;
    }
    parsed.kind = ParsedLine::kKey;
    parsed.name = Trim(text.substr(0, equals), kLineBlanks);
    parsed.value = Trim(text.substr(equals + 1), kLineBlanks);
    return parsed;
}

// Where a key lives in the file: the first section of that name and, in it,
// the first key of that name.
struct Location {
    std::optional<std::size_t> section;  // index of the section's header line
    std::optional<std::size_t> key;      // index of the key's line
    std::string value;                   // the key's value, trimmed, UTF-8
    std::size_t insertAt = 0;            // where a new key line of the section goes
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location location;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ParsedLine parsed = Parse(lines[i]);
        if (parsed.kind == ParsedLine::kSection) {
            if (location.section) break;  // the end of the section
            if (EqualsNoCase(parsed.name, section)) {
                location.section = i;
                location.insertAt = i + 1;
            }
            continue;
        }
        if (!location.section) continue;
        if (parsed.kind == ParsedLine::kKey || parsed.kind == ParsedLine::kOther) {
            // After the last line with content: blank lines and comments that
            // end the section stay after the new key.
            location.insertAt = i + 1;
        }
        if (parsed.kind == ParsedLine::kKey && !location.key && EqualsNoCase(parsed.name, key)) {
            location.key = i;
            location.value = std::move(parsed.value);
        }
    }
    return location;
}

// One pair of matching quotes around the whole value is removed.
std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// At most kMaxValueBytes bytes of ANSI text, never half a double-byte character.
std::string LimitLength(std::string_view utf8) {
    const std::optional<std::string> ansi = Utf8ToAnsi(utf8);
    if (!ansi || ansi->size() <= kMaxValueBytes) return std::string(utf8);
    std::size_t end = 0;
    while (end < ansi->size()) {
        const bool lead = encoding::IsAnsiLeadByte(static_cast<unsigned char>((*ansi)[end]));
        const std::size_t width = lead ? 2 : 1;
        if (end + width > kMaxValueBytes) break;
        end += width;
    }
    return AnsiToUtf8(std::string_view(*ansi).substr(0, end));
}

bool WriteProfileStringUnguarded(const std::string& path, const std::string& section,
                                 const std::string& key, const std::string& value) {
    const std::optional<std::string> ansiSection = Utf8ToAnsi(section);
    const std::optional<std::string> ansiKey = Utf8ToAnsi(key);
    const std::optional<std::string> ansiValue = Utf8ToAnsi(value);
    if (!ansiSection || !ansiKey || !ansiValue) return false;

    return settings_file::RewriteFile(path, [&](const std::optional<std::string>& bytes) {
        std::vector<Line> lines = SplitLines(bytes.value_or(std::string()));
        std::string ending(kNewFileLineEnding);
        for (const Line& line : lines) {
            if (!line.ending.empty()) {
                ending = line.ending;
                break;
            }
        }
        const auto endLineBefore = [&](std::size_t index) {
            if (index > 0 && lines[index - 1].ending.empty()) lines[index - 1].ending = ending;
        };

        std::string keyLine = *ansiKey + "=" + *ansiValue;
        const Location location = Locate(lines, section, key);
        if (location.key) {
            lines[*location.key].text = std::move(keyLine);
        } else if (location.section) {
            endLineBefore(location.insertAt);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(location.insertAt),
                         Line{std::move(keyLine), ending});
        } else {
            endLineBefore(lines.size());
            lines.push_back({"[" + *ansiSection + "]", ending});
            lines.push_back({std::move(keyLine), ending});
        }
        return JoinLines(lines);
    });
}

}  // namespace

std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    try {
        std::string bytes;
        if (settings_file::ReadWholeFile(path, bytes) != settings_file::ReadResult::kRead)
            return defaultValue;
        const Location location = Locate(SplitLines(bytes), section, key);
        if (!location.key) return defaultValue;
        return LimitLength(StripQuotes(location.value));
    } catch (...) {
        return defaultValue;
    }
}

bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value) {
    try {
        return WriteProfileStringUnguarded(path, section, key, value);
    } catch (...) {
        return false;
    }
}

std::string Settings::ReadSetting(const std::string& section, const std::string& key) const {
    try {
        return GetProfileString(FilePath(), section, key, "0");
    } catch (...) {
        return "0";
    }
}

bool Settings::WriteSetting(const std::string& section, const std::string& key,
                            const std::string& value) const {
    try {
        return WriteProfileString(FilePath(), section, key, value);
    } catch (...) {
        return false;
    }
}

std::string Settings::FilePath() const { return dir_.Path() + kFileName; }

}  // namespace zorvak
