#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "platform/platform.h"
#include "playlist/http_client.h"
#include "playlist/store.h"

namespace zorvak {

// The playlist server's address, host[:port]: the environment variable
// ZORVAK_PLAYLIST_SERVER when it is set and not blank, otherwise the address
// built in (CMake cache variable ZORVAK_PLAYLIST_SERVER, plain HTTP on port 80).
std::string PlaylistServerAddress();

// The keyword's ANSI bytes as they go into the request line: every byte as it
// is, except those that cannot stand in a request line or would end the query,
// which are percent-encoded: blank and the other control characters (0x00 to
// 0x20, 0x7F) and "#". "%" and "+" go out as typed, so the server decodes
// exactly what it would decode from a client that sends the bytes unencoded.
std::string EncodeKeywordForUrl(std::string_view ansiKeyword);

// "http://" + server + "/getplaylist.php?hostname=" + the keyword (UTF-8 as
// the edit box holds it) in the ANSI code page, encoded as above.
std::string PlaylistUrl(const std::string& server, const std::string& keyword);

// The User-Agent of the playlist request.
inline constexpr const char* kFetchUserAgent = "Mozilla/5.0";
// The longest the playlist request may take in all, redirects included (time
// in the event pump not counted): the connect limit with room for a slow
// server, yet short enough that neither the fetch button nor the online
// pictures, which share the client, wait on a trickling answer for long.
inline constexpr std::chrono::milliseconds kFetchTimeLimit{120'000};

// The text of a playlist answer.
struct PlaylistText {
    std::string ansi;   // the body converted to the ANSI code page; empty on any failure
    std::string utf8;   // the body as received (valid UTF-8); empty on any failure
    HttpFailure failure = HttpFailure::kNone;
    bool notUtf8 = false;  // the request succeeded but the body is not valid UTF-8
    std::string error;
};

// GETs url through client with redirects followed, the User-Agent
// kFetchUserAgent and the time limit kFetchTimeLimit (for this request only:
// the client's later requests are their own), decodes the body strictly as
// UTF-8 and converts it to the ANSI code page (a character the code page
// cannot hold becomes "?"). Empty text on any failure. serve(), when given, runs between pieces of the conversion
// (every 512 KiB of the body), for a caller on the GUI thread. Never throws.
PlaylistText GetPlaylistText(HttpClient& client, const std::string& url,
                             const std::function<void()>& serve = {}) noexcept;

// Utf8ToAnsi of utf8 converted piece by piece (never splitting a character),
// with serve() between two pieces; the same result as one call. Without serve,
// one call.
std::optional<std::string> Utf8ToAnsiInPieces(std::string_view utf8,
                                              const std::function<void()>& serve);

// How one fetch ended.
enum class FetchOutcome {
    kOffline,           // no connection: nothing done, the keyword not even saved
    kStoreClosed,       // the keyword saved (when not blank); no request sent
    kOfflineAfterSave,  // the connection went between saving and sending
    kBusy,              // the shared client was in use by another request
    kNoAnswer,          // the request failed (connection, status, redirects, time limit)
    kNotUtf8,           // the answer is not valid UTF-8
    kBlankAnswer,       // the answer, trimmed, is empty
    kUnchanged,         // the answer equals the memo (both trimmed)
    kImported,          // the memo shows the new text and the table holds its items
    kImportFailed,      // the memo shows the new text; the import refused it, table unchanged
                        // (importStoreFault tells the document's fault from the store's)
};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::kOffline;
    std::string url;     // the URL requested ("" when none was)
    std::string detail;  // what the HTTP client said for kNoAnswer/kBusy
    std::size_t bytes = 0;     // the answer's body as received (0 when none)
    std::int64_t ms = 0;       // the whole fetch, import included
    std::size_t rows = 0;      // kImported: the rows the table now holds
    std::int64_t importMs = 0; // kImported, kImportFailed: the import's time
    std::string importError;   // kImportFailed: why the store refused it
    bool importStoreFault = false;  // kImportFailed: the store could not write (see ImportReport)
};

// True for the outcomes of a fetch that sent no request or got no playlist
// through because of the client's own state: offline, the store closed, the
// HTTP client busy. Such a fetch is neither done nor failed: it was skipped.
bool FetchSkipped(FetchOutcome outcome);
// True for the outcomes of a fetch that failed: no answer, not UTF-8, the
// import refused.
bool FetchFailed(FetchOutcome outcome);

// One line saying how a fetch ended ("offline", "no answer: HTTP 404", ...).
// kImportFailed names its cause: "the store could not save the playlist:
// <why>" when the store could not write, otherwise "the answer is not a
// playlist document the store accepts: <why>".
std::string DescribeFetch(const FetchResult& result);

// The playlist fetch (the control window's fetch button) and the 60-second
// refresh, without any window: the control window hands in its keyword edit
// box and its memo as callbacks. Texts through the callbacks are UTF-8; the memo
// holds the answer converted to the ANSI code page and shown as Unicode,
// followed by a line break.
class PlaylistFetch {
public:
    struct Window {
        std::function<std::string()> keywordText;  // edPlayUrl
        std::function<std::string()> memoText;     // mmTmp
        // May be empty (a fetch without a window, zorvak-ctl): the answer is
        // then not converted for showing.
        std::function<void(const std::string&)> setMemoText;
    };

    PlaylistFetch(Connectivity& connectivity, const Settings& settings, PlaylistStore& store,
                  HttpClient& client, Window window, std::string server);

    // The fetch:
    //  1. offline: stop;
    //  2. the keyword, trimmed, not empty: save it unchanged as KEYWORD;
    //  3. store connection closed: stop;
    //  4. offline: stop;
    //  5. GetPlaylistText of the playlist URL with the keyword unchanged;
    //  6. the answer, trimmed, empty: stop;
    //  7. the memo, trimmed, equal to the answer, trimmed: stop;
    //  8. the memo replaced by the answer;
    //  9. ImportPlaylist(answer).
    // Trimming removes leading and trailing characters of code 32 or lower.
    // Each fetch writes one line to the log (zorvak.fetch, info): its
    // outcome, bytes and milliseconds; then tells the listener, if any.
    FetchResult Fetch();

    // Called with the result of every fetch (the button's and the refresh's).
    void SetListener(std::function<void(const FetchResult&)> listener) {
        listener_ = std::move(listener);
    }

    // The periodic refresh: nothing when offline, otherwise the fetch; nothing
    // that escapes the fetch goes further.
    void Refresh();

    const std::string& Server() const { return server_; }

    // Runs between pieces of reading an answer for the import (the client
    // serves its events there; see PlaylistStore::ImportPlaylist).
    void SetServeWhileImporting(std::function<void()> serve) { serve_ = std::move(serve); }

    // Runs after every fetch that imported a new playlist (kImported).
    void SetImportedListener(std::function<void()> listener) { imported_ = std::move(listener); }

private:
    // AnsiToUtf8, with serve_ between pieces.
    std::string AnsiToUtf8InPieces(std::string_view ansi) const;

    Connectivity& connectivity_;
    const Settings& settings_;
    PlaylistStore& store_;
    HttpClient& client_;
    Window window_;
    std::string server_;
    std::function<void(const FetchResult&)> listener_;

    FetchResult FetchOnce();
    std::function<void()> imported_;
    std::function<void()> serve_;
};

}  // namespace zorvak
