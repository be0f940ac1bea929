// zorvak-ctl fetch, run as the built program against a loopback server.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/settings.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/play_log.h"
#include "tests/support/playlist_items.h"
#include "tests/support/program_run.h"
#include "tests/support/store_file.h"
#include "tests/support/temp_folder.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

std::vector<std::string> Fetch(std::vector<std::string> args) {
    args.insert(args.begin(), "fetch");
    return args;
}

TEST(CtlFetch, ImportsOrSaysWhyNot) {
    TestServer server;
    const std::string doc = Document(ItemXml({{"playname", "from ctl"}}));
    server.Route("/getplaylist.php", [&](const Request& r) {
        std::string key = r.QueryValue("hostname").value_or("");
        if (key == "site1") return Response::Text(doc);
        if (key == "blank") return Response::Text(" \r\n");
        if (key == "broken") return Response::Text("<root><item><id>1</id>");
        return Response::Status(404, "unknown site");
    });
    TestServer stopped;
    const std::string refused = stopped.HostPort();
    stopped.Stop();

    struct {
        const char* what;
        std::string keyword;  // "" = no settings file
        bool store;
        std::string env;
        std::vector<std::string> args;  // after --appdir DIR
        int exitCode;
        std::string errStart;
    } cases[] = {
        {"imported", "site1", true, "", {"--server", server.HostPort(), "--assume-online"}, 0, ""},
        {"server from the environment", "site1", true,
         "ZORVAK_PLAYLIST_SERVER=" + server.HostPort(), {"--assume-online"}, 0, ""},
        {"--server wins over the environment", "site1", true,
         "ZORVAK_PLAYLIST_SERVER=" + refused, {"--server", server.HostPort(), "--assume-online"}, 0, ""},
        {"unknown keyword", "other", true, "", {"--server", server.HostPort(), "--assume-online"}, 1,
         "zorvak-ctl fetch: no answer: HTTP 404"},
        {"blank answer", "blank", true, "", {"--server", server.HostPort(), "--assume-online"}, 1,
         "zorvak-ctl fetch: the answer is blank"},
        {"not a playlist", "broken", true, "", {"--server", server.HostPort(), "--assume-online"}, 1,
         "zorvak-ctl fetch: the answer is not a playlist document the store accepts: "
         "not a well-formed document"},
        {"connection refused", "site1", true, "", {"--server", refused, "--assume-online"}, 1,
         "zorvak-ctl fetch: no answer: "},
        {"no store", "site1", false, "", {"--server", server.HostPort(), "--assume-online"}, 1,
         "zorvak-ctl fetch: the playlist store is not open"},
        {"no keyword", "", true, "", {"--server", server.HostPort(), "--assume-online"}, 1,
         "zorvak-ctl fetch: no site keyword"},
        {"bad usage", "site1", true, "", {"--server"}, 2, "zorvak-ctl fetch: --server needs a value"},
    };
    for (const auto& c : cases) {
        TempFolder app;
        if (c.store) {
            ASSERT_EQ(CreateEmptyStore(app.File("tmpdb.mdb")), "");
        }
        FixedAppDirectory dir(app.path().string());
        if (!c.keyword.empty()) Settings(dir).WriteSetting("PLAYLIST", "KEYWORD", c.keyword);
        std::vector<std::string> args = {"--appdir", app.path().string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProgramRun run = RunProgram("zorvak-ctl", Fetch(args), c.env);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.err;
        // Every fetch made is kept in the log database, as the client's are.
        const PlayLogReading log = ReadPlayLog(app.File(PlayLog::kFileName), std::nullopt);
        const bool fetched = c.exitCode != 2 && !c.keyword.empty();
        EXPECT_EQ(log.lastFetch.has_value(), fetched) << c.what << ": " << log.error;
        if (fetched && log.lastFetch) {
            // The outcome is what the command said.
            const std::string said =
                c.exitCode == 0 ? "imported" : c.errStart.substr(std::string("zorvak-ctl fetch: ").size());
            EXPECT_EQ(log.lastFetch->outcome.substr(0, said.size()), said) << c.what;
        }
        if (c.exitCode == 0) {
            EXPECT_EQ(run.err, "") << c.what;
            EXPECT_EQ(Query(app.File("tmpdb.mdb"), "SELECT playname FROM t_b_data"),
                      std::vector<std::vector<std::string>>{{"from ctl"}})
                << c.what;
        } else {
            EXPECT_EQ(run.err.substr(0, c.errStart.size()), c.errStart) << c.what;
            if (c.exitCode == 1) {
                EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << run.err;
            }
        }
    }
}

// A store another connection holds for writing cannot take the playlist: the
// command says so with SQLite's words, and status shows the same failed fetch.
TEST(CtlFetch, AStoreThatCannotWriteIsNamedAsTheCause) {
    TestServer server;
    server.Route("/getplaylist.php", Response::Text(Document(ItemXml({{"playname", "new"}}))));
    TempFolder app;
    const std::string store = app.File("tmpdb.mdb");
    ASSERT_EQ(CreateEmptyStore(store), "");
    FixedAppDirectory dir(app.path().string());
    Settings(dir).WriteSetting("PLAYLIST", "KEYWORD", "site1");
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open_v2(store.c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    ProgramRun run = RunProgram("zorvak-ctl", Fetch({"--appdir", app.path().string(), "--server",
                                                     server.HostPort(), "--assume-online"}));
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    const std::string said = "the store could not save the playlist: database is locked";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find(" (")), "zorvak-ctl fetch: " + said) << run.err;
    ProgramRun status = RunProgram("zorvak-ctl", {"status", "--appdir", app.path().string()});
    EXPECT_NE(status.out.find(" failed " + said + ", "), std::string::npos) << status.out;
    EXPECT_TRUE(TableDump(store).empty());
}

}  // namespace
}  // namespace zorvak::test
