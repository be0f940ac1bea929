#pragma once

// A small test harness for the Windows checker: it runs under Wine from a
// cross build, where no GoogleTest is at hand, and natively for the rules that
// hold on every OS. Each Expect is one case; the run ends with the line
// "N passed, N failed".

#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace zorvak::check {

// Registers a group of cases under a name, at program start.
struct Group {
    Group(const char* name, void (*run)());
};

// Prints a line of information under the running group.
void Note(const std::string& text);

// Records one case.
void Expect(bool ok, const std::string& what, const std::string& detail, const char* file, int line);

// Text for a failure message: printable ASCII as it is, every other byte as \xHH.
std::string ShowBytes(std::string_view bytes);

template <typename T>
std::string Show(const T& value) {
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return ShowBytes(value);
    } else if constexpr (std::is_same_v<T, std::nullopt_t>) {
        return "nullopt";
    } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
        return value ? ShowBytes(*value) : std::string("nullopt");
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        std::string out;
        for (const wchar_t c : value) {
            if (c >= 32 && c < 127) {
                out += static_cast<char>(c);
            } else {
                out += "\\u" + std::to_string(static_cast<unsigned>(c));
            }
        }
        return "L\"" + out + "\"";
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else {
        std::ostringstream out;
        out << value;
        return out.str();
    }
}

// A folder of its own under the system's temporary folder, removed with its
// content when it goes. name may hold any UTF-8 text.
class TempFolder {
public:
    explicit TempFolder(const std::string& name = "zorvak-check");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder (UTF-8), with a trailing separator.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Whole files by UTF-8 path.
void WriteBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// The names in a folder, sorted.
std::string Entries(const std::string& folder);

}  // namespace zorvak::check

#define ZORVAK_CHECK_CAT2(a, b) a##b
#define ZORVAK_CHECK_CAT(a, b) ZORVAK_CHECK_CAT2(a, b)

// CHECK_GROUP(Name) { ...cases... }
#define CHECK_GROUP(name)                                                         \
    static void ZORVAK_CHECK_CAT(Run, name)();                                    \
    static const ::zorvak::check::Group ZORVAK_CHECK_CAT(group, name)(            \
        #name, &ZORVAK_CHECK_CAT(Run, name));                                     \
    static void ZORVAK_CHECK_CAT(Run, name)()

#define EXPECT_TRUE(condition, what) \
    ::zorvak::check::Expect(static_cast<bool>(condition), what, "expected " #condition, __FILE__, __LINE__)

#define EXPECT_EQ(actual, expected, what)                                                      \
    do {                                                                                       \
        const auto& zorvakActual = (actual);                                                   \
        const auto& zorvakExpected = (expected);                                               \
        const bool zorvakOk = zorvakActual == zorvakExpected;                                  \
        ::zorvak::check::Expect(zorvakOk, what,                                                \
                                zorvakOk ? std::string()                                       \
                                         : #actual ": " + ::zorvak::check::Show(zorvakActual) + \
                                               ", expected " +                                 \
                                               ::zorvak::check::Show(zorvakExpected),          \
                                __FILE__, __LINE__);                                           \
    } while (false)
