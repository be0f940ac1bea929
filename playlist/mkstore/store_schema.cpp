#include "playlist/mkstore/store_schema.h"

#include <sqlite3.h>

#include <cstdio>

namespace zorvak {

std::string CreateEmptyStore(const std::string& path) {
    const std::string temp = path + ".new";
    std::remove(temp.c_str());
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    std::string error;
    if (rc != SQLITE_OK) {
        error = "cannot create " + temp + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    } else {
        char* message = nullptr;
        if (sqlite3_exec(db, PlaylistStoreSchema(), nullptr, nullptr, &message) != SQLITE_OK) {
            error = std::string("schema failed: ") + (message ? message : "unknown error");
        }
        sqlite3_free(message);
    }
    if (sqlite3_close(db) != SQLITE_OK && error.empty()) error = "cannot close " + temp;
    if (error.empty() && std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temp + " to " + path;
    }
    if (!error.empty()) std::remove(temp.c_str());
    return error;
}

}  // namespace zorvak
