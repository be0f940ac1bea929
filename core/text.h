#pragma once

#include <string>
#include <string_view>

// Small text helpers shared by every folder: trimming and comparisons that
// fold only the ASCII letters (protocol names, header names, encodings, keys
// of the settings file). Bytes outside A-Z and a-z are compared as they are,
// whatever the process locale says.
namespace zorvak {

// A blank and a tab.
inline constexpr std::string_view kBlankAndTab = " \t";
// A blank, a tab and the line ends.
inline constexpr std::string_view kBlanksAndLineEnds = " \t\r\n";

// text without the characters of chars at its start and end.
std::string_view Trim(std::string_view text, std::string_view chars = kBlankAndTab);

// text without the characters of code 32 (blank) or lower at its start and end.
std::string_view TrimBlanksView(std::string_view text);
// The same, as a string of its own.
std::string TrimBlanks(std::string_view text);

// c with A-Z turned into a-z; any other byte unchanged.
char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view text);

// a and b are equal once A-Z and a-z are folded.
bool EqualsNoCase(std::string_view a, std::string_view b);
// text begins with prefix, A-Z and a-z folded.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace zorvak
