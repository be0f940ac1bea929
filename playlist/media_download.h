#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/app_directory.h"
#include "core/event_pump.h"
#include "core/monotonic_clock.h"
#include "platform/platform.h"
#include "playlist/http_client.h"

namespace zorvak {

// A download that ended in error: the cache folder could not be created, a
// request got no answer or a status outside 2xx, the partial file could not be
// created or written, or the body did not match the announced length. The
// partial file and the HTTP client have been released when it is thrown.
class DownloadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Shows a modal message to the operator and returns when it is dismissed.
using ShowMessageFn = std::function<void(const std::string& text)>;

// Whether a name from the playlist may name a file in the media cache: not
// empty, not "." or "..", and free of "/", "\", ":" and NUL, so that it names
// a file directly inside the cache folder and nowhere else; and a name the OS
// keeps a file under (IsLocalFileName: on Windows no device name such as
// "nul.mp4" and no name ending in a dot or a blank).
bool IsAcceptableCacheName(const std::string& fileName);

// The media cache folder: the application directory followed by "data" and a
// separator.
std::string MediaCacheFolder(const AppDirectory& dir);
// The cache path of an item: MediaCacheFolder() followed by fileName, unchanged.
std::string MediaCachePath(const AppDirectory& dir, const std::string& fileName);
// True when a regular file (or a link to one) exists at path.
bool CacheFileExists(const std::string& path);

// Brings the media file of one local item into the media cache.
//
// The body is streamed into "<name>.tmp" beside the final file and renamed to
// the final name only once complete, so a file under its final name is always
// whole. Every call uses an HttpClient of its own, so cookies last one call;
// it follows redirects by the client's rules (at most 15 requests each for
// the HEAD and the GET), uses no proxy and sends the User-Agent
// HttpRequest::kDefaultUserAgent. The requests carry the client's headers in
// the client's order (Content-Type: text/html, Host, Accept: text/html, */*,
// User-Agent, and Cookie when the server set one), plus "Range: bytes=n-"
// between User-Agent and Cookie when a partial file is resumed. The event
// pump runs at least every HttpClient::kPumpInterval while a request waits,
// and once after the body, so any handler may run nested in a call,
// including another download.
class MediaDownloader {
public:
    // The limits apply to each request; waiting is measured on clock, which
    // must outlive the downloader.
    MediaDownloader(const AppDirectory& dir, Connectivity& connectivity, EventPump& pump,
                    ShowMessageFn showMessage, HttpLimits limits = {},
                    MonotonicClock& clock = SteadyMonotonicClock::Instance());

    // Result:
    //   false  the name is refused, the machine is offline, or the cache file
    //          already exists (nothing fetched);
    //   true   the server was contacted and the call ended without error: the
    //          file was fetched and renamed; a file appeared under the final
    //          name during the HEAD request; the existing partial file could
    //          not be opened (after the message); the rename failed (the data
    //          stays complete in the partial file).
    // Throws DownloadError in the cases listed at that class. A partial file
    // that holds part of the resource is resumed only for the version it holds
    // the start of: its validator (a strong ETag, else Last-Modified) is kept
    // beside it in "<name>.tmp.validator", and the GET asks for the rest with
    // Range and If-Range; a 206 that continues the file is appended, a 200
    // (the resource changed) restarts it. A partial file without a validator,
    // or whose validator differs from the one the HEAD request announces, is
    // refetched whole, as is one longer than the announced length. A short body, an empty body or a
    // dropped connection keeps what arrived in the partial file for the next
    // call. At most one HEAD and one GET per call, each with its redirects.
    // Each call writes one line to the log (zorvak.download): the bytes
    // received, the time and how it ended (info; debug when nothing was
    // asked of the server; warning with the error).
    bool DownloadMediaFile(const std::string& fileName, const std::string& url);

    void SetLimits(HttpLimits limits) { limits_ = limits; }
    // A download under way is abandoned as soon as abandon() answers true (see
    // HttpClient::SetAbandonWhen): it ends with DownloadError and keeps what
    // arrived in the partial file for the next call.
    void SetAbandonWhen(std::function<bool()> abandon) { abandon_ = std::move(abandon); }

private:
    // Of one call, for its log line (calls may nest through the pump).
    struct DownloadProgress {
        std::uint64_t received = 0;
        std::string outcome = "done";
    };
    bool Download(const std::string& fileName, const std::string& url, DownloadProgress& progress);

    const AppDirectory& dir_;
    Connectivity& connectivity_;
    EventPump& pump_;
    ShowMessageFn showMessage_;
    HttpLimits limits_;
    MonotonicClock& clock_;
    std::function<bool()> abandon_;
};

// How a download ended, for callers that take no exceptions.
struct DownloadResult {
    enum class Kind {
        kNothing,  // DownloadMediaFile's false: name refused, offline, file already there
        kDone,     // DownloadMediaFile's true (fetched and renamed, or found complete)
        kHeld,     // the partial file is held by another call (error: the message text)
        kFailed,   // DownloadMediaFile's DownloadError (error: its text)
        kGaveUp,   // the caller stopped waiting (MediaPrefetch::FetchNow)
    };
    Kind kind = Kind::kNothing;
    std::string error;
};

// One download at a time, driven by the thread's Qt event loop instead of
// waiting: the requests go out with HttpClient::Start, so the caller returns
// at once and the file arrives while the loop serves other work. The steps
// and cache rules are DownloadMediaFile's (one HEAD, at most one GET, the
// partial file, the validator and its If-Range resume, the rename, the name
// rule), from the same code. A QCoreApplication must exist.
class MediaFetch {
public:
    using DownloadDone = std::function<void(const DownloadResult&)>;

    MediaFetch(const AppDirectory& dir, Connectivity& connectivity, HttpLimits limits = {},
               MonotonicClock& clock = SteadyMonotonicClock::Instance());
    ~MediaFetch();
    MediaFetch(const MediaFetch&) = delete;
    MediaFetch& operator=(const MediaFetch&) = delete;

    // Starts the download of one file (a download under way is dropped
    // first, as by Cancel). done runs from the event loop, never inside
    // Start, once the download ended; it may start the next one.
    void Start(const std::string& fileName, const std::string& url, DownloadDone done);
    // Drops the download under way: its request goes off the wire, what
    // arrived stays in the partial file, done is not called.
    void Cancel();
    bool Busy() const;

    // Asked every HttpClient::kPumpInterval while a request is under way;
    // true abandons it (kFailed, the partial file kept).
    void SetAbandonWhen(std::function<bool()> abandon) { abandon_ = std::move(abandon); }

private:
    struct Job;
    void Refuse(DownloadResult result);
    void AfterHead(HttpResponse head);
    void AfterGet(HttpResponse r);
    void End(DownloadResult result);

    const AppDirectory& dir_;
    Connectivity& connectivity_;
    HttpLimits limits_;
    MonotonicClock& clock_;
    NullEventPump pump_;
    std::function<bool()> abandon_;
    std::shared_ptr<Job> job_;
};

}  // namespace zorvak
