// Moving a damaged SQLite file aside (the store and the log database).

#include "playlist/store_recovery.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace zorvak {

bool IsDamagedDatabaseCode(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

std::string DamagedFileName(const std::string& path, const LocalDateTime& now) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    return path + ".damaged-" + stamp;
}

std::string MoveDamagedAside(const std::string& path, const LocalDateTime& now, std::string& why) {
    namespace fs = std::filesystem;
    static constexpr const char* kCompanions[] = {"-journal", "-wal", "-shm"};
    auto taken = [](const std::string& name) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(name, ec))) return true;
        for (const char* suffix : kCompanions)
            if (fs::exists(fs::symlink_status(name + suffix, ec))) return true;
        return false;
    };
    const std::string base = DamagedFileName(path, now);
    std::string aside = base;
    for (int n = 2; taken(aside); ++n) aside = base + "-" + std::to_string(n);

    std::error_code ec;
    for (const char* suffix : kCompanions) {
        const std::string companion = path + suffix;
        if (!fs::exists(fs::symlink_status(companion, ec))) continue;
        fs::rename(companion, aside + suffix, ec);
        if (ec) {
            why = "cannot move " + companion + " aside: " + ec.message();
            return {};
        }
    }
    fs::rename(path, aside, ec);
    if (ec) {
        why = "cannot move " + path + " aside: " + ec.message();
        return {};
    }
    return aside;
}

}  // namespace zorvak
