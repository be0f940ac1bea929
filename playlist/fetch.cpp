#include "playlist/fetch.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "core/text_encoding.h"

namespace zorvak {

std::string PlaylistFetch::AnsiToUtf8InPieces(std::string_view ansi) const {
    if (!serve_) return AnsiToUtf8(ansi);
    // The text is the code page's own (made by Utf8ToAnsi), so in GBK (code
    // page 936) a byte of 0x81 to 0xFE starts a character of two bytes: a
    // piece never ends between them.
    constexpr std::size_t kPiece = 512 * 1024;
    std::string utf8;
    utf8.reserve(ansi.size() + ansi.size() / 2);
    std::size_t pos = 0, start = 0;
    while (pos < ansi.size()) {
        const auto byte = static_cast<unsigned char>(ansi[pos]);
        pos += byte >= 0x81 && byte <= 0xFE ? 2 : 1;
        if (pos - start >= kPiece || pos >= ansi.size()) {
            pos = std::min(pos, ansi.size());
            utf8 += AnsiToUtf8(ansi.substr(start, pos - start));
            start = pos;
            if (pos < ansi.size()) serve_();
        }
    }
    return utf8;
}

std::optional<std::string> Utf8ToAnsiInPieces(std::string_view utf8,
                                              const std::function<void()>& serve) {
    if (!serve) return Utf8ToAnsi(utf8);
    constexpr std::size_t kPiece = 512 * 1024;
    std::string ansi;
    ansi.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = std::min(utf8.size(), pos + kPiece);
        // Never between the bytes of one character: back to the byte that
        // starts it (at most three continuation bytes).
        for (int back = 0; back < 3 && end < utf8.size() && end > pos &&
                           (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80;
             ++back)
            --end;
        std::optional<std::string> piece = Utf8ToAnsi(utf8.substr(pos, end - pos));
        if (!piece) return std::nullopt;
        ansi += *piece;
        pos = end;
        if (pos < utf8.size()) serve();
    }
    return ansi;
}

PlaylistText GetPlaylistText(HttpClient& client, const std::string& url,
                             const std::function<void()>& serve) noexcept {
    PlaylistText text;
    try {
        HttpRequest request;
        request.url = url;
        request.followRedirects = true;
        request.userAgent = kFetchUserAgent;
        request.timeLimit = kFetchTimeLimit;
        HttpResponse r = client.Send(request);
        if (!r.ok()) {
            text.failure = r.failure;
            text.error = r.error;
            return text;
        }
        std::optional<std::string> ansi = Utf8ToAnsiInPieces(r.body, serve);
        if (!ansi) {
            text.notUtf8 = true;
            text.error = "the answer is not valid UTF-8";
            return text;
        }
        text.ansi = std::move(*ansi);
        text.utf8 = std::move(r.body);
    } catch (...) {
        text = PlaylistText{};
        text.failure = HttpFailure::kTransfer;
        text.error = "out of memory";
    }
    return text;
}

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
        case FetchOutcome::kImportFailed: {
            std::string text = result.importStoreFault
                                   ? "the store could not save the playlist"
                                   : "the answer is not a playlist document the store accepts";
            if (!result.importError.empty()) text += ": " + result.importError;
            return text;
        }
    }
    return "";
}

bool FetchSkipped(FetchOutcome outcome) {
    return outcome == FetchOutcome::kOffline || outcome == FetchOutcome::kStoreClosed ||
           outcome == FetchOutcome::kOfflineAfterSave || outcome == FetchOutcome::kBusy;
}

bool FetchFailed(FetchOutcome outcome) {
    return outcome == FetchOutcome::kNoAnswer || outcome == FetchOutcome::kNotUtf8 ||
           outcome == FetchOutcome::kImportFailed;
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
    const LogStopwatch stopwatch;
    FetchResult result = FetchOnce();
    result.ms = stopwatch.ElapsedMs();
    const bool failed = result.outcome == FetchOutcome::kNoAnswer ||
                        result.outcome == FetchOutcome::kNotUtf8 ||
                        result.outcome == FetchOutcome::kImportFailed ||
                        result.outcome == FetchOutcome::kBusy;
    std::string line = "fetch " + std::string(failed ? "failed" : "done") + ": " +
                       DescribeFetch(result) + ", " + std::to_string(result.bytes) + " bytes, " +
                       std::to_string(result.ms) + " ms";
    if (!result.url.empty()) line += " (" + result.url + ")";
    Log(LogCategory::kFetch, failed ? LogLevel::kWarning : LogLevel::kInfo, line);
    if (listener_) {
        try {
            listener_(result);
        } catch (...) {
            LogWarning(LogCategory::kFetch,
                       "recording the fetch failed: " + CurrentExceptionText());
        }
    }
    return result;
}

FetchResult PlaylistFetch::FetchOnce() {
    FetchResult result;
    if (!connectivity_.IsOnline()) {
        result.outcome = FetchOutcome::kOffline;
        return result;
    }
    const std::string keyword = window_.keywordText ? window_.keywordText() : std::string();
    if (!TrimBlanksView(keyword).empty())
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
    PlaylistText text = GetPlaylistText(client_, result.url, serve_);
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
    result.bytes = text.utf8.size();
    if (text.notUtf8) {
        result.outcome = FetchOutcome::kNotUtf8;
        return result;
    }
    if (TrimBlanksView(text.ansi).empty()) {
        result.outcome = FetchOutcome::kBlankAnswer;
        return result;
    }
    // The memo shows the ANSI text as Unicode; blanks and control characters
    // are single bytes in both, so trimming either side trims the same text.
    // A blank memo differs from any answer here; the Unicode text is made only
    // when it is compared or shown.
    const std::string memo = window_.memoText ? window_.memoText() : std::string();
    std::string shown;
    if (!TrimBlanksView(memo).empty() || window_.setMemoText) shown = AnsiToUtf8InPieces(text.ansi);
    // A store replaced since its last import is filled even by the answer
    // the memo shows.
    if (!TrimBlanksView(memo).empty() && TrimBlanksView(memo) == TrimBlanksView(shown) &&
        !store_.ReplacedSinceImport()) {
        result.outcome = FetchOutcome::kUnchanged;
        return result;
    }
    if (window_.setMemoText) {
        shown += '\n';
        window_.setMemoText(shown);
        shown = std::string();  // the memo has its copy
    }
    // The conversions above and the import below are separate stretches of
    // work; a fetch run from here finds the memo showing this answer.
    if (serve_) serve_();
    result.outcome = store_.ImportPlaylist(text.ansi, text.utf8, serve_) ? FetchOutcome::kImported
                                                                 : FetchOutcome::kImportFailed;
    const PlaylistStore::ImportReport& import = store_.LastImport();
    result.rows = import.rows;
    result.importMs = import.ms;
    result.importError = import.error;
    result.importStoreFault = import.storeFault;
    if (result.outcome == FetchOutcome::kImported && imported_) {
        // The commit and what follows it are separate stretches of work.
        if (serve_) serve_();
        imported_();
    }
    return result;
}

void PlaylistFetch::Refresh() {
    if (!connectivity_.IsOnline()) return;
    try {
        Fetch();
    } catch (...) {
        // A failed refresh is tried again at the next tick.
        LogWarning(LogCategory::kFetch, "refresh failed: " + CurrentExceptionText());
    }
}

}  // namespace zorvak
