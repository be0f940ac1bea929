#include "playlist/fetch.h"

#include <cstdlib>
#include <optional>

#include "core/text_encoding.h"

namespace zorvak {

namespace {

// text without the characters of code 32 or lower at its edges (TrimBlanks
// without the copy).
std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string PlaylistServerAddress() {
    const char* env = std::getenv("ZORVAK_PLAYLIST_SERVER");
    if (env && !TrimBlanks(env).empty()) return TrimBlanks(env);
    return ZORVAK_PLAYLIST_SERVER_DEFAULT;
}

std::string EncodeKeywordForUrl(std::string_view ansiKeyword) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(ansiKeyword.size());
    for (char ch : ansiKeyword) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte == 0x7F || byte == '#') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string PlaylistUrl(const std::string& server, const std::string& keyword) {
    std::optional<std::string> ansi = Utf8ToAnsi(keyword);
    return "http://" + server + "/getplaylist.php?hostname=" +
           EncodeKeywordForUrl(ansi ? *ansi : keyword);
}

std::string DescribeFetch(const FetchResult& result) {
    switch (result.outcome) {
        case FetchOutcome::kOffline: return "offline: no Internet connection reported";
        case FetchOutcome::kStoreClosed: return "the playlist store is not open";
        case FetchOutcome::kOfflineAfterSave: return "offline: the connection went away";
        case FetchOutcome::kBusy: return "the HTTP client is busy with another request";
        case FetchOutcome::kNoAnswer: return "no answer: " + result.detail;
        case FetchOutcome::kNotUtf8: return "the answer is not valid UTF-8";
        case FetchOutcome::kBlankAnswer: return "the answer is blank";
        case FetchOutcome::kUnchanged: return "the playlist has not changed";
        case FetchOutcome::kImported: return "imported";
        case FetchOutcome::kImportFailed:
            return "the answer is not a playlist document the store accepts";
    }
    return "";
}

PlaylistFetch::PlaylistFetch(Connectivity& connectivity, const Settings& settings,
                             PlaylistStore& store, HttpClient& client, Window window,
                             std::string server)
    : connectivity_(connectivity),
      settings_(settings),
      store_(store),
      client_(client),
      window_(std::move(window)),
      server_(std::move(server)) {}

FetchResult PlaylistFetch::Fetch() {
    FetchResult result;
    if (!connectivity_.IsOnline()) {
        result.outcome = FetchOutcome::kOffline;
        return result;
    }
    const std::string keyword = window_.keywordText ? window_.keywordText() : std::string();
    if (!TrimBlanks(keyword).empty())
        settings_.WriteSetting(Settings::kSection, Settings::kKeyword, keyword);
    if (!store_.IsConnected()) {
        result.outcome = FetchOutcome::kStoreClosed;
        return result;
    }
    if (!connectivity_.IsOnline()) {
        result.outcome = FetchOutcome::kOfflineAfterSave;
        return result;
    }
    result.url = PlaylistUrl(server_, keyword);
    HttpText text = HttpGetTextDetailed(client_, result.url);
    if (text.failure == HttpFailure::kBusy) {
        result.outcome = FetchOutcome::kBusy;
        result.detail = text.error;
        return result;
    }
    if (text.failure != HttpFailure::kNone) {
        result.outcome = FetchOutcome::kNoAnswer;
        result.detail = text.error;
        return result;
    }
    if (text.notUtf8) {
        result.outcome = FetchOutcome::kNotUtf8;
        return result;
    }
    if (Trimmed(text.ansi).empty()) {
        result.outcome = FetchOutcome::kBlankAnswer;
        return result;
    }
    // The memo shows the ANSI text as Unicode; blanks and control characters
    // are single bytes in both, so trimming either side trims the same text.
    // A blank memo differs from any answer here; the Unicode text is made only
    // when it is compared or shown.
    const std::string memo = window_.memoText ? window_.memoText() : std::string();
    std::string shown;
    if (!Trimmed(memo).empty() || window_.setMemoText) shown = AnsiToUtf8(text.ansi);
    if (!Trimmed(memo).empty() && Trimmed(memo) == Trimmed(shown)) {
        result.outcome = FetchOutcome::kUnchanged;
        return result;
    }
    if (window_.setMemoText) {
        shown += '\n';
        window_.setMemoText(shown);
        shown = std::string();  // the memo has its copy
    }
    result.outcome = store_.ImportPlaylist(text.ansi, text.utf8) ? FetchOutcome::kImported
                                                                 : FetchOutcome::kImportFailed;
    if (result.outcome == FetchOutcome::kImported && imported_) imported_();
    return result;
}

void PlaylistFetch::Refresh() {
    if (!connectivity_.IsOnline()) return;
    try {
        Fetch();
    } catch (...) {
        // A failed refresh is tried again at the next tick.
    }
}

}  // namespace zorvak
