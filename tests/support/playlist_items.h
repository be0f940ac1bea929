#pragma once

// Playlist items for tests: one struct for an <item> of a playlist document and
// for a row of t_b_data, the documents made of such items, and GBK bytes of a
// document as the server's ANSI text.

#include <iconv.h>

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvak::test {

// One field of an item. Unset, it takes the default of whatever writes the
// item; left out (std::nullopt), the document has no element for it and the
// row keeps NULL; otherwise it holds a text: the element's inner XML, the
// column's value. Whole numbers may be given as numbers.
class Field {
public:
    Field() = default;
    Field(std::nullopt_t) : leftOut_(true) {}
    Field(std::string text) : text_(std::move(text)) {}
    Field(const char* text) : text_(std::string(text)) {}
    Field(int number) : text_(std::to_string(number)) {}

    bool IsUnset() const { return !text_ && !leftOut_; }
    bool HasText() const { return text_.has_value(); }
    const std::string& Text() const { return text_.value(); }

private:
    std::optional<std::string> text_;
    bool leftOut_ = false;
};

// A playlist item. The fields tests set most come first, in the order that
// designated initialisers then name them; documents and rows list the fields
// in the document's own order.
struct PlaylistItem {
    Field order_sx;
    Field f_lx;
    Field listurl;
    Field f_filename;
    Field online_play;
    Field play_time;
    Field f_startdate;
    Field f_enddate;
    Field id;
    Field f_enable;
    Field playname;
    Field hostname;
    Field f_date;
    Field remark;
    Field f_flag;
    Field parid;
    Field file_md5;
    Field update_time;

    // The fields in the order a playlist document lists them.
    static constexpr std::pair<const char*, Field PlaylistItem::*> kDocumentOrder[] = {
        {"id", &PlaylistItem::id},
        {"f_enable", &PlaylistItem::f_enable},
        {"playname", &PlaylistItem::playname},
        {"hostname", &PlaylistItem::hostname},
        {"listurl", &PlaylistItem::listurl},
        {"f_filename", &PlaylistItem::f_filename},
        {"f_date", &PlaylistItem::f_date},
        {"remark", &PlaylistItem::remark},
        {"f_flag", &PlaylistItem::f_flag},
        {"parid", &PlaylistItem::parid},
        {"f_lx", &PlaylistItem::f_lx},
        {"order_sx", &PlaylistItem::order_sx},
        {"play_time", &PlaylistItem::play_time},
        {"online_play", &PlaylistItem::online_play},
        {"file_md5", &PlaylistItem::file_md5},
        {"f_startdate", &PlaylistItem::f_startdate},
        {"f_enddate", &PlaylistItem::f_enddate},
        {"update_time", &PlaylistItem::update_time},
    };

    // The field of that name (the element's and the column's); throws
    // std::logic_error for a name that is none of them.
    Field& operator[](std::string_view name) {
        for (const auto& [fieldName, member] : kDocumentOrder)
            if (name == fieldName) return this->*member;
        throw std::logic_error("no playlist field " + std::string(name));
    }

    // Every unset field takes the field of defaults.
    PlaylistItem& Fill(const PlaylistItem& defaults) {
        for (const auto& [name, member] : kDocumentOrder)
            if ((this->*member).IsUnset()) this->*member = defaults.*member;
        return *this;
    }

    // The plain values of a document's item; a document written from an item
    // takes these for its unset fields.
    static PlaylistItem DocumentDefaults() {
        return {
            .order_sx = "1",
            .f_lx = "10",
            .listurl = "http://127.0.0.1/a.jpg",
            .f_filename = "a.jpg",
            .online_play = "0",
            .play_time = "10",
            .f_startdate = "2020-01-01 00:00:00",
            .f_enddate = "2030-12-31 23:59:59",
            .id = "1",
            .f_enable = "1",
            .playname = "name",
            .hostname = "demo.zorvak.cn",
            .f_date = "2019-05-01 08:30:00",
            .remark = "remark",
            .f_flag = "1",
            .parid = "0",
            .file_md5 = "d41d8cd98f00b204e9800998ecf8427e",
            .update_time = "2019-05-01",
        };
    }

    // The item as an element named tag: firstXml (raw XML), then one child
    // element per field that holds a text, in document order. Unset fields
    // take DocumentDefaults().
    std::string Xml(const std::string& tag = "item", const std::string& firstXml = "") const {
        PlaylistItem item = *this;
        item.Fill(DocumentDefaults());
        std::string xml = "<" + tag + ">" + firstXml;
        for (const auto& [name, member] : kDocumentOrder) {
            const Field& field = item.*member;
            if (field.HasText())
                xml += std::string("<") + name + ">" + field.Text() + "</" + name + ">";
        }
        return xml + "</" + tag + ">";
    }

    // An INSERT of the item into t_b_data, straight into the table: the
    // fields that hold a text, each as a quoted SQL string (the integer
    // columns keep a text that reads as a number as that number, any other
    // text as text); unset and left-out fields stay NULL.
    std::string InsertSql() const {
        std::string columns;
        std::string values;
        for (const auto& [name, member] : kDocumentOrder) {
            const Field& field = this->*member;
            if (!field.HasText()) continue;
            if (!columns.empty()) {
                columns += ", ";
                values += ", ";
            }
            columns += name;
            values += "'";
            for (char c : field.Text()) values += c == '\'' ? std::string("''") : std::string(1, c);
            values += "'";
        }
        if (columns.empty()) return "INSERT INTO t_b_data DEFAULT VALUES";
        return "INSERT INTO t_b_data (" + columns + ") VALUES (" + values + ")";
    }
};

// Fields replaced by name, for tables of cases: a value is the field's inner
// XML, std::nullopt leaves the field out.
using Overrides = std::map<std::string, std::optional<std::string>>;

// One item of a playlist document with the document defaults and overrides;
// idXml stands where the id element goes (to give an odd one, or none).
inline std::string ItemXml(const Overrides& overrides = {}, const std::string& tag = "item",
                           const std::string& idXml = "<id>1</id>") {
    PlaylistItem item;
    for (const auto& [name, value] : overrides)
        item[name] = value ? Field(*value) : Field(std::nullopt);
    item.id = std::nullopt;
    return item.Xml(tag, idXml);
}

// A playlist document: the XML declaration with encoding, then the root
// element around children.
inline std::string Document(const std::string& children, const std::string& encoding = "gb2312") {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<root>" + children + "</root>";
}

// UTF-8 to GBK with glibc's iconv (the tests' own converter, independent of
// the client's); throws for text GBK cannot hold.
inline std::string ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no GBK");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    std::size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error("not convertible to GBK");
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace zorvak::test
