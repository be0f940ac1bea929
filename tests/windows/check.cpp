#include "check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <vector>

namespace zorvak::check {
namespace {

namespace fs = std::filesystem;

struct Registered {
    const char* name;
    void (*run)();
};

std::vector<Registered>& Groups() {
    static std::vector<Registered> groups;
    return groups;
}

int passed = 0;
int failed = 0;
const char* currentGroup = "";

fs::path FromUtf8(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string ToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

Group::Group(const char* name, void (*run)()) { Groups().push_back({name, run}); }

void Note(const std::string& text) { std::printf("  %s: %s\n", currentGroup, text.c_str()); }

void Expect(bool ok, const std::string& what, const std::string& detail, const char* file, int line) {
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    const char* base = std::strrchr(file, '/');
    std::printf("FAILED %s: %s (%s:%d) %s\n", currentGroup, what.c_str(), base ? base + 1 : file, line,
                detail.c_str());
}

std::string ShowBytes(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte < 127 && c != '\\' && c != '"') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

TempFolder::TempFolder(const std::string& name) {
    std::random_device random;
    const fs::path folder =
        fs::temp_directory_path() / FromUtf8(name + "-" + std::to_string(random() % 1000000000u));
    fs::create_directories(folder);
    path_ = ToUtf8(folder) + static_cast<char>(fs::path::preferred_separator);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(FromUtf8(path_), ec);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(FromUtf8(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::optional<std::string> ReadBytes(const std::string& path) {
    std::ifstream in(FromUtf8(path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(FromUtf8(path), ec);
}

std::string Entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(FromUtf8(folder), ec))
        names.push_back(ToUtf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : "|") + name;
    return joined;
}

}  // namespace zorvak::check

// Runs every group, or the groups named in the first argument
// ("Profile,TextEncoding"); an unknown name is a failure.
int main(int argc, char** argv) {
    using namespace zorvak::check;
    std::vector<std::string> wanted;
    if (argc > 1) {
        std::string list = argv[1];
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t comma = std::min(list.find(',', start), list.size());
            if (comma > start) wanted.push_back(list.substr(start, comma - start));
            start = comma + 1;
        }
    }
    for (const std::string& name : wanted) {
        const bool known = std::any_of(Groups().begin(), Groups().end(),
                                       [&](const Registered& group) { return name == group.name; });
        Expect(known, "group " + name + " exists", "", __FILE__, __LINE__);
    }
    for (const Registered& group : Groups()) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), group.name) == wanted.end())
            continue;
        currentGroup = group.name;
        const int before = passed + failed;
        try {
            group.run();
        } catch (const std::exception& error) {
            Expect(false, "no exception", error.what(), __FILE__, __LINE__);
        }
        std::printf("%-14s %d cases\n", group.name, passed + failed - before);
        currentGroup = "";
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 && passed > 0 ? 0 : 1;
}
