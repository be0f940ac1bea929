#include <windows.h>

#include <string>

#include "platform/time_format.h"

namespace zorvak {

namespace {

std::string ToUtf8(const wchar_t* text) {
    int len = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (len <= 1) return {};
    std::string out(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), len, nullptr, nullptr);
    out.resize(static_cast<size_t>(len - 1));
    return out;
}

std::string LocaleText(LCTYPE type) {
    wchar_t buf[96] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buf, 96) == 0) return {};
    return ToUtf8(buf);
}

}  // namespace

// The user locale's long time format, as the system's time-to-text
// conversion writes it.
std::string FormatLongTime(const TimeOfDay& time) {
    SYSTEMTIME st = {};
    st.wYear = 1899;
    st.wMonth = 12;
    st.wDay = 30;
    st.wHour = static_cast<WORD>(time.hour);
    st.wMinute = static_cast<WORD>(time.minute);
    st.wSecond = static_cast<WORD>(time.second);
    wchar_t buf[96] = {};
    if (GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, buf, 96) != 0) return ToUtf8(buf);
    // Never an empty text: two empty texts would compare equal at every tick.
    return std::to_string(time.hour) + (time.minute < 10 ? ":0" : ":") +
           std::to_string(time.minute) + (time.second < 10 ? ":0" : ":") +
           std::to_string(time.second);
}

// The locale's time separator and its morning and afternoon markers.
TimeOfDay ParseLongTime(const std::string& text) {
    std::string separator = LocaleText(LOCALE_STIME);
    if (separator.empty()) separator = ":";
    if (auto time = ScanTime(text, separator, LocaleText(LOCALE_S1159), LocaleText(LOCALE_S2359)))
        return *time;
    throw TimeFormatError(text);
}

}  // namespace zorvak
