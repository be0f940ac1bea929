#include "tests/support/store_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace zorvak::test {

std::vector<std::vector<std::string>> Query(const std::string& storePath, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::vector<std::string>> rows;
    if (sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        ADD_FAILURE() << "cannot open " << storePath;
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const auto* t = sqlite3_column_text(stmt, c);
                row.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

void Execute(const std::string& storePath, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << error;
}

std::vector<std::vector<std::string>> TableDump(const std::string& storePath) {
    return Query(storePath, "SELECT * FROM t_b_data ORDER BY ID");
}

}  // namespace zorvak::test
