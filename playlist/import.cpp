// The playlist document and its import into t_b_data.

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sqlite3.h>

#include <climits>
#include <cstring>
#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "playlist/playlist_document.h"
#include "playlist/store.h"

namespace zorvak {

namespace {

// How much of the document is parsed, and how many items converted, between
// two turns of the caller's serve().
constexpr std::size_t kParsePiece = 256 * 1024;
constexpr std::size_t kItemsPerServe = 1000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1..maxDigits decimal digits at text[pos]; advances pos.
bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t minDigits,
                std::size_t maxDigits, int& value) {
    std::size_t start = pos;
    value = 0;
    while (pos < text.size() && IsDigit(text[pos]) && pos - start < maxDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    std::size_t count = pos - start;
    return count >= minDigits && (pos >= text.size() || !IsDigit(text[pos]));
}

// An element's name as written in the document is name alone: a prefixed
// name (x:root) never matches.
bool HasName(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && (node->ns == nullptr || node->ns->prefix == nullptr) &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool HasIdChild(const xmlNode* node) {
    if (node->type != XML_ELEMENT_NODE) return false;
    for (const xmlNode* c = node->children; c; c = c->next) {
        if (HasName(c, "id")) return true;
    }
    return false;
}

enum class FieldKind { kText, kWholeNumber, kDateTime };

FieldKind KindOf(std::size_t field) {
    const char* name = kImportedFields[field];
    if (!std::strcmp(name, "order_sx") || !std::strcmp(name, "play_time") ||
        !std::strcmp(name, "online_play"))
        return FieldKind::kWholeNumber;
    if (!std::strcmp(name, "f_date") || !std::strcmp(name, "f_startdate") ||
        !std::strcmp(name, "f_enddate") || !std::strcmp(name, "update_time"))
        return FieldKind::kDateTime;
    return FieldKind::kText;
}

// The text of a field element: "" when empty, the content of its single text
// or CDATA child, else nullopt (a child element, a comment, several nodes).
std::optional<std::string_view> FieldText(const xmlNode* field) {
    const xmlNode* c = field->children;
    if (c == nullptr) return std::string_view();
    if (c->next != nullptr || (c->type != XML_TEXT_NODE && c->type != XML_CDATA_SECTION_NODE))
        return std::nullopt;
    return c->content ? std::string_view(reinterpret_cast<const char*>(c->content))
                      : std::string_view();
}

// Converts one field's text for its column; false when the column cannot take it.
bool ConvertField(FieldKind kind, std::string_view text, StoredValue& out) {
    switch (kind) {
        case FieldKind::kText:
            out = std::string(text);
            return true;
        case FieldKind::kWholeNumber: {
            if (Trim(text, kBlanksAndLineEnds).empty()) {
                out = std::monostate{};
                return true;
            }
            auto n = ParseWholeNumberText(text);
            if (!n) return false;
            out = static_cast<std::int64_t>(*n);
            return true;
        }
        case FieldKind::kDateTime: {
            // Every "-" read as "/": in a buffer on the stack for the usual
            // short text, so that no date costs an allocation.
            char buffer[64];
            std::string long_;
            char* bytes = buffer;
            if (text.size() > sizeof buffer) {
                long_.assign(text);
                bytes = long_.data();
            } else if (!text.empty()) {  // an empty view may have no data at all
                std::memcpy(buffer, text.data(), text.size());
            }
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (bytes[i] == '-') bytes[i] = '/';
            }
            const std::string_view slashed(bytes, text.size());
            if (Trim(slashed, kBlanksAndLineEnds).empty()) {
                out = std::monostate{};
                return true;
            }
            auto t = ParseDateTimeText(slashed);
            if (!t) return false;
            out = *t;
            return true;
        }
    }
    return false;
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct CtxtFree {
    void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

// libxml2 reports some errors (decoding, I/O) through its generic error
// function, which writes to stderr; the import reports nothing. The previous
// function is restored afterwards.
class SilentXmlErrors {
public:
    SilentXmlErrors() : func_(xmlGenericError), context_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, &Discard);
    }
    ~SilentXmlErrors() { xmlSetGenericErrorFunc(context_, func_); }
    SilentXmlErrors(const SilentXmlErrors&) = delete;
    SilentXmlErrors& operator=(const SilentXmlErrors&) = delete;

private:
    static void Discard(void*, const char*, ...) {}
    xmlGenericErrorFunc func_;
    void* context_;
};

const std::array<FieldKind, kImportedFieldCount>& FieldKinds() {
    static const auto kinds = [] {
        std::array<FieldKind, kImportedFieldCount> k{};
        for (std::size_t i = 0; i < kImportedFieldCount; ++i) k[i] = KindOf(i);
        return k;
    }();
    return kinds;
}

}  // namespace

std::optional<std::int32_t> ParseWholeNumberText(std::string_view text) {
    text = Trim(text, kBlanksAndLineEnds);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > static_cast<std::int64_t>(INT32_MAX) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<LocalDateTime> ParseDateTimeText(std::string_view text) {
    text = Trim(text, kBlanksAndLineEnds);
    LocalDateTime t;
    std::size_t pos = 0;
    if (!ReadNumber(text, pos, 4, 4, t.year)) return std::nullopt;
    if (pos >= text.size() || (text[pos] != '/' && text[pos] != '-')) return std::nullopt;
    const char sep = text[pos++];
    if (!ReadNumber(text, pos, 1, 2, t.month)) return std::nullopt;
    if (pos >= text.size() || text[pos] != sep) return std::nullopt;
    ++pos;
    if (!ReadNumber(text, pos, 1, 2, t.day)) return std::nullopt;
    t.hour = t.minute = t.second = 0;
    if (pos < text.size()) {
        if (!IsBlank(text[pos])) return std::nullopt;
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        if (!ReadNumber(text, pos, 1, 2, t.hour)) return std::nullopt;
        if (pos >= text.size() || text[pos] != ':') return std::nullopt;
        ++pos;
        if (!ReadNumber(text, pos, 1, 2, t.minute)) return std::nullopt;
        if (pos >= text.size() || text[pos] != ':') return std::nullopt;
        ++pos;
        if (!ReadNumber(text, pos, 1, 2, t.second)) return std::nullopt;
        if (pos != text.size()) return std::nullopt;
    }
    if (!t.IsValid()) return std::nullopt;
    return t;
}

std::string DeclaredEncoding(std::string_view text) {
    // <?xml S version="1.0" S encoding="name" ... ?> at the very first byte.
    if (text.substr(0, 5) != "<?xml" || text.size() < 6 || !IsBlank(text[5])) return {};
    const auto end = text.find("?>", 5);
    if (end == std::string_view::npos) return {};
    std::string_view decl = text.substr(5, end - 5);
    std::size_t pos = 0;
    auto skipBlanks = [&] {
        while (pos < decl.size() && IsBlank(decl[pos])) ++pos;
    };
    for (;;) {
        skipBlanks();
        if (pos >= decl.size()) return {};
        std::size_t nameStart = pos;
        while (pos < decl.size() && !IsBlank(decl[pos]) && decl[pos] != '=') ++pos;
        std::string_view name = decl.substr(nameStart, pos - nameStart);
        skipBlanks();
        if (name.empty() || pos >= decl.size() || decl[pos] != '=') return {};
        ++pos;
        skipBlanks();
        if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) return {};
        const char quote = decl[pos++];
        const auto close = decl.find(quote, pos);
        if (close == std::string_view::npos) return {};
        std::string_view value = decl.substr(pos, close - pos);
        pos = close + 1;
        if (name == "encoding") return std::string(value);
    }
}

void RegisterDocumentEncodings() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        // libxml2 reads "GB2312" strictly (EUC-CN); Windows reads such a
        // document with code page 936, a superset.
        xmlAddEncodingAlias("GBK", "GB2312");
    });
}

PlaylistDocument ReadPlaylistDocument(std::string_view ansiText, std::string_view utf8Text,
                                      const std::function<void()>& serve) {
    RegisterDocumentEncodings();
    PlaylistDocument result;

    std::string_view bytes = ansiText;
    if (!utf8Text.empty()) {
        const std::string declared = DeclaredEncoding(ansiText);
        if (declared.empty() || EqualsNoCase(declared, "UTF-8") || EqualsNoCase(declared, "UTF8"))
            bytes = utf8Text;
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        result.error = "document too large";
        return result;
    }

    std::optional<SilentXmlErrors> silent(std::in_place);
    // The document goes to libxml2's push parser piece by piece, with serve()
    // between two pieces; the first piece holds at least the declaration, so
    // the encoding it names is known before any other byte.
    const std::size_t first = std::min(bytes.size(), kParsePiece);
    std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlCreatePushParserCtxt(
        nullptr, nullptr, bytes.data(), static_cast<int>(first), nullptr));
    if (!ctxt) {
        result.error = "out of memory";
        return result;
    }
    // No network, no DTD loading, no entity substitution: nothing outside the
    // text is read.
    xmlCtxtUseOptions(ctxt.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    std::size_t pos = first;
    bool stopped = false;
    while (!stopped && pos < bytes.size()) {
        if (serve) {
            silent.reset();  // a handler run meanwhile sees libxml2 as it was
            serve();
            silent.emplace();
        }
        const std::size_t n = std::min(bytes.size() - pos, kParsePiece);
        stopped = xmlParseChunk(ctxt.get(), bytes.data() + pos, static_cast<int>(n), 0) != 0;
        pos += n;
    }
    if (!stopped) xmlParseChunk(ctxt.get(), nullptr, 0, 1);
    std::unique_ptr<xmlDoc, DocFree> doc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    if (!ctxt->wellFormed) doc.reset();
    if (!doc) {
        const xmlError* e = xmlCtxtGetLastError(ctxt.get());
        result.error = "not a well-formed document";
        if (e && e->message) {
            std::string message = e->message;
            while (!message.empty() && IsBlank(message.back())) message.pop_back();
            result.error += ": " + message;
        }
        return result;
    }

    const xmlNode* root = nullptr;
    for (const xmlNode* n = doc->children; n; n = n->next) {
        if (HasName(n, "root")) {
            root = n;
            break;
        }
    }
    if (!root) {
        result.outcome = PlaylistDocument::Outcome::kNoRoot;
        result.error = "no top-level element root";
        return result;
    }

    const auto& kinds = FieldKinds();
    result.items.reserve(static_cast<std::size_t>(xmlChildElementCount(const_cast<xmlNode*>(root))));
    std::size_t index = 0;
    for (const xmlNode* node = root->children; node; node = node->next, ++index) {
        if (serve && index % kItemsPerServe == kItemsPerServe - 1) serve();
        if (!HasIdChild(node)) continue;
        std::array<const xmlNode*, kImportedFieldCount> fields{};
        for (const xmlNode* c = node->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE) continue;
            for (std::size_t f = 0; f < kImportedFieldCount; ++f) {
                if (fields[f] == nullptr && HasName(c, kImportedFields[f])) {
                    fields[f] = c;
                    break;
                }
            }
        }
        DocumentItem item;
        for (std::size_t f = 0; f < kImportedFieldCount; ++f) {
            // Spelt out only for an error: a document of thousands of items
            // would otherwise build this text for every field.
            const auto where = [&] {
                return std::string(kImportedFields[f]) + " of root child " + std::to_string(index);
            };
            if (fields[f] == nullptr) {
                result.error = "missing " + where();
                return result;
            }
            auto text = FieldText(fields[f]);
            if (!text) {
                result.error = "more than text in " + where();
                return result;
            }
            if (!ConvertField(kinds[f], *text, item.values[f])) {
                result.error = "bad value \"" + std::string(*text) + "\" in " + where();
                return result;
            }
        }
        result.items.push_back(std::move(item));
    }
    result.outcome = PlaylistDocument::Outcome::kItems;
    return result;
}

namespace {

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// True for the failures that lie with the database file or its folder rather
// than with the rows written: read-only, full, input/output, cannot open,
// busy or locked by another connection, no permission, out of memory,
// damaged.
bool IsStoreWriteFault(int code) {
    switch (code & 0xFF) {
        case SQLITE_READONLY:
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_PERM:
        case SQLITE_NOMEM:
        case SQLITE_NOLFS:
        case SQLITE_PROTOCOL:
        case SQLITE_AUTH:
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return true;
        default:
            return false;
    }
}

std::string InsertSql() {
    std::string columns, params;
    for (std::size_t f = 0; f < kImportedFieldCount; ++f) {
        if (f) {
            columns += ", ";
            params += ", ";
        }
        columns += kImportedFields[f];
        params += "?" + std::to_string(f + 1);
    }
    return "INSERT INTO t_b_data (" + columns + ") VALUES (" + params + ")";
}

// Binds one converted value; the texts it points at live until the step.
int Bind(sqlite3_stmt* stmt, int param, const StoredValue& value, std::string& dateText) {
    if (std::holds_alternative<std::monostate>(value)) return sqlite3_bind_null(stmt, param);
    if (auto n = std::get_if<std::int64_t>(&value)) return sqlite3_bind_int64(stmt, param, *n);
    if (auto s = std::get_if<std::string>(&value))
        return sqlite3_bind_text(stmt, param, s->data(), static_cast<int>(s->size()),
                                 SQLITE_STATIC);
    dateText = std::get<LocalDateTime>(value).ToSortableText();
    return sqlite3_bind_text(stmt, param, dateText.data(), static_cast<int>(dateText.size()),
                             SQLITE_STATIC);
}

}  // namespace

PreparedImport PreparePlaylistImport(std::string_view ansiText,
                                     std::string_view utf8Text) noexcept {
    const LogStopwatch stopwatch;
    PreparedImport prepared;
    try {
        PlaylistDocument document = ReadPlaylistDocument(ansiText, utf8Text);
        if (document.outcome == PlaylistDocument::Outcome::kNoRoot) {
            prepared.error = "no root element";
        } else if (document.outcome != PlaylistDocument::Outcome::kItems) {
            prepared.error = document.error.empty() ? "not a playlist document" : document.error;
        } else {
            prepared.items = std::move(document.items);
            prepared.ready = true;
        }
    } catch (...) {
        prepared = PreparedImport{};
        prepared.error = CurrentExceptionText();
    }
    prepared.ms = stopwatch.ElapsedMs();
    return prepared;
}

bool PlaylistStore::ImportPlaylist(std::string_view ansiText, std::string_view utf8Text) noexcept {
    return CommitImport(PreparePlaylistImport(ansiText, utf8Text));
}

bool PlaylistStore::CommitImport(const PreparedImport& prepared) noexcept {
    const LogStopwatch stopwatch;
    ImportReport report;
    report.ok = WriteRows(prepared, report);
    report.ms = prepared.ms + stopwatch.ElapsedMs();
    if (report.ok) {
        replacedSinceImport_ = false;
        LogInfo(LogCategory::kImport, "imported " + std::to_string(report.rows) + " rows in " +
                                          std::to_string(report.ms) + " ms");
    } else {
        report.rows = 0;
        LogWarning(LogCategory::kImport, "import refused after " + std::to_string(report.ms) +
                                             " ms, table unchanged: " + report.error);
    }
    lastImport_ = report;
    return report.ok;
}

bool PlaylistStore::WriteRows(const PreparedImport& prepared, ImportReport& report) noexcept {
    if (db_ == nullptr) {
        report.error = "the store is not open";
        report.storeFault = true;
        return false;
    }
    if (!prepared.ready) {
        report.error = prepared.error;
        return false;
    }
    try {
        report.rows = prepared.items.size();

        // The pages the transaction changes are kept in memory until the
        // commit (a large playlist would otherwise spill them into the file
        // half way, each spill syncing the journal), and the cache shrinks to
        // its usual size afterwards.
        struct TransactionCache {
            sqlite3* db;
            std::string usual = "-2000";
            explicit TransactionCache(sqlite3* d) : db(d) {
                sqlite3_exec(
                    db, "PRAGMA cache_size",
                    [](void* out, int, char** values, char**) {
                        if (values[0]) *static_cast<std::string*>(out) = values[0];
                        return 0;
                    },
                    &usual, nullptr);
                Exec(db, "PRAGMA cache_size = -65536");
            }
            ~TransactionCache() {
                Exec(db, ("PRAGMA cache_size = " + usual).c_str());
                Exec(db, "PRAGMA shrink_memory");
            }
        } cache{db_};

        // Every old row goes and every new row comes in one transaction: any
        // failure rolls the table back to what it was. The first failure
        // decides what the report says.
        auto failed = [&](const char* what) {
            if (!report.error.empty()) return;
            report.storeFault = IsStoreWriteFault(sqlite3_extended_errcode(db_));
            report.error = report.storeFault ? std::string(sqlite3_errmsg(db_))
                                             : std::string(what) + sqlite3_errmsg(db_);
        };
        if (!Exec(db_, "BEGIN IMMEDIATE")) {
            failed("the database refused the transaction: ");
            return false;
        }
        sqlite3_stmt* insert = nullptr;
        bool ok = Exec(db_, "DELETE FROM t_b_data");
        if (ok) {
            const std::string sql = InsertSql();
            ok = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &insert,
                                    nullptr) == SQLITE_OK;
        }
        std::array<std::string, kImportedFieldCount> dateTexts;
        for (std::size_t i = 0; ok && i < prepared.items.size(); ++i) {
            const DocumentItem& item = prepared.items[i];
            for (std::size_t f = 0; ok && f < kImportedFieldCount; ++f) {
                ok = Bind(insert, static_cast<int>(f + 1), item.values[f], dateTexts[f]) ==
                     SQLITE_OK;
            }
            if (ok && sqlite3_step(insert) != SQLITE_DONE) {
                ok = false;
                failed("the database refused the rows: ");
            }
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        if (!ok) failed("the database refused the rows: ");
        ok = ok && Exec(db_, "COMMIT");
        if (!ok) failed("the database refused the commit: ");
        if (!ok && !sqlite3_get_autocommit(db_)) Exec(db_, "ROLLBACK");
        return ok;
    } catch (...) {
        report.error = CurrentExceptionText();
        if (db_ && !sqlite3_get_autocommit(db_)) Exec(db_, "ROLLBACK");
        return false;
    }
}

}  // namespace zorvak
