// The playlist fetch and the refresh tick against a loopback server, a real
// store in a temporary folder and the real settings file.

#include "playlist/fetch.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "core/text_encoding.h"
#include "store_fixture.h"
#include "tests/support/fake_monotonic_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/qt_core_loop.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

using namespace std::chrono_literals;

const std::string kChinese = "\xE5\xB9\xBF\xE5\x91\x8A";  // 广告; GBK B9 E3 B8 E6

// The agent a plain request of the client names (spelt out here, not taken
// from the client).
const std::string kIndyUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

std::string ExpectedRequest(const std::string& target, const std::string& host,
                            const std::string& userAgent) {
    return "GET " + target + " HTTP/1.1\r\n"
           "Content-Type: text/html\r\n"
           "Host: " + host + "\r\n"
           "Accept: text/html, */*\r\n"
           "User-Agent: " + userAgent + "\r\n\r\n";
}

std::string Doc(const std::string& name, const std::string& encoding = "gb2312") {
    return Document(ItemXml({{"playname", name}}), encoding);
}

class FetchTest : public StoreTest {
protected:
    FetchTest() {
        QtCoreApp();
        store_.ConnectDatabase();
        server_.Route("/getplaylist.php", [this](const Request& r) {
            lastHostname_ = r.QueryValue("hostname").value_or("<none>");
            return answer_;
        });
    }

    FetchResult Fetch() { return fetch_.Fetch(); }
    // Serves events until the fetch under way ended.
    static void Settle(PlaylistFetch& fetch) {
        EXPECT_TRUE(ServeQtUntil([&] { return !fetch.IsBusy(); }, 10s));
    }
    std::string SettingsBytes() const { return ReadFile(folder_.File(Settings::kFileName)).value_or(""); }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& row : Query(StorePath(), "SELECT playname FROM t_b_data ORDER BY ID"))
            names.push_back(row[0]);
        return names;
    }
    void Answer(const std::string& body) { answer_ = Response::Text(body); }

    TestServer server_;
    ScriptedPump pump_;
    HttpClient client_{pump_};
    Settings settings_{dir_};
    SwitchConnectivity net_;
    std::string keyword_ = "site1";
    std::string memo_;
    std::string lastHostname_;
    Response answer_ = Response::Text("");
    PlaylistFetch::Window window_{
        [this] { return keyword_; },
        [this] { return memo_; },
        [this](const std::string& t) { memo_ = t; },
    };
    PlaylistFetch fetch_{net_, settings_, store_, client_, window_, server_.HostPort()};
};

TEST_F(FetchTest, ChangedDocumentReplacesTheMemoAndIsImported) {
    const std::string doc = Doc("first " + kChinese);
    Answer(doc);
    FetchResult r = Fetch();
    EXPECT_EQ(r.outcome, FetchOutcome::kImported) << DescribeFetch(r);
    EXPECT_EQ(r.url, server_.Url("/getplaylist.php?hostname=site1"));
    EXPECT_EQ(memo_, doc + "\n");  // the GBK text shown as Unicode
    EXPECT_EQ(Names(), std::vector<std::string>{"first " + kChinese});
    EXPECT_EQ(net_.calls, 2);
    ASSERT_EQ(server_.RawRequests().size(), 1u);
    EXPECT_EQ(server_.RawRequests()[0],
              ExpectedRequest("/getplaylist.php?hostname=site1", server_.HostPort(), "Mozilla/5.0"));
    EXPECT_EQ(settings_.ReadSetting("PLAYLIST", "KEYWORD"), "site1");
}

// The fetch's redirects and User-Agent belong to its own request: an online
// picture fetched through the same client afterwards goes out as any plain GET
// of the client does, with the client's User-Agent and no redirect followed.
TEST_F(FetchTest, AFetchLeavesTheLaterRequestsOfTheSharedClientAsTheyWere) {
    server_.Route("/elsewhere/list.xml", Response::Text(Doc("moved")));
    answer_ = Response::Redirect(302, "/elsewhere/list.xml");
    server_.Route("/picture.jpg", Response::Redirect(302, "/elsewhere/picture.jpg"));
    server_.Route("/elsewhere/picture.jpg", Response::Text("jpeg", "image/jpeg"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    ASSERT_EQ(server_.TotalRequests(), 2);
    EXPECT_EQ(server_.Requests()[1].Header("User-Agent"), "Mozilla/5.0");

    server_.ClearRecords();
    const HttpResponse picture = client_.Get(server_.Url("/picture.jpg"));
    EXPECT_EQ(picture.failure, HttpFailure::kRedirectRefused) << picture.error;
    EXPECT_EQ(picture.status, 302);
    ASSERT_EQ(server_.RawRequests().size(), 1u);
    EXPECT_EQ(server_.RawRequests()[0],
              ExpectedRequest("/picture.jpg", server_.HostPort(), kIndyUserAgent));
}


// A damaged store replaced by an empty one is filled by the next fetch even
// when the answer is the one the memo shows; after that import the same
// answer is unchanged again.
TEST_F(FetchTest, AReplacedStoreIsFilledByTheNextFetchOfTheSameAnswer) {
    Answer(Doc("kept"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    store_.CloseConnection();
    WriteFile(StorePath(), "damaged beyond reading");
    store_.ConnectDatabase();
    ASSERT_TRUE(store_.IsConnected());
    ASSERT_TRUE(Names().empty());

    FetchResult r = Fetch();
    EXPECT_EQ(r.outcome, FetchOutcome::kImported) << DescribeFetch(r);
    EXPECT_EQ(Names(), std::vector<std::string>{"kept"});
    r = Fetch();
    EXPECT_EQ(r.outcome, FetchOutcome::kUnchanged) << DescribeFetch(r);
}
TEST_F(FetchTest, UnchangedTextIsNotImportedAgainUntilItChanges) {
    Answer(Doc("one"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    // Rows removed behind the fetch's back show whether it imports again.
    Execute(StorePath(), "DELETE FROM t_b_data");

    struct {
        const char* what;
        std::string body;
        FetchOutcome outcome;
    } cases[] = {
        {"same text", Doc("one"), FetchOutcome::kUnchanged},
        {"blanks and line breaks around", "\r\n\t " + Doc("one") + " \r\n\r\n", FetchOutcome::kUnchanged},
        // DEL is above the trimmed range, and not well-formed after the root.
        {"control characters around", std::string("\x01\x1f") + Doc("one") + "\x7f",
         FetchOutcome::kImportFailed},
        {"blank answer", " \r\n\t ", FetchOutcome::kBlankAnswer},
        {"empty answer", "", FetchOutcome::kBlankAnswer},
        {"not UTF-8", Doc("one\xFF"), FetchOutcome::kNotUtf8},
        {"case differs inside", Doc("ONE"), FetchOutcome::kImported},
        {"back to the first", Doc("one"), FetchOutcome::kImported},
    };
    std::string memoBefore;
    for (const auto& c : cases) {
        memoBefore = memo_;
        Execute(StorePath(), "DELETE FROM t_b_data");
        Answer(c.body);
        FetchResult r = Fetch();
        EXPECT_EQ(r.outcome, c.outcome) << c.what << ": " << DescribeFetch(r);
        if (c.outcome == FetchOutcome::kImported || c.outcome == FetchOutcome::kImportFailed) {
            EXPECT_EQ(memo_, c.body + "\n") << c.what;
        } else {
            EXPECT_EQ(memo_, memoBefore) << c.what;
            EXPECT_TRUE(Names().empty()) << c.what;
        }
    }
}

TEST_F(FetchTest, TheFirstFetchAfterARestartImportsTheSameDocumentAgain) {
    Answer(Doc("same"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    auto idsBefore = Query(StorePath(), "SELECT ID FROM t_b_data");
    memo_.clear();  // a new run of the client starts with an empty memo
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    auto idsAfter = Query(StorePath(), "SELECT ID FROM t_b_data");
    EXPECT_EQ(Names(), std::vector<std::string>{"same"});
    EXPECT_NE(idsBefore, idsAfter);  // rows deleted and inserted anew
}

TEST_F(FetchTest, FailureTable) {
    struct {
        const char* what;
        std::vector<bool> online;
        bool storeOpen;
        Response answer;
        FetchOutcome outcome;
        bool keywordSaved;
        int requests;
    } cases[] = {
        {"offline", {false}, true, Response::Text(Doc("x")), FetchOutcome::kOffline, false, 0},
        {"store closed", {true}, false, Response::Text(Doc("x")), FetchOutcome::kStoreClosed, true, 0},
        {"offline after saving", {true, false}, true, Response::Text(Doc("x")),
         FetchOutcome::kOfflineAfterSave, true, 0},
        {"404", {true}, true, Response::Status(404, Doc("x")), FetchOutcome::kNoAnswer, true, 1},
        {"500", {true}, true, Response::Status(500, Doc("x")), FetchOutcome::kNoAnswer, true, 1},
        {"304", {true}, true, Response::Status(304), FetchOutcome::kNoAnswer, true, 1},
        {"redirect loop", {true}, true, Response::Redirect(302, "/getplaylist.php?again"),
         FetchOutcome::kNoAnswer, true, 15},
        {"four-byte character", {true}, true, Response::Text(Doc("a\xF0\x9F\x98\x80")),
         FetchOutcome::kImported, true, 1},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(folder_.File(Settings::kFileName));
        Execute(StorePath(), "DELETE FROM t_b_data");
        if (c.storeOpen) store_.ConnectDatabase(); else store_.CloseConnection();
        memo_ = "previous";
        server_.ClearRecords();
        net_.answers = c.online;
        net_.calls = 0;
        answer_ = c.answer;
        FetchResult r = Fetch();
        EXPECT_EQ(r.outcome, c.outcome) << c.what << ": " << DescribeFetch(r);
        EXPECT_EQ(settings_.ReadSetting("PLAYLIST", "KEYWORD"), c.keywordSaved ? "site1" : "0")
            << c.what;
        EXPECT_EQ(server_.TotalRequests(), c.requests) << c.what;
        if (c.outcome == FetchOutcome::kImported) {
            // The character above U+FFFF becomes one "?" in the ANSI text.
            EXPECT_EQ(memo_, Doc("a?") + "\n") << c.what;
            EXPECT_EQ(Names(), std::vector<std::string>{"a?"}) << c.what;
        } else {
            EXPECT_EQ(memo_, "previous") << c.what;
            EXPECT_TRUE(Names().empty()) << c.what;
        }
    }
}

TEST_F(FetchTest, ARedirectToAnotherPathIsFollowed) {
    server_.Route("/elsewhere/list.xml", Response::Text(Doc("moved")));
    answer_ = Response::Redirect(302, "/elsewhere/list.xml");
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    EXPECT_EQ(Names(), std::vector<std::string>{"moved"});
}

TEST_F(FetchTest, AFailedImportStillReplacesTheMemo) {
    Answer(Doc("good"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    const std::string broken = "<?xml version=\"1.0\" encoding=\"gb2312\"?><root><item><id>1</id>";
    Answer(broken);
    EXPECT_EQ(Fetch().outcome, FetchOutcome::kImportFailed);
    EXPECT_EQ(memo_, broken + "\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"good"});  // the table as it was
    // The memo shows the answer, yet the store does not hold it: the same
    // answer goes to the import again.
    EXPECT_EQ(Fetch().outcome, FetchOutcome::kImportFailed);
    EXPECT_EQ(Names(), std::vector<std::string>{"good"});
}

// A new playlist refused for lack of disk space (the store may not grow by a
// page) is imported by the next fetch of the same answer once there is room,
// though the memo already shows it; then the answer is unchanged.
TEST_F(FetchTest, AnImportRefusedForLackOfSpaceIsTriedAgainWithTheSameAnswer) {
    Answer(Doc("old"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    const auto pages = Query(StorePath(), "PRAGMA page_count");
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(sqlite3_exec(store_.handle(), ("PRAGMA max_page_count = " + pages[0][0]).c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string large =
        Document(ItemXml({{"playname", "new"}, {"remark", std::string(200'000, 'r')}}));
    Answer(large);
    FetchResult r = Fetch();
    ASSERT_EQ(r.outcome, FetchOutcome::kImportFailed) << DescribeFetch(r);
    EXPECT_NE(r.importError.find("full"), std::string::npos) << r.importError;
    EXPECT_EQ(memo_, large + "\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"old"});

    // Room again.
    ASSERT_EQ(sqlite3_exec(store_.handle(), "PRAGMA max_page_count = 1073741823", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    r = Fetch();
    EXPECT_EQ(r.outcome, FetchOutcome::kImported) << DescribeFetch(r);
    EXPECT_EQ(Names(), std::vector<std::string>{"new"});
    r = Fetch();
    EXPECT_EQ(r.outcome, FetchOutcome::kUnchanged) << DescribeFetch(r);
}

// A refused import names its cause: the document's fault as the reader or
// the table found it, the store's as SQLite reported it.
TEST_F(FetchTest, AFailedImportSaysWhetherTheDocumentOrTheStoreRefusedIt) {
    Answer(Doc("good"));
    ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
    struct {
        const char* what;
        std::string answer;
        const char* pragma;  // run on the store's own connection before the fetch
        std::string said;  // the start of DescribeFetch's text
    } cases[] = {
        {"not well-formed", "<?xml version=\"1.0\" encoding=\"gb2312\"?><root><item><id>1</id>",
         "", "the answer is not a playlist document the store accepts: not a well-formed document"},
        {"no root element", "<playlist>" + ItemXml({{"playname", "x"}}) + "</playlist>", "",
         "the answer is not a playlist document the store accepts: no root element"},
        {"a read-only store", Doc("read-only"), "PRAGMA query_only = 1",
         "the store could not save the playlist: attempt to write a readonly database"},
    };
    for (const auto& c : cases) {
        memo_.clear();
        Answer(c.answer);
        ASSERT_EQ(sqlite3_exec(store_.handle(), c.pragma, nullptr, nullptr, nullptr), SQLITE_OK);
        const FetchResult r = Fetch();
        sqlite3_exec(store_.handle(), "PRAGMA query_only = 0", nullptr, nullptr, nullptr);
        EXPECT_EQ(r.outcome, FetchOutcome::kImportFailed) << c.what;
        EXPECT_EQ(DescribeFetch(r).substr(0, c.said.size()), c.said) << c.what;
        EXPECT_EQ(Names(), std::vector<std::string>{"good"}) << c.what;  // the table as it was
    }
}

TEST_F(FetchTest, KeywordIsSavedAsTypedAndSentAsItsGbkBytes) {
    Answer(Doc("x"));
    struct {
        const char* what;
        std::string keyword;
        std::string target;      // after "hostname="
        std::string decoded;     // what the server decodes
        std::string savedLine;   // the KEYWORD line of the settings file ("" = none)
    } cases[] = {
        {"plain", "site1", "site1", "site1", "KEYWORD=site1"},
        {"trailing blank", "site1 ", "site1%20", "site1 ", "KEYWORD=site1 "},
        {"leading blank", " site1", "%20site1", " site1", "KEYWORD= site1"},
        {"empty", "", "", "", ""},
        {"blank", "  ", "%20%20", "  ", ""},
        {"tab", "a\tb", "a%09b", "a\tb", "KEYWORD=a\tb"},
        {"chinese", kChinese, "\xB9\xE3\xB8\xE6", "\xB9\xE3\xB8\xE6", "KEYWORD=\xB9\xE3\xB8\xE6"},
        {"hash", "a#b", "a%23b", "a#b", "KEYWORD=a#b"},
        {"percent and plus as typed", "a%41+b", "a%41+b", "aA+b", "KEYWORD=a%41+b"},
        {"ampersand as typed", "a&x=1", "a&x=1", "a", "KEYWORD=a&x=1"},
        {"other printable characters", "<a|b>\"{}^`\\?/", "<a|b>\"{}^`\\?/", "<a|b>\"{}^`\\?/",
         "KEYWORD=<a|b>\"{}^`\\?/"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(folder_.File(Settings::kFileName));
        memo_.clear();
        server_.ClearRecords();
        keyword_ = c.keyword;
        FetchResult r = Fetch();
        EXPECT_EQ(r.outcome, FetchOutcome::kImported) << c.what << ": " << DescribeFetch(r);
        auto reqs = server_.Requests();
        ASSERT_EQ(reqs.size(), 1u) << c.what;
        EXPECT_EQ(reqs[0].target, "/getplaylist.php?hostname=" + c.target) << c.what;
        EXPECT_EQ(lastHostname_, c.decoded) << c.what;
        std::string bytes = std::filesystem::exists(folder_.File(Settings::kFileName))
                                ? SettingsBytes() : "";
        if (c.savedLine.empty()) {
            EXPECT_EQ(bytes.find("KEYWORD"), std::string::npos) << c.what;
        } else {
            EXPECT_NE(bytes.find(c.savedLine + "\r\n"), std::string::npos) << c.what << ": " << bytes;
        }
    }
}

TEST_F(FetchTest, TheTickDoesNothingOfflineAndFetchesOnline) {
    Answer(Doc("ticked"));
    net_.answers = {false};
    fetch_.Refresh();
    EXPECT_EQ(net_.calls, 1);
    EXPECT_EQ(server_.TotalRequests(), 0);
    EXPECT_FALSE(std::filesystem::exists(folder_.File(Settings::kFileName)));
    EXPECT_EQ(memo_, "");

    net_.answers = {true};
    net_.calls = 0;
    fetch_.Refresh();
    EXPECT_TRUE(fetch_.IsBusy());  // the tick only starts the fetch
    Settle(fetch_);
    EXPECT_EQ(net_.calls, 3);  // the tick's own test, then the fetch's two
    EXPECT_EQ(Names(), std::vector<std::string>{"ticked"});

    // Nothing escapes the tick.
    window_.setMemoText = [](const std::string&) { throw std::runtime_error("memo gone"); };
    PlaylistFetch throwing(net_, settings_, store_, client_, window_, server_.HostPort());
    memo_.clear();
    EXPECT_THROW(throwing.Fetch(), std::runtime_error);
    memo_.clear();
    EXPECT_NO_THROW(throwing.Refresh());
    Settle(throwing);
}

// Fetches asked for while one is under way, from its request to its commit
// (the refresh tick, the button after a new keyword), end at once as busy
// and send nothing; the store and the memo then hold the same document, the
// one the fetch under way imported, and the next fetch brings the newer one.
TEST_F(FetchTest, AFetchAskedWhileOneIsUnderWayIsRefusedAsBusy) {
    std::string items;
    for (int i = 0; i < 3000; ++i) items += ItemXml({{"playname", "outer"}});
    Response slow = Response::Text(Document(items));  // a worker's work of some length
    slow.headerDelay = 200ms;
    const Response newer = Response::Text(Doc("newer"));
    server_.Route("/getplaylist.php", [&](const Request& r) {
        return r.QueryValue("hostname") == "site1" ? slow : newer;
    });
    std::vector<FetchResult> outer;
    fetch_.Start([&](const FetchResult& r, std::exception_ptr) { outer.push_back(r); });
    ASSERT_TRUE(fetch_.IsBusy());
    std::vector<FetchResult> nested;
    keyword_ = "nested";
    for (int turn = 0; outer.empty() && turn < 2000; ++turn) {
        nested.push_back(fetch_.Fetch());
        ServeQtUntil([&] { return !outer.empty(); }, 5ms);
    }
    ASSERT_EQ(outer.size(), 1u);
    EXPECT_EQ(outer[0].outcome, FetchOutcome::kImported) << DescribeFetch(outer[0]);
    EXPECT_GE(nested.size(), 2u);
    for (const FetchResult& r : nested) EXPECT_EQ(r.outcome, FetchOutcome::kBusy) << DescribeFetch(r);
    EXPECT_EQ(server_.TotalRequests(), 1);
    const std::vector<std::string> names = Names();
    EXPECT_EQ(names.size(), 3000u);
    EXPECT_EQ(std::count(names.begin(), names.end(), "outer"), 3000);
    EXPECT_TRUE(memo_ == Document(items) + "\n");
    // The nested presses got as far as saving their keyword.
    EXPECT_EQ(settings_.ReadSetting("PLAYLIST", "KEYWORD"), "nested");

    const FetchResult next = Fetch();
    EXPECT_EQ(next.outcome, FetchOutcome::kImported) << DescribeFetch(next);
    EXPECT_EQ(Names(), std::vector<std::string>{"newer"});
    EXPECT_EQ(memo_, Doc("newer") + "\n");
}

// A large answer: the memo and the rows are those of the document, whether
// its text is new to the memo or the memo was cleared in between.
TEST_F(FetchTest, ALargeAnswerGivesTheSameMemoAndRowsEachTime) {
    std::string longRemark;
    for (int k = 0; k < 170'000; ++k) longRemark += kChinese;  // 680 KB in GBK
    for (std::size_t shift = 0; shift < 2; ++shift) {
        std::string items = ItemXml({{"playname", std::string(shift, 's')}, {"remark", longRemark}});
        for (int i = 0; i < 2500; ++i)
            items += ItemXml({{"playname", std::to_string(i) + kChinese}});
        const std::string doc = Document(items);
        Answer(doc);
        memo_.clear();
        ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
        EXPECT_EQ(memo_, doc + "\n") << shift;
        const auto served = TableDump(StorePath());
        ASSERT_EQ(served.size(), 2501u);
        EXPECT_EQ(served[0][8], longRemark);
        EXPECT_EQ(served[2500][2], "2499" + kChinese);

        memo_.clear();
        ASSERT_EQ(Fetch().outcome, FetchOutcome::kImported);
        EXPECT_EQ(memo_, doc + "\n");
        auto withoutId = [](std::vector<std::vector<std::string>> rows) {
            for (auto& row : rows) row.erase(row.begin());
            return rows;
        };
        EXPECT_EQ(withoutId(TableDump(StorePath())), withoutId(served)) << shift;
    }
}

// GetPlaylistText, the playlist request, against a loopback server.
class PlaylistTextTest : public ::testing::Test {
protected:
    TestServer server;
    ScriptedPump pump;
    HttpClient client{pump};
};

TEST_F(PlaylistTextTest, FollowsRedirectsForItselfAndDecodesStrictly) {
    struct {
        const char* name;
        std::string body;
        std::string ansi;
        bool notUtf8;
    } cases[] = {
        {"ascii", "<root/>\r\n", "<root/>\r\n", false},
        {"chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4", false},
        {"above U+FFFF", "a\xF0\x9F\x98\x80" "b", "a?b", false},
        {"not in GBK", "\xE2\x82\xAC\xE2\x98\x83", "\x80?", false},
        {"bad continuation", "ab\xE4\x41\x41", "", true},
        {"cut off", "ab\xE4\xB8", "", true},
        {"stray byte", "\xFF", "", true},
        {"empty", "", "", false},
    };
    // The Euro sign is 0x80 in code page 936.
    server.Route("/old", Response::Text("before"));
    ASSERT_TRUE(client.Get(server.Url("/old")).ok());
    server.Route("/start", Response::Redirect(302, "/text"));
    EXPECT_EQ(client.Get(server.Url("/start")).failure, HttpFailure::kRedirectRefused);

    for (const auto& c : cases) {
        server.Route("/start", Response::Redirect(302, "/text"));
        server.Route("/text", Response::Text(c.body));
        PlaylistText t = GetPlaylistText(client, server.Url("/start"));
        EXPECT_EQ(t.ansi, c.ansi) << c.name;
        EXPECT_EQ(t.notUtf8, c.notUtf8) << c.name;
        EXPECT_EQ(t.utf8, c.notUtf8 ? "" : c.body) << c.name;
        EXPECT_EQ(GetPlaylistText(client, server.Url("/start"), [] {}).ansi, c.ansi) << c.name;
    }
    auto raw = server.RawRequests();
    EXPECT_EQ(raw.front(), ExpectedRequest("/old", server.HostPort(), kIndyUserAgent));
    EXPECT_EQ(raw.back(), ExpectedRequest("/text", server.HostPort(), "Mozilla/5.0"));
    // A plain request afterwards is the client's own: its User-Agent, no redirects.
    ASSERT_TRUE(client.Get(server.Url("/old")).ok());
    EXPECT_EQ(server.RawRequests().back(), ExpectedRequest("/old", server.HostPort(), kIndyUserAgent));
    EXPECT_EQ(client.Get(server.Url("/start")).failure, HttpFailure::kRedirectRefused);
}

TEST_F(PlaylistTextTest, FailuresGiveEmptyText) {
    client.SetLimits({2s, HttpLimits{}.stall});
    TestServer closed;
    std::string refusedUrl = closed.Url("/x");
    closed.Stop();
    Response dropped = Response::Text(std::string(5000, 'a'));
    dropped.dropAfter = 100;
    server.Route("/drop", dropped);
    server.Route("/404", Response::Status(404, "no"));
    for (const std::string& url : {refusedUrl, server.Url("/drop"), server.Url("/404"),
                                   server.Url("/with blank"), std::string("ftp://127.0.0.1/x")}) {
        PlaylistText t = GetPlaylistText(client, url);
        EXPECT_EQ(t.ansi, "") << url;
        EXPECT_NE(t.failure, HttpFailure::kNone) << url;
        EXPECT_FALSE(t.error.empty()) << url;
    }
    EXPECT_EQ(client.Get(refusedUrl).failure, HttpFailure::kConnect);
    EXPECT_EQ(client.Get(server.Url("/drop")).failure, HttpFailure::kTransfer);
    EXPECT_EQ(client.Get(server.Url("/with blank")).failure, HttpFailure::kBadUrl);
    EXPECT_EQ(client.Get("ftp://127.0.0.1/x").failure, HttpFailure::kBadUrl);
    EXPECT_FALSE(client.IsBusy());
}

// The playlist request gives up after kFetchTimeLimit, however it goes: here
// an answer whose body never comes, on a client whose own limits would wait
// an hour. Every reading of the clock is 10 s after the one before, so each
// round of waiting counts 10 s.
TEST(PlaylistTextTimeLimit, TheRequestEndsAfterTheFetchTimeLimit) {
    TestServer server;
    Response silent = Response::Text(Doc("never"));
    silent.stall = Response::Stall::kAfterHeaders;
    server.Route("/getplaylist.php", silent);
    ScriptedPump pump;
    FakeMonotonicClock clock(10s);
    HttpClient client(pump, clock);
    client.SetLimits({1h, 1h, 0});
    const PlaylistText text = GetPlaylistText(client, PlaylistUrl(server.HostPort(), "site1"));
    EXPECT_EQ(text.failure, HttpFailure::kTimedOut);
    EXPECT_EQ(text.error, "the request took longer than 120000 ms");
    EXPECT_EQ(text.ansi, "");
    // Twelve rounds of 10 s, two readings each.
    EXPECT_EQ(clock.Reads(), 24);
    EXPECT_EQ(server.TotalRequests(), 1);
}

TEST(Utf8ToAnsiInPieces, TheSameAsOneCallAtEveryBoundary) {
    // Characters of one to four bytes, so that piece ends fall inside each kind.
    const std::string mix = "a\xC3\xA9\xE5\xB9\xBF\xF0\x9F\x98\x80";
    std::string text;
    while (text.size() < 3 * 512 * 1024) text += mix;
    int serves = 0;
    for (std::size_t shift = 0; shift < 4; ++shift) {
        const std::string shifted = std::string(shift, 'z') + text;
        EXPECT_EQ(Utf8ToAnsiInPieces(shifted, [&] { ++serves; }), Utf8ToAnsi(shifted)) << shift;
    }
    EXPECT_GE(serves, 8);
    // Invalid UTF-8 in a later piece fails the whole text.
    std::string bad = text + "\xFF";
    EXPECT_EQ(Utf8ToAnsiInPieces(bad, [] {}), std::nullopt);
}

TEST(PlaylistServer, EnvironmentOverridesTheBuiltInAddress) {
    unsetenv("ZORVAK_PLAYLIST_SERVER");
    const std::string builtIn = PlaylistServerAddress();
    EXPECT_FALSE(builtIn.empty());
    setenv("ZORVAK_PLAYLIST_SERVER", "127.0.0.1:8080", 1);
    EXPECT_EQ(PlaylistServerAddress(), "127.0.0.1:8080");
    setenv("ZORVAK_PLAYLIST_SERVER", "  ", 1);
    EXPECT_EQ(PlaylistServerAddress(), builtIn);
    unsetenv("ZORVAK_PLAYLIST_SERVER");
    EXPECT_EQ(PlaylistUrl("h:81", "k w"), "http://h:81/getplaylist.php?hostname=k%20w");
    EXPECT_EQ(PlaylistUrl(builtIn, ""), "http://" + builtIn + "/getplaylist.php?hostname=");
}

}  // namespace
}  // namespace zorvak::test
