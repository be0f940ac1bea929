// The store through a real SQLite file: connection, replacement of a damaged
// file, atomic import, valid-now selection.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>

#include "playlist/playlist_document.h"
#include "playlist/store_recovery.h"
#include "store_fixture.h"
#include "warning_sink.h"

namespace zorvak::test {
namespace {

const LocalDateTime kNoon{2024, 1, 1, 12, 0, 0};

TEST(StoreConnection, OnlyAnExistingStoreWithTheTableConnects) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;  // makes (or not) the file
        bool connects;
    };
    const Case cases[] = {
        {"store made from the schema", [](const std::string& p) { CreateEmptyStore(p); }, true},
        {"no file", [](const std::string&) {}, false},
        {"empty file", [](const std::string& p) { WriteFile(p, ""); }, false},
        {"SQLite database without t_b_data",
         [](const std::string& p) {
             CreateEmptyStore(p);
             Execute(p, "DROP TABLE t_b_data; CREATE TABLE other (x)");
         },
         false},
        {"t_b_data lacking a column",
         [](const std::string& p) {
             CreateEmptyStore(p);
             Execute(p, "ALTER TABLE t_b_data DROP COLUMN file_md5");
         },
         false},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder.File("tmpdb.mdb");
        c.make(path);
        const bool existed = std::filesystem::exists(path);
        const std::optional<std::string> before = ReadFile(path);
        FixedAppDirectory dir(folder.path().string());
        SettableClock clock;
        PlaylistStore store(dir, clock);
        store.ConnectDatabase();
        EXPECT_EQ(store.IsConnected(), c.connects) << c.what;
        store.ConnectDatabase();  // reconnecting closes first
        EXPECT_EQ(store.IsConnected(), c.connects) << c.what;
        store.CloseConnection();
        EXPECT_FALSE(store.IsConnected());
        EXPECT_EQ(std::filesystem::exists(path), existed) << c.what << ": never created";
        if (existed) {
            EXPECT_EQ(ReadFile(path), before) << c.what << ": left as it was";
        }
    }
}

// A store with rows: an import of count items into a new store at path.
void MakeStoreWithRows(const std::string& path, int count) {
    ASSERT_EQ(CreateEmptyStore(path), "");
    std::string items;
    for (int i = 0; i < count; ++i)
        items += ItemXml({{"playname", "row " + std::to_string(i)}, {"remark", std::string(200, 'r')}});
    FixedAppDirectory dir(std::filesystem::path(path).parent_path().string());
    SettableClock clock;
    PlaylistStore store(dir, clock);
    store.ConnectDatabase();
    ASSERT_TRUE(store.IsConnected());
    ASSERT_TRUE(store.ImportPlaylist(Document(items)));
}

// The files of a folder whose name holds ".damaged-".
std::vector<std::string> DamagedFiles(const TempFolder& folder) {
    std::vector<std::string> names;
    for (const std::string& name : folder.Entries())
        if (name.find(".damaged-") != std::string::npos) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// A store SQLite finds damaged (cut short) or not a database at all (junk) is
// moved aside under the time of the clock, byte for byte; an empty store
// takes its place (the pristine one when there is one, else made from the
// built-in schema), the connection opens on it, the log says both, and the
// next import fills it.
TEST(StoreRecovery, ADamagedStoreIsMovedAsideAndAnEmptyOneTakesItsPlace) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        bool pristine;  // a pristine empty store is there
    };
    const Case cases[] = {
        {"a text file", [](const std::string& p) { WriteFile(p, "Standard Jet DB\nnot sqlite"); },
         true},
        {"junk of a page",
         [](const std::string& p) {
             std::string junk(4096, '\0');
             for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 7 + 3);
             WriteFile(p, junk);
         },
         false},
        {"a store with rows cut to half its length",
         [](const std::string& p) {
             MakeStoreWithRows(p, 300);
             std::filesystem::resize_file(p, std::filesystem::file_size(p) / 2);
         },
         false},
        {"a store cut inside its first page",
         [](const std::string& p) {
             MakeStoreWithRows(p, 3);
             std::filesystem::resize_file(p, 60);
         },
         true},
    };
    for (const Case& c : cases) {
        TempFolder folder, package;
        const std::string path = folder.File("tmpdb.mdb");
        c.make(path);
        const std::optional<std::string> before = ReadFile(path);
        ASSERT_TRUE(before) << c.what;
        const std::string pristine = package.File("tmpdb.mdb");
        if (c.pristine) {
            ASSERT_EQ(CreateEmptyStore(pristine), "");
            Execute(pristine, "PRAGMA user_version = 7");  // tells the copy apart
            std::filesystem::permissions(pristine, std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::group_read |
                                                       std::filesystem::perms::others_read);
        }
        FixedAppDirectory dir(folder.Path());
        SettableClock clock({2026, 5, 1, 12, 3, 4});
        WarningSink sink;
        PlaylistStore store(dir, clock, pristine);

        store.ConnectDatabase();

        EXPECT_TRUE(store.IsConnected()) << c.what;
        if (!store.IsConnected()) continue;
        const std::string aside = path + ".damaged-20260501-120304";
        EXPECT_EQ(store.MovedAside(), aside) << c.what;
        EXPECT_EQ(ReadFile(aside), before) << c.what << ": kept byte for byte";
        const std::vector<std::string> expected = {"tmpdb.mdb.damaged-20260501-120304"};
        EXPECT_EQ(DamagedFiles(folder), expected) << c.what;
        EXPECT_TRUE(TableDump(path).empty()) << c.what;
        EXPECT_EQ(Query(path, "PRAGMA user_version"),
                  (std::vector<std::vector<std::string>>{{c.pristine ? "7" : "0"}}))
            << c.what;
        ASSERT_EQ(sink.lines.size(), 2u) << c.what;
        EXPECT_EQ(sink.lines[0].rfind("zorvak.app: the store " + path + " is damaged (", 0), 0u)
            << sink.lines[0];
        EXPECT_NE(sink.lines[0].find("moved aside to " + aside), std::string::npos) << sink.lines[0];
        EXPECT_NE(sink.lines[1].find(c.pristine ? pristine : "the built-in schema"), std::string::npos)
            << sink.lines[1];

        // The next fetch fills it; the store stays as it is from then on.
        EXPECT_TRUE(store.ImportPlaylist(Document(ItemXml({{"playname", "fresh"}})))) << c.what;
        store.ConnectDatabase();
        ASSERT_TRUE(store.IsConnected());
        EXPECT_EQ(Query(path, "SELECT playname FROM t_b_data"),
                  (std::vector<std::vector<std::string>>{{"fresh"}}))
            << c.what;
        EXPECT_EQ(DamagedFiles(folder), expected) << c.what;
    }
}

// The journal, write-ahead log and its index go aside with the file, under the
// aside name, so none of them is ever applied to a new file; what is not
// there is not made.
TEST(StoreRecovery, TheCompanionsGoAsideWithTheFile) {
    TempFolder folder;
    const std::string path = folder.File("playlog.db");
    WriteFile(path, "main");
    for (const char* suffix : {"-journal", "-wal", "-shm"}) WriteFile(path + suffix, suffix);
    WriteFile(folder.File("other.db-wal"), "not a companion");
    std::string why;

    EXPECT_EQ(MoveDamagedAside(path, {2026, 12, 31, 23, 59, 58}, why), path + ".damaged-20261231-235958");

    EXPECT_EQ(why, "");
    std::vector<std::string> names = folder.Entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{
                         "other.db-wal", "playlog.db.damaged-20261231-235958",
                         "playlog.db.damaged-20261231-235958-journal",
                         "playlog.db.damaged-20261231-235958-shm",
                         "playlog.db.damaged-20261231-235958-wal"}));
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        EXPECT_EQ(ReadFile(path + ".damaged-20261231-235958" + suffix), suffix);

    WriteFile(path, "again");
    EXPECT_EQ(MoveDamagedAside(path, {2026, 12, 31, 23, 59, 58}, why),
              path + ".damaged-20261231-235958-2");
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged-20261231-235958-2-wal"));
}

// A second damaged store in the same second keeps the first one aside.
TEST(StoreRecovery, TwoDamagedStoresInOneSecondAreBothKept) {
    TempFolder folder;
    const std::string path = folder.File("tmpdb.mdb");
    FixedAppDirectory dir(folder.Path());
    SettableClock clock({2026, 5, 1, 12, 0, 0});
    PlaylistStore store(dir, clock, "");
    for (const char* junk : {"first junk", "second junk"}) {
        store.CloseConnection();
        WriteFile(path, junk);
        store.ConnectDatabase();
        ASSERT_TRUE(store.IsConnected());
    }
    EXPECT_EQ(ReadFile(path + ".damaged-20260501-120000"), "first junk");
    EXPECT_EQ(ReadFile(path + ".damaged-20260501-120000-2"), "second junk");
}

// Only damage moves a store: one that is read-only, held by another program,
// in the way as a folder, or simply missing stays exactly where and as it is
// (read-only and healthy, it opens).
TEST(StoreRecovery, AStoreThatIsOnlyUnreachableIsNeverMoved) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        bool connects;
    };
    sqlite3* holder = nullptr;
    const Case cases[] = {
        {"read-only and healthy",
         [](const std::string& p) {
             MakeStoreWithRows(p, 2);
             std::filesystem::permissions(p, std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
         },
         true},
        {"held by another program's exclusive lock",
         [&holder](const std::string& p) {
             MakeStoreWithRows(p, 2);
             ASSERT_EQ(sqlite3_open_v2(p.c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
         },
         false},
        {"a folder in its place", [](const std::string& p) { std::filesystem::create_directory(p); },
         false},
        {"missing", [](const std::string&) {}, false},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder.File("tmpdb.mdb");
        c.make(path);
        const std::optional<std::string> before = ReadFile(path);
        const std::vector<std::string> entries = folder.Entries();
        FixedAppDirectory dir(folder.Path());
        SettableClock clock({2026, 5, 1, 12, 0, 0});
        PlaylistStore store(dir, clock, "");

        store.ConnectDatabase();

        EXPECT_EQ(store.IsConnected(), c.connects) << c.what;
        EXPECT_EQ(store.MovedAside(), "") << c.what;
        EXPECT_EQ(folder.Entries(), entries) << c.what;
        EXPECT_EQ(ReadFile(path), before) << c.what;
        if (holder != nullptr) {
            sqlite3_close(holder);
            holder = nullptr;
            store.ConnectDatabase();
            EXPECT_TRUE(store.IsConnected()) << c.what << ": once released";
            EXPECT_EQ(TableDump(path).size(), 2u) << c.what;
        }
    }
}

using StoreImport = StoreTest;

TEST_F(StoreImport, RowsAsStored) {
    Import(Document(
        ItemXml({{"playname", "zero"}, {"f_enable", "0"}, {"remark", ""}, {"play_time", ""},
                 {"order_sx", "2"}}) +
        "<!-- between -->" +
        ItemXml({{"playname", "skipped"}}, "item", "<ID>3</ID>") +
        ItemXml({{"playname", "ten"}, {"order_sx", "10"}, {"f_startdate", "2019-05-01 00:00:00"},
                 {"f_enddate", "2019/05/01"}, {"f_date", ""}})));
    const auto rows = Query(
        StorePath(),
        "SELECT ID, playname, f_enable, typeof(f_enable), remark, typeof(remark), play_time, "
        "order_sx, typeof(order_sx), playlist, f_date, f_startdate, f_enddate, update_time "
        "FROM t_b_data ORDER BY ID");
    const std::vector<std::vector<std::string>> expected = {
        {"1", "zero", "0", "text", "", "text", "<null>", "2", "integer", "<null>",
         "2019-05-01 08:30:00", "2020-01-01 00:00:00", "2030-12-31 23:59:59",
         "2019-05-01 00:00:00"},
        {"2", "ten", "1", "text", "remark", "text", "10", "10", "integer", "<null>", "<null>",
         "2019-05-01 00:00:00", "2019-05-01 00:00:00", "2019-05-01 00:00:00"},
    };
    EXPECT_EQ(rows, expected);

    // A second import replaces every row; IDs go on from where they were.
    Import(Document(ItemXml({{"playname", "again"}})));
    EXPECT_EQ(Query(StorePath(), "SELECT ID, playname FROM t_b_data"),
              (std::vector<std::vector<std::string>>{{"3", "again"}}));
}

TEST_F(StoreImport, EveryFailureLeavesTheTableAsItWas) {
    Import(Document(ItemXml({{"playname", "old1"}, {"order_sx", "1"}}) +
                    ItemXml({{"playname", "old2"}, {"order_sx", "2"}})));
    const auto before = TableDump(StorePath());
    ASSERT_EQ(before.size(), 2u);

    const std::string good = ItemXml({{"playname", "new"}});
    const std::string utfDoc = Document(ItemXml({{"playname", "\xE5\xB9\xBF"}}), "UTF-8");
    struct Case {
        const char* what;
        std::string document;
    };
    const Case cases[] = {
        {"parse error", Document(good).substr(0, 80)},
        {"document element playlist", "<playlist>" + good + "</playlist>"},
        {"third item lacks file_md5",
         Document(good + good + ItemXml({{"file_md5", std::nullopt}}) + good)},
        {"field holding an element", Document(good + ItemXml({{"playname", "<b/>"}}))},
        {"bad whole number", Document(good + ItemXml({{"play_time", "1.5"}}))},
        {"bad date", Document(good + ItemXml({{"f_enddate", "2019-02-30"}}))},
        {"UTF-8 declared with Chinese text, given only in GBK", ToGbk(utfDoc)},
        {"not decodable as declared", Document(good + "\xFF\xFF", "UTF-8")},
    };
    for (const Case& c : cases) {
        Import(c.document);
        EXPECT_FALSE(imported_) << c.what;
        EXPECT_EQ(TableDump(StorePath()), before) << c.what;
    }

    // The database refusing the second row mid-way: rolled back as well.
    Execute(StorePath(),
            "CREATE TRIGGER refuse BEFORE INSERT ON t_b_data WHEN NEW.playname = 'boom' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    Import(Document(good + ItemXml({{"playname", "boom"}}) + good));
    EXPECT_FALSE(imported_);
    EXPECT_EQ(TableDump(StorePath()), before) << "database refusal";

    // A well-formed document whose root holds no items empties the table.
    Import(Document("<!-- nothing -->"));
    EXPECT_TRUE(imported_);
    EXPECT_TRUE(TableDump(StorePath()).empty());
}

TEST_F(StoreImport, ClosedConnectionImportsNothing) {
    EXPECT_FALSE(store_.ImportPlaylist(Document(ItemXml())));
    EXPECT_FALSE(store_.IsConnected());
    EXPECT_TRUE(TableDump(StorePath()).empty());
}

TEST_F(StoreImport, ChineseTextOfBothDeclarations) {
    const std::string chinese = "\xE5\xB9\xBF\xE5\x91\x8A\xE5\xA0\x83";  // 广告堃
    for (const char* encoding : {"gb2312", "UTF-8"}) {
        const std::string utf8 = Document(ItemXml({{"playname", chinese}, {"remark", chinese}}),
                                          encoding);
        Import(ToGbk(utf8), utf8);
        EXPECT_EQ(Query(StorePath(), "SELECT playname, remark FROM t_b_data"),
                  (std::vector<std::vector<std::string>>{{chinese, chinese}}))
            << encoding;
        EXPECT_EQ(ValidAt(kNoon), std::vector<std::string>{chinese}) << encoding;
    }
}

// A large document prepared (read and converted) leaves the table as it was
// until its commit, and the rows committed are those of ImportPlaylist, byte
// for byte.
TEST_F(StoreImport, PreparingALargeDocumentLeavesTheTableUntilItsCommit) {
    std::string items;
    for (int i = 0; i < 3000; ++i)
        items += ItemXml({{"playname", "item " + std::to_string(i) + " \xE5\xB9\xBF\xE5\x91\x8A"},
                          {"remark", std::string(100, 'r')},
                          {"order_sx", std::to_string(i)}});
    const std::string utf8 = Document(items);  // about 1.6 MB
    Import(ToGbk(Document(ItemXml({{"playname", "old"}}))));
    ASSERT_TRUE(imported_);

    const PreparedImport prepared = PreparePlaylistImport(ToGbk(utf8), utf8);
    ASSERT_TRUE(prepared.ready) << prepared.error;
    EXPECT_EQ(prepared.items.size(), 3000u);
    EXPECT_EQ(Query(StorePath(), "SELECT playname FROM t_b_data"),
              (std::vector<std::vector<std::string>>{{"old"}}));
    ASSERT_TRUE(store_.CommitImport(prepared));
    EXPECT_EQ(store_.LastImport().rows, 3000u);
    const auto committed = TableDump(StorePath());

    // The same document imported in one call gives the same rows (IDs go on).
    Import(ToGbk(utf8), utf8);
    ASSERT_TRUE(imported_);
    auto withoutId = [](std::vector<std::vector<std::string>> rows) {
        for (auto& row : rows) row.erase(row.begin());
        return rows;
    };
    const auto plain = TableDump(StorePath());
    ASSERT_EQ(plain.size(), 3000u);
    EXPECT_EQ(withoutId(committed), withoutId(plain));
}

// Rows prepared, then the store closed before the commit: the commit fails
// as the import of a closed store does and the table keeps its rows; a
// refused document's preparation is refused by the commit with its reason.
TEST_F(StoreImport, ACommitOfAClosedStoreOrARefusedDocumentWritesNothing) {
    Import(ToGbk(Document(ItemXml({{"playname", "old"}}))));
    ASSERT_TRUE(imported_);
    const PreparedImport prepared = PreparePlaylistImport(ToGbk(Document(ItemXml({{"playname", "new"}}))));
    ASSERT_TRUE(prepared.ready);
    store_.CloseConnection();
    EXPECT_FALSE(store_.CommitImport(prepared));
    EXPECT_EQ(store_.LastImport().error, "the store is not open");
    store_.ConnectDatabase();
    const PreparedImport refused = PreparePlaylistImport("<?xml version=\"1.0\"?><other/>");
    EXPECT_FALSE(refused.ready);
    EXPECT_FALSE(store_.CommitImport(refused));
    EXPECT_EQ(store_.LastImport().error, "no root element");
    EXPECT_EQ(Query(StorePath(), "SELECT playname FROM t_b_data"),
              (std::vector<std::vector<std::string>>{{"old"}}));
}

using ValidNow = StoreTest;

// Rows with bounds around 2019-05-01 (each row's f_filename is its playname),
// and the rows valid at moments on and next to those bounds: the valid-now
// selection and the prefetch's list of local media both take this table.
std::string BoundsDocument() {
    auto item = [](const char* name, Overrides fields) {
        fields["playname"] = name;
        fields["f_filename"] = name;
        return ItemXml(fields);
    };
    return Document(
        item("window", {{"f_startdate", "2019-05-01 00:00:00"}, {"f_enddate", "2019-05-31 18:00:00"}}) +
        item("endday", {{"f_startdate", "2019/04/01"}, {"f_enddate", "2019/05/01"}}) +
        item("nostart", {{"f_startdate", ""}, {"f_enddate", "2030/01/01"}}) +
        item("noend", {{"f_startdate", "2000/01/01"}, {"f_enddate", ""}}) +
        item("disabled", {{"f_enable", "0"}, {"f_startdate", "2019/05/01"}, {"f_enddate", "2019/05/02"}}));
}

struct BoundsCase {
    LocalDateTime now;
    std::vector<std::string> valid;
};
const BoundsCase kBoundsCases[] = {
    {{2019, 4, 30, 23, 59, 59}, {"endday"}},
    {{2019, 5, 1, 0, 0, 0}, {"window", "endday", "disabled"}},
    {{2019, 5, 1, 0, 0, 1}, {"window", "disabled"}},
    {{2019, 5, 2, 0, 0, 0}, {"window", "disabled"}},
    {{2019, 5, 2, 0, 0, 1}, {"window"}},
    {{2019, 5, 31, 18, 0, 0}, {"window"}},
    {{2019, 5, 31, 18, 0, 1}, {}},
};

TEST_F(ValidNow, BoundsAreInclusiveAndMissingBoundsNeverValid) {
    Import(BoundsDocument());
    for (const BoundsCase& c : kBoundsCases) EXPECT_EQ(ValidAt(c.now), c.valid) << c.now.ToDisplayText();
}

// The prefetch's list of local media takes the same rows as the valid-now
// selection at every bound, so the files the play loop is about to show are
// the ones fetched ahead.
TEST_F(ValidNow, TheLocalMediaListTakesTheSameRowsAtTheBounds) {
    Import(BoundsDocument());
    for (const BoundsCase& c : kBoundsCases) {
        clock_.Set(c.now);
        std::vector<std::string> names;
        for (const MediaItem& item : store_.ValidLocalMedia()) names.push_back(item.fileName);
        EXPECT_EQ(names, c.valid) << c.now.ToDisplayText();
    }
}

TEST_F(ValidNow, PlayOrderIsNumericOrderSx) {
    Import(Document(ItemXml({{"playname", "ten"}, {"order_sx", "10"}}) +
                    ItemXml({{"playname", "two-a"}, {"order_sx", "2"}}) +
                    ItemXml({{"playname", "none"}, {"order_sx", ""}}) +
                    ItemXml({{"playname", "minus"}, {"order_sx", "-1"}}) +
                    ItemXml({{"playname", "two-b"}, {"order_sx", "2"}})));
    // Equal order_sx: both listed, next to each other (here in document order).
    EXPECT_EQ(ValidAt(kNoon),
              (std::vector<std::string>{"none", "minus", "two-a", "two-b", "ten"}));
}

TEST_F(ValidNow, SnapshotDoesNotChangeUnderAnImport) {
    Import(Document(ItemXml({{"playname", "a"}}) + ItemXml({{"playname", "b"}})));
    ValidNowQuery& q = store_.PlayList();
    clock_.Set(kNoon);
    q.Open();
    q.First();
    Import(Document(ItemXml({{"playname", "c"}})));
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldText("playname"), "a");
    q.Next();
    EXPECT_EQ(q.FieldText("playname"), "b");
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(ValidAt(kNoon), std::vector<std::string>{"c"});
}

TEST_F(ValidNow, FieldReaders) {
    Import(Document(ItemXml({{"playname", "p"}, {"play_time", ""}, {"online_play", "1"},
                             {"remark", ""}, {"f_lx", "20"}})));
    ValidNowQuery& q = store_.PlayList();
    clock_.Set(kNoon);
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    q.First();
    EXPECT_EQ(q.FieldInteger("play_time"), 0);  // no value reads as 0
    EXPECT_EQ(q.FieldInteger("online_play"), 1);
    EXPECT_EQ(q.FieldInteger("order_sx"), 1);
    EXPECT_EQ(q.FieldInteger("f_lx"), 20);  // a text holding a whole number
    EXPECT_EQ(q.FieldText("remark"), "");
    EXPECT_EQ(q.FieldText("playlist"), "");  // never written: null
    EXPECT_EQ(q.FieldInteger("playlist"), 0);
    EXPECT_EQ(q.FieldText("LISTURL"), "http://127.0.0.1/a.jpg");  // names without case
    EXPECT_EQ(q.FieldText("f_startdate"), "2020/01/01 00:00:00");
    EXPECT_EQ(q.FieldText("play_time"), "");
    EXPECT_EQ(q.FieldText("online_play"), "1");
    EXPECT_THROW(q.FieldInteger("f_startdate"), StoreError);
    EXPECT_THROW(q.FieldInteger("playname"), StoreError);
    EXPECT_THROW(q.FieldText("nope"), StoreError);
    const auto& row = q.Rows().at(0);
    EXPECT_TRUE(std::holds_alternative<std::int64_t>(row.values[0]));  // ID
    EXPECT_TRUE(std::holds_alternative<LocalDateTime>(row.values[16]));
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_THROW(q.FieldText("playname"), StoreError);
    q.Next();  // stays past the end
    EXPECT_TRUE(q.Eof());
    q.Close();
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_THROW(q.First(), StoreError);
    EXPECT_THROW(q.FieldText("playname"), StoreError);
}

TEST_F(ValidNow, TheRowAheadIsReadWithoutMovingTheCursor) {
    Import(Document(ItemXml({{"playname", "a"}, {"order_sx", "1"}}) +
                    ItemXml({{"playname", "b"}, {"order_sx", "2"}, {"play_time", "7"},
                             {"f_lx", "20"}, {"remark", ""}}) +
                    ItemXml({{"playname", "c"}, {"order_sx", "3"}})));
    ValidNowQuery& q = store_.PlayList();
    EXPECT_EQ(q.RowAhead(), nullptr);  // closed
    clock_.Set(kNoon);
    q.Open();
    q.First();
    const PlaylistRow* ahead = q.RowAhead();
    ASSERT_NE(ahead, nullptr);
    EXPECT_EQ(RowFieldText(*ahead, "PLAYNAME"), "b");
    EXPECT_EQ(RowFieldInteger(*ahead, "play_time"), 7);
    EXPECT_EQ(RowFieldInteger(*ahead, "f_lx"), 20);
    EXPECT_EQ(RowFieldText(*ahead, "remark"), "");
    EXPECT_EQ(RowFieldInteger(*ahead, "playlist"), 0);  // null
    EXPECT_EQ(RowFieldText(*ahead, "f_startdate"), "2020/01/01 00:00:00");
    EXPECT_THROW(RowFieldInteger(*ahead, "playname"), StoreError);
    EXPECT_THROW(RowFieldText(*ahead, "nope"), StoreError);
    // The cursor stays on the first row.
    EXPECT_EQ(q.FieldText("playname"), "a");
    q.Next();
    ASSERT_NE(q.RowAhead(), nullptr);
    EXPECT_EQ(RowFieldText(*q.RowAhead(), "playname"), "c");
    q.Next();
    EXPECT_EQ(q.FieldText("playname"), "c");
    EXPECT_EQ(q.RowAhead(), nullptr);  // on the last row
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.RowAhead(), nullptr);  // past the end
}

TEST_F(ValidNow, OpenAndCloseTellTheListener) {
    Import(Document(ItemXml()));
    ValidNowQuery& q = store_.PlayList();
    std::vector<std::pair<bool, int>> calls;
    q.SetChangeListener([&] { calls.emplace_back(q.IsOpen(), q.RecordCount()); });
    clock_.Set(kNoon);
    q.Open();
    q.Close();
    q.Open();
    store_.CloseConnection();  // closes the selection too
    EXPECT_FALSE(q.IsOpen());
    EXPECT_THROW(q.Open(), StoreError);  // no connection
    EXPECT_FALSE(q.IsOpen());
    EXPECT_EQ(calls, (std::vector<std::pair<bool, int>>{
                         {true, 1}, {false, 0}, {true, 1}, {false, 0}, {false, 0}}));
}

}  // namespace
}  // namespace zorvak::test
