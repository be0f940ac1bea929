#pragma once

// Helpers of the store tests: a temporary application folder holding a real
// store made from the schema, with a store object over it.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/files.h"
#include "tests/support/playlist_items.h"
#include "tests/support/store_file.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {

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
