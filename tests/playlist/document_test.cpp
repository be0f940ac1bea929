// Reading the playlist document: which nodes are items, field texts, value
// conversions, the XML declaration. No database involved.

#include <gtest/gtest.h>

#include "playlist/playlist_document.h"
#include "store_fixture.h"

namespace zorvak::test {
namespace {

using Outcome = PlaylistDocument::Outcome;

std::size_t FieldIndex(const char* name) {
    for (std::size_t i = 0; i < kImportedFieldCount; ++i) {
        if (std::string(kImportedFields[i]) == name) return i;
    }
    throw std::logic_error(name);
}

std::string Show(const StoredValue& v) {
    if (std::holds_alternative<std::monostate>(v)) return "<null>";
    if (auto t = std::get_if<LocalDateTime>(&v)) return "date " + t->ToSortableText();
    if (auto n = std::get_if<std::int64_t>(&v)) return "int " + std::to_string(*n);
    return "text " + std::get<std::string>(v);
}

TEST(PlaylistDocument, WhichChildrenOfRootAreItems) {
    struct Case {
        const char* what;
        std::string document;
        std::vector<std::string> playnames;  // of the items read, in order
    };
    const Case cases[] = {
        {"items in document order; the item element's name is not looked at",
         Document(ItemXml({{"playname", "a"}}) + ItemXml({{"playname", "b"}}, "row")),
         {"a", "b"}},
        {"ID in upper case is no id: skipped",
         Document(ItemXml({{"playname", "a"}}, "item", "<ID>7</ID>") + ItemXml({{"playname", "b"}})),
         {"b"}},
        {"comments, text and other elements between items are skipped",
         Document("\n  <!-- first -->\n  text " + ItemXml({{"playname", "a"}}) +
                  "<other><x/></other><?pi data?>" + ItemXml({{"playname", "b"}}) + "\n"),
         {"a", "b"}},
        {"an empty id counts", Document(ItemXml({{"playname", "a"}}, "item", "<id/>")), {"a"}},
        {"id deeper than a direct child does not make an item",
         Document(ItemXml({{"playname", "a"}}, "item", "<x><id>1</id></x>")), {}},
        {"nodes before root at the top level are passed over",
         "<?xml version=\"1.0\"?>\n<!-- c --><?pi x?><root>" + ItemXml({{"playname", "a"}}) +
             "</root>",
         {"a"}},
        {"root with no items", Document("<item><ID/></item>"), {}},
        {"empty root", "<root/>", {}},
        {"first occurrence of a field wins; field order and extra children do not matter",
         "<root><item><extra>x</extra><update_time/><f_enddate/><f_startdate/><file_md5/>"
         "<online_play/><play_time/><order_sx/><f_lx/><parid/><f_flag/><remark/><f_date/>"
         "<f_filename/><listurl/><hostname/><playname>first</playname><playname>second</playname>"
         "<f_enable/><id/></item></root>",
         {"first"}},
    };
    for (const Case& c : cases) {
        PlaylistDocument doc = ReadPlaylistDocument(c.document);
        ASSERT_EQ(doc.outcome, Outcome::kItems) << c.what << ": " << doc.error;
        std::vector<std::string> names;
        for (const DocumentItem& item : doc.items)
            names.push_back(std::get<std::string>(item.values[FieldIndex("playname")]));
        EXPECT_EQ(names, c.playnames) << c.what;
    }
}

TEST(PlaylistDocument, FieldTextsAndConversions) {
    struct Case {
        const char* field;
        std::string xml;       // inner XML of the field element
        std::string expected;  // Show() of the converted value
    };
    const Case cases[] = {
        {"remark", "", "text "},
        {"remark", "  two  blanks  ", "text   two  blanks  "},
        {"remark", "<![CDATA[<b>&amp;</b>]]>", "text <b>&amp;</b>"},
        {"remark", "a &amp; b &#x5E7F;", "text a & b \xE5\xB9\xBF"},
        {"f_enable", "0", "text 0"},
        {"f_lx", "010", "text 010"},
        {"order_sx", "", "<null>"},
        {"order_sx", " 42 ", "int 42"},
        {"order_sx", "-7", "int -7"},
        {"order_sx", "+7", "int 7"},
        {"order_sx", "2147483647", "int 2147483647"},
        {"order_sx", "-2147483648", "int -2147483648"},
        {"play_time", "", "<null>"},
        {"play_time", "007", "int 7"},
        {"online_play", "1", "int 1"},
        {"f_startdate", "", "<null>"},
        {"f_startdate", "2019-05-01 00:00:00", "date 2019-05-01 00:00:00"},
        {"f_startdate", "2019/5/1 8:30:00", "date 2019-05-01 08:30:00"},
        {"f_enddate", "2019/05/01", "date 2019-05-01 00:00:00"},
        {"f_date", "2020-02-29 23:59:59", "date 2020-02-29 23:59:59"},
        {"update_time", " 2019-05-01  08:00:01 ", "date 2019-05-01 08:00:01"},
        // Every "-" reads as "/", so mixed separators pass, and so does a date
        // padded beyond any short buffer.
        {"f_date", "2019-05/01", "date 2019-05-01 00:00:00"},
        {"f_enddate", std::string(70, ' ') + "2019-05-01" + std::string(70, ' ') + "07:06:05" +
                          std::string(40, ' '),
         "date 2019-05-01 07:06:05"},
    };
    for (const Case& c : cases) {
        PlaylistDocument doc = ReadPlaylistDocument(Document(ItemXml({{c.field, c.xml}})));
        ASSERT_EQ(doc.outcome, Outcome::kItems) << c.field << "=" << c.xml << ": " << doc.error;
        ASSERT_EQ(doc.items.size(), 1u);
        EXPECT_EQ(Show(doc.items[0].values[FieldIndex(c.field)]), c.expected)
            << c.field << "=" << c.xml;
    }
}

TEST(PlaylistDocument, AttributesAreNotRead) {
    std::string item = ItemXml({{"remark", "r"}});
    auto replace = [&item](const std::string& from, const std::string& to) {
        item.replace(item.find(from), from.size(), to);
    };
    replace("<item>", "<item id=\"9\" remark=\"x\">");
    replace("<id>", "<id k=\"v\">");
    replace("<remark>", "<remark note=\"n\">");
    PlaylistDocument doc = ReadPlaylistDocument(Document(item));
    ASSERT_EQ(doc.outcome, Outcome::kItems) << doc.error;
    ASSERT_EQ(doc.items.size(), 1u);
    EXPECT_EQ(Show(doc.items[0].values[FieldIndex("remark")]), "text r");

    // An attribute named id does not make an item.
    doc = ReadPlaylistDocument(Document("<item id=\"1\">" + ItemXml().substr(16)));
    ASSERT_EQ(doc.outcome, Outcome::kItems) << doc.error;
    EXPECT_TRUE(doc.items.empty());
}

TEST(PlaylistDocument, FailuresAndTheirReasons) {
    struct Case {
        const char* what;
        std::string document;
        Outcome outcome;
        std::string errorStart;
    };
    const std::string good = ItemXml();
    const Case cases[] = {
        {"not well-formed", "<root><item>", Outcome::kFailed, "not a well-formed document"},
        {"empty text", "", Outcome::kFailed, "not a well-formed document"},
        {"document element playlist", "<playlist>" + good + "</playlist>", Outcome::kNoRoot, ""},
        {"root compared with case", "<Root>" + good + "</Root>", Outcome::kNoRoot, ""},
        {"prefixed root is another name", "<x:root xmlns:x=\"urn:x\">" + good + "</x:root>",
         Outcome::kNoRoot, ""},
        {"third item lacks file_md5",
         Document(good + good + ItemXml({{"file_md5", std::nullopt}})), Outcome::kFailed,
         "missing file_md5 of root child 2"},
        {"field holding an element", Document(ItemXml({{"remark", "<b>x</b>"}})),
         Outcome::kFailed, "more than text in remark"},
        {"field holding a comment", Document(ItemXml({{"remark", "<!--c-->"}})),
         Outcome::kFailed, "more than text in remark"},
        {"field holding text and CDATA", Document(ItemXml({{"remark", "a<![CDATA[b]]>"}})),
         Outcome::kFailed, "more than text in remark"},
        {"number with a fraction", Document(ItemXml({{"order_sx", "1.5"}})), Outcome::kFailed,
         "bad value \"1.5\" in order_sx"},
        {"number that is a word", Document(ItemXml({{"play_time", "ten"}})), Outcome::kFailed,
         "bad value"},
        {"number beyond 32 bits", Document(ItemXml({{"online_play", "2147483648"}})),
         Outcome::kFailed, "bad value"},
        {"hexadecimal number", Document(ItemXml({{"order_sx", "0x10"}})), Outcome::kFailed,
         "bad value"},
        {"month 13", Document(ItemXml({{"f_startdate", "2019-13-01"}})), Outcome::kFailed,
         "bad value"},
        {"30 February", Document(ItemXml({{"f_enddate", "2019/02/30"}})), Outcome::kFailed,
         "bad value"},
        {"day first", Document(ItemXml({{"f_date", "01/05/2019"}})), Outcome::kFailed,
         "bad value"},
        {"hour 24", Document(ItemXml({{"update_time", "2019/05/01 24:00:00"}})),
         Outcome::kFailed, "bad value"},
        {"time without seconds", Document(ItemXml({{"update_time", "2019/05/01 08:30"}})),
         Outcome::kFailed, "bad value"},
        {"date followed by words", Document(ItemXml({{"f_date", "2019/05/01 soon"}})),
         Outcome::kFailed, "bad value"},
    };
    for (const Case& c : cases) {
        PlaylistDocument doc = ReadPlaylistDocument(c.document);
        EXPECT_EQ(doc.outcome, c.outcome) << c.what << ": " << doc.error;
        EXPECT_EQ(doc.error.rfind(c.errorStart, 0), 0u) << c.what << ": " << doc.error;
    }
}

TEST(PlaylistDocument, ExternalEntitiesAreNeverLoaded) {
    TempFolder folder;
    const std::string secret = folder.File("secret.txt");
    WriteFile(secret, "SECRET");
    const std::string doc =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE root [<!ENTITY ext SYSTEM \"file://" + secret +
        "\">]>\n<root>" + ItemXml({{"remark", "&ext;"}}) + "</root>";
    PlaylistDocument result = ReadPlaylistDocument(doc);
    // The reference stays an entity node: the field holds more than text.
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    for (const DocumentItem& item : result.items)
        for (const StoredValue& v : item.values) EXPECT_EQ(Show(v).find("SECRET"), std::string::npos);

    // A DOCTYPE naming an external DTD (here one that cannot be fetched) does
    // not stop the import: the DTD is not loaded.
    result = ReadPlaylistDocument(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE root SYSTEM \"http://127.0.0.1:9/list.dtd\">\n<root>" +
        ItemXml() + "</root>");
    ASSERT_EQ(result.outcome, Outcome::kItems) << result.error;
}

TEST(PlaylistDocument, DeclaredEncoding) {
    const std::pair<std::string, std::string> cases[] = {
        {"<?xml version=\"1.0\" encoding=\"gb2312\"?><root/>", "gb2312"},
        {"<?xml version='1.0' encoding='UTF-8' standalone='yes'?>", "UTF-8"},
        {"<?xml\tversion = \"1.0\"\n encoding = \"GBK\" ?>", "GBK"},
        {"<?xml version=\"1.0\"?><root encoding=\"gbk\"/>", ""},
        {"<?xml version=\"1.0\" standalone=\"no\"?>", ""},
        {" <?xml version=\"1.0\" encoding=\"gb2312\"?>", ""},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"gb2312\"?>", ""},
        {"?<?xml version=\"1.0\" encoding=\"gb2312\"?>", ""},
        {"<?xml-stylesheet href=\"a\" encoding=\"gb2312\"?>", ""},
        {"<?xml version=\"1.0\" encoding=\"gb2312\"", ""},
        {"<?xml version=\"1.0\" encoding=gb2312?>", ""},
        {"<root/>", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(DeclaredEncoding(text), expected) << text;
}

TEST(PlaylistDocument, EncodingOfTheParsedBytes) {
    // 广告 is in GB2312; 堃 only in GBK (code page 936).
    const std::string chinese = "\xE5\xB9\xBF\xE5\x91\x8A\xE5\xA0\x83";
    struct Case {
        const char* what;
        std::string ansi;
        std::string utf8;
        bool imports;
    };
    const std::string gbDoc = Document(ItemXml({{"playname", chinese}}), "gb2312");
    const std::string utfDoc = Document(ItemXml({{"playname", chinese}}), "UTF-8");
    const std::string bareDoc = "<root>" + ItemXml({{"playname", chinese}}) + "</root>";
    const Case cases[] = {
        {"gb2312 declared: the ANSI bytes, read as code page 936", ToGbk(gbDoc), gbDoc, true},
        {"gb2312 declared, no UTF-8 text given", ToGbk(gbDoc), "", true},
        {"GBK declared", ToGbk(Document(ItemXml({{"playname", chinese}}), "GBK")), "", true},
        {"UTF-8 declared: parsed from the UTF-8 text", ToGbk(utfDoc), utfDoc, true},
        {"utf8 spelled without hyphen", ToGbk(Document(ItemXml({{"playname", chinese}}), "utf8")),
         Document(ItemXml({{"playname", chinese}}), "utf8"), true},
        {"nothing declared: parsed from the UTF-8 text", ToGbk(bareDoc), bareDoc, true},
        {"UTF-8 BOM: the ANSI text starts with ?; parsed from the UTF-8 text",
         "?" + ToGbk(utfDoc), "\xEF\xBB\xBF" + utfDoc, true},
        {"UTF-8 declared, no UTF-8 text: the ANSI bytes are not UTF-8", ToGbk(utfDoc), "", false},
        {"nothing declared, no UTF-8 text", ToGbk(bareDoc), "", false},
    };
    for (const Case& c : cases) {
        PlaylistDocument doc = ReadPlaylistDocument(c.ansi, c.utf8);
        if (!c.imports) {
            EXPECT_EQ(doc.outcome, Outcome::kFailed) << c.what;
            continue;
        }
        ASSERT_EQ(doc.outcome, Outcome::kItems) << c.what << ": " << doc.error;
        ASSERT_EQ(doc.items.size(), 1u) << c.what;
        EXPECT_EQ(std::get<std::string>(doc.items[0].values[FieldIndex("playname")]), chinese)
            << c.what;
    }
    // Bytes that are no GBK character make a gb2312 document undecodable.
    std::string broken = ToGbk(gbDoc);
    broken.insert(broken.find("</playname>"), "\x81\x7F");
    EXPECT_EQ(ReadPlaylistDocument(broken).outcome, Outcome::kFailed);
}

TEST(PlaylistDocument, WholeNumberAndDateTexts) {
    EXPECT_EQ(ParseWholeNumberText("12"), 12);
    EXPECT_EQ(ParseWholeNumberText("\t-12\r\n"), -12);
    for (const char* bad : {"", " ", "+", "-", "1 2", "1e3", "12a", "99999999999999999999"})
        EXPECT_FALSE(ParseWholeNumberText(bad).has_value()) << bad;
    EXPECT_EQ(ParseDateTimeText("2024/01/02 03:04:05"), (LocalDateTime{2024, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ParseDateTimeText("2024-1-2"), (LocalDateTime{2024, 1, 2, 0, 0, 0}));
    for (const char* bad : {"", "2024/01", "2024/01-02", "24/01/02", "2024/001/02",
                            "2024/01/02 03:04", "2024/01/02T03:04:05", "2023/02/29",
                            "2024/01/02 03:60:00", "2024/01/02 03:04:05 x"})
        EXPECT_FALSE(ParseDateTimeText(bad).has_value()) << bad;
}

}  // namespace
}  // namespace zorvak::test
