#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "playlist/http_client.h"
#include "playlist/store.h"

class QObject;

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
    kUnchanged,         // the answer equals the memo and the last text imported (trimmed)
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

// The playlist request of url: a GET with redirects followed, the User-Agent
// kFetchUserAgent and the time limit kFetchTimeLimit.
HttpRequest PlaylistRequest(const std::string& url);

// The playlist fetch (the control window's fetch button) and the 60-second
// refresh, without any window: the control window hands in its keyword edit
// box and its memo as callbacks. Texts through the callbacks are UTF-8; the memo
// holds the answer converted to the ANSI code page and shown as Unicode,
// followed by a line break.
//
// A fetch runs in three parts, none of which serves events: on the calling
// thread the steps up to the request, which goes out through
// HttpClient::Start; when the answer is in, its conversion, the comparison
// and the reading of the document into rows (PreparePlaylistImport) on a
// worker thread of the fetch's own; then, as a queued call on the calling
// thread, the memo, the store's commit (PlaylistStore::CommitImport) and the
// listeners. From its request to its commit a fetch is under way and any
// fetch asked for meanwhile ends at once as kBusy, so no two fetches ever
// overlap and nothing a handler starts ever waits inside one.
class PlaylistFetch {
public:
    struct Window {
        std::function<std::string()> keywordText;  // edPlayUrl
        std::function<std::string()> memoText;     // mmTmp
        // May be empty (a fetch without a window, zorvak-ctl): the answer is
        // then not converted for showing.
        std::function<void(const std::string&)> setMemoText;
    };

    // Receives how a fetch ended, and what escaped a callback of the fetch
    // (the window's, the listeners'), if anything did.
    using Done = std::function<void(const FetchResult&, std::exception_ptr)>;

    PlaylistFetch(Connectivity& connectivity, const Settings& settings, PlaylistStore& store,
                  HttpClient& client, Window window, std::string server);
    // Takes a request under way off the wire and waits for the worker; a
    // fetch under way then never ends.
    ~PlaylistFetch();
    PlaylistFetch(const PlaylistFetch&) = delete;
    PlaylistFetch& operator=(const PlaylistFetch&) = delete;

    // A fetch ends as soon as one of these holds, in this order: the machine
    // is offline (nothing saved); otherwise the keyword, when it is not blank
    // once trimmed, is saved unchanged as KEYWORD, and then the fetch ends when
    // the store connection is closed, when the machine went offline meanwhile,
    // or when another fetch is under way (kBusy). Otherwise the playlist
    // request goes out (PlaylistRequest of the playlist URL with the keyword
    // unchanged). Its answer ends the fetch when it is blank once trimmed, or
    // when the memo shows it and it is the text this fetch last imported
    // (both compared trimmed), unless the store was replaced since its last
    // import. Otherwise the memo shows the answer and the answer's rows are
    // committed to the store, with no event served between the two.
    // Trimming removes leading and trailing characters of code 32 or lower.
    // Each fetch writes one line to the log (zorvak.fetch): its outcome,
    // bytes and milliseconds; then tells the listener, if any, and done.
    // Start returns once the request is out; a fetch that ends before its
    // request ends inside Start, any other from the thread's event loop (a
    // QCoreApplication must exist). What escapes the settings or the store
    // before the request escapes Start; what escapes a callback later
    // reaches done (logged when done is empty).
    void Start(Done done = {});

    // Start, waiting for the end in a QEventLoop of its own (a program
    // without a QCoreApplication gets one for the call): for a caller that
    // runs nothing else meanwhile (zorvak-ctl, tests). What escaped a
    // callback is thrown again.
    FetchResult Fetch();

    // From a fetch's request to its commit.
    bool IsBusy() const { return busy_; }

    // Called with the result of every fetch (the button's and the refresh's).
    void SetListener(std::function<void(const FetchResult&)> listener) {
        listener_ = std::move(listener);
    }

    // The periodic refresh: nothing when offline, otherwise Start; nothing
    // that escapes the fetch goes further (it is logged).
    void Refresh();

    const std::string& Server() const { return server_; }

    // Runs after every fetch that imported a new playlist (kImported), right
    // after the commit.
    void SetImportedListener(std::function<void()> listener) { imported_ = std::move(listener); }

public:
    // What the worker makes of an answer (fetch.cpp).
    struct Prepared;

private:

    void OnAnswer(HttpResponse response);
    void OnPrepared(std::shared_ptr<Prepared> prepared);
    // The fetch under way ends: the log line, the listener, then done.
    void Finish(std::exception_ptr error = nullptr);
    // The log line of a fetch and the listener.
    void Report(FetchResult& result, const LogStopwatch& stopwatch);

    Connectivity& connectivity_;
    const Settings& settings_;
    PlaylistStore& store_;
    HttpClient& client_;
    Window window_;
    std::string server_;
    std::function<void(const FetchResult&)> listener_;
    std::function<void()> imported_;
    // The ANSI text of the last answer the store accepted ("" before one);
    // written only on the calling thread while no worker runs.
    std::string lastImported_;

    // The fetch under way.
    bool busy_ = false;
    FetchResult current_;
    LogStopwatch stopwatch_;
    Done done_;
    std::thread worker_;
    // Receives the worker's result as a queued call on the calling thread;
    // destroyed after the worker is joined, so a result not yet delivered is
    // dropped.
    std::unique_ptr<QObject> context_;
};

}  // namespace zorvak
