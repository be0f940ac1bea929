#pragma once

// Helpers of the store tests: a temporary application folder holding a real
// store made from the schema, playlist documents built from field values, and
// a second, independent look at the table through SQLite.

#include <gtest/gtest.h>
#include <iconv.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// UTF-8 to GBK with glibc's iconv (the tests' own converter).
inline std::string ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) throw std::runtime_error("not convertible to GBK");
    out.resize(out.size() - outLeft);
    return out;
}

// Runs sql on the store file through a connection of its own; every value as
// text, NULL as "<null>".
inline std::vector<std::vector<std::string>> Query(const std::string& storePath,
                                                   const std::string& sql) {
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

inline void Execute(const std::string& storePath, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << error;
}

// Every row and column of t_b_data, by ID: the whole content of the table.
inline std::vector<std::vector<std::string>> TableDump(const std::string& storePath) {
    return Query(storePath, "SELECT * FROM t_b_data ORDER BY ID");
}

// One item of a playlist document: every field has a plain default value;
// overrides replace a field's inner XML, std::nullopt leaves it out.
using Overrides = std::map<std::string, std::optional<std::string>>;

inline std::string ItemXml(const Overrides& overrides = {}, const std::string& tag = "item",
                           const std::string& idXml = "<id>1</id>") {
    static const std::vector<std::pair<std::string, std::string>> defaults = {
        {"f_enable", "1"},
        {"playname", "name"},
        {"hostname", "demo.zorvak.cn"},
        {"listurl", "http://127.0.0.1/a.jpg"},
        {"f_filename", "a.jpg"},
        {"f_date", "2019-05-01 08:30:00"},
        {"remark", "remark"},
        {"f_flag", "1"},
        {"parid", "0"},
        {"f_lx", "10"},
        {"order_sx", "1"},
        {"play_time", "10"},
        {"online_play", "0"},
        {"file_md5", "d41d8cd98f00b204e9800998ecf8427e"},
        {"f_startdate", "2020-01-01 00:00:00"},
        {"f_enddate", "2030-12-31 23:59:59"},
        {"update_time", "2019-05-01"},
    };
    std::string xml = "<" + tag + ">" + idXml;
    for (const auto& [name, value] : defaults) {
        auto it = overrides.find(name);
        std::optional<std::string> inner = it == overrides.end() ? value : it->second;
        if (inner) xml += "<" + name + ">" + *inner + "</" + name + ">";
    }
    return xml + "</" + tag + ">";
}

inline std::string Document(const std::string& children,
                            const std::string& encoding = "gb2312") {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<root>" + children + "</root>";
}

// A temporary application folder with an empty store in it, and a store
// object over it with a settable clock.
class StoreTest : public ::testing::Test {
protected:
    StoreTest() : dir_(folder_.path().string()), store_(dir_, clock_) {
        std::string error = CreateEmptyStore(StorePath());
        if (!error.empty()) throw std::runtime_error(error);
    }

    std::string StorePath() const { return folder_.File(PlaylistStore::kFileName); }

    // Connects and imports; asserts the connection is open.
    void Import(const std::string& ansi, const std::string& utf8 = {}) {
        if (!store_.IsConnected()) store_.ConnectDatabase();
        ASSERT_TRUE(store_.IsConnected());
        imported_ = store_.ImportPlaylist(ansi, utf8);
    }
    bool imported_ = false;  // what the last Import() answered

    // The valid-now selection at the given moment: values of one column.
    std::vector<std::string> ValidAt(const LocalDateTime& now, const char* column = "playname") {
        clock_.Set(now);
        if (!store_.IsConnected()) store_.ConnectDatabase();
        ValidNowQuery& q = store_.PlayList();
        q.Open();
        std::vector<std::string> values;
        for (q.First(); !q.Eof(); q.Next()) values.push_back(q.FieldText(column));
        return values;
    }

    TempFolder folder_;
    FixedAppDirectory dir_;
    SettableClock clock_;
    PlaylistStore store_;
};

}  // namespace zorvak::test
