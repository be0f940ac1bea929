#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/monotonic_clock.h"
#include "platform/platform.h"
#include "playlist/http_client.h"
#include "playlist/media_download.h"
#include "playlist/store.h"

namespace zorvak {

// Brings the media files of the playlist into the cache before the play loop
// reaches them: one download at a time (MediaFetch, on the thread's Qt event
// loop, no thread of its own), in play order, while the client shows other
// items or waits in its main loop.
//
// Schedule() (after an import, when the store opens, when the play loop makes
// its selection afresh) makes the queue the missing files of the items given;
// a download that fails is left until the next Schedule(), and the rest go on.
// When the play loop reaches an item whose file is missing it calls
// FetchNow(), which waits for that file: for the download under way when it is
// that file, else for a download of it put ahead of the queue. A file is
// never requested twice at the same time.
class MediaPrefetch {
public:
    MediaPrefetch(const AppDirectory& dir, Connectivity& connectivity, HttpLimits limits = {},
                  MonotonicClock& clock = SteadyMonotonicClock::Instance());
    ~MediaPrefetch();
    MediaPrefetch(const MediaPrefetch&) = delete;
    MediaPrefetch& operator=(const MediaPrefetch&) = delete;

    // The queue becomes the items whose name the cache accepts and whose file
    // is missing, in their order, each name once, after the files a run is
    // waiting for; the download under way goes on. The next download starts
    // from the event loop.
    void Schedule(const std::vector<MediaItem>& items);

    // Waits, serving the thread's events (Qt's, so any handler may run), until
    // the download of fileName ended, and tells how (kNothing for a name the
    // cache refuses or when offline, as DownloadMediaFile). Ends early with
    // kGaveUp as soon as giveUp() answers true, asked at least every
    // HttpClient::kPumpInterval; the download goes on then. Nested calls (a
    // run started inside the wait) wait each for their own file.
    DownloadResult FetchNow(const std::string& fileName, const std::string& url,
                            const std::function<bool()>& giveUp);

    // FetchNow() with the answers of MediaDownloader::DownloadMediaFile, as
    // the play loop takes them: true when the file was fetched (or found
    // whole); true after showMessage when its partial file is held by another
    // call; false for a refused name, offline, or when giveUp() ended the
    // wait; DownloadError when the download failed.
    bool DownloadForRun(const std::string& fileName, const std::string& url,
                        const std::function<bool()>& giveUp, const ShowMessageFn& showMessage);

    // Asked while a request is under way (see MediaFetch): true abandons the
    // download and stops the queue for good (the process is ending).
    void SetAbandonWhen(std::function<bool()> abandon);

    // Runs after each download ended (benchmarks, tests).
    void SetFinishedListener(
        std::function<void(const std::string& fileName, const DownloadResult&)> listener) {
        finished_ = std::move(listener);
    }

    // The file being downloaded now ("" when none) and the files waiting.
    const std::string& Current() const { return current_.fileName; }
    std::size_t Waiting() const { return queue_.size(); }

private:
    struct Waiter;
    void StartNextLater();
    void StartNext();
    void Ended(const DownloadResult& result);
    // Ends the waits for fileName with result.
    void Resolve(const std::string& fileName, const DownloadResult& result);
    bool Abandoned() const { return abandon_ && abandon_(); }

    const AppDirectory& dir_;
    MediaFetch fetch_;
    std::deque<MediaItem> queue_;
    MediaItem current_;
    bool startPosted_ = false;
    std::vector<Waiter*> waiters_;
    std::function<bool()> abandon_;
    std::function<void(const std::string&, const DownloadResult&)> finished_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace zorvak
