#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform_linux.h"

namespace zorvak {

namespace {

// Characters that oblige an Exec argument to be quoted.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#`()";

// Escapes of the key file's string values: a backslash and the control
// characters the format names.
std::string EscapeStringValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes text to a temporary file in the folder of path and renames it to
// path, so that readers see the old entry or the new one, never a part.
bool ReplaceFile(const std::string& path, const std::string& text) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

}  // namespace

std::string XdgAutoRun::AutostartFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/autostart";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.config/autostart";
    return {};
}

std::string XdgAutoRun::ExecValue(const std::string& executablePath) {
    std::string arg;
    if (executablePath.find_first_of(kReserved) == std::string::npos) {
        arg = executablePath;
    } else {
        arg = "\"";
        for (char c : executablePath) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
            arg += c;
        }
        arg += '"';
    }
    std::string out;
    for (char c : arg) {
        if (c == '%') out += '%';
        out += c;
    }
    return EscapeStringValue(out);
}

std::string XdgAutoRun::DesktopEntry(const std::string& executablePath) {
    return std::string("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.0\n"
                       "Name=") +
           kEntryName + "\nExec=" + ExecValue(executablePath) +
           "\nTerminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void XdgAutoRun::RegisterAutoRun() {
    try {
        std::string exe = executablePath_();
        std::string folder = AutostartFolder();
        if (exe.empty() || folder.empty()) return;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) return;
        ReplaceFile(folder + "/" + kFileName, DesktopEntry(exe));
    } catch (...) {
    }
}

std::unique_ptr<AutoRun> CreateAutoRun() { return std::make_unique<XdgAutoRun>(); }

}  // namespace zorvak
