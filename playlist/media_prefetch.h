#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/monotonic_clock.h"
#include "platform/platform.h"
#include "playlist/http_client.h"
#include "playlist/media_download.h"
#include "playlist/store.h"

namespace zorvak {

// The delay before the n-th repetition of something that keeps failing
// (n >= 1): 1 s, doubling with each repetition, at most 60 s.
std::chrono::seconds RepeatDelay(int times);

// The run does not wait for this file now (DownloadForRun): what() says why.
// The transfer of the file goes on, or is tried again, in the background.
class MediaNotReady : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Brings the media files of the playlist into the cache before the play loop
// reaches them: one download at a time (MediaFetch, on the thread's Qt event
// loop, no thread of its own), in play order, while the client shows other
// items or waits in its main loop.
//
// Schedule() (after an import, when the store opens, when the play loop makes
// its selection afresh) makes the queue the missing files of the items given.
// A file whose download failed is not requested again before its retry time
// (RepeatDelay of its failures in a row, from the end of the failed
// download), and the rest go on; it is tried again by the first Schedule() or
// FetchNow() after that time. When the play loop reaches an item whose file
// is missing it calls FetchNow(), which waits for that file for a short while
// at most (kRunWaitLimit): for the download under way when it is that file,
// else for a download of it put ahead of the queue. A file is never requested
// twice at the same time.
class MediaPrefetch {
public:
    // The most that runs wait, in all, for one file whose download has not
    // failed yet (from the first wait until that download ends).
    static constexpr std::chrono::seconds kRunWaitLimit{10};

    MediaPrefetch(const AppDirectory& dir, Connectivity& connectivity, HttpLimits limits = {},
                  MonotonicClock& clock = SteadyMonotonicClock::Instance());
    ~MediaPrefetch();
    MediaPrefetch(const MediaPrefetch&) = delete;
    MediaPrefetch& operator=(const MediaPrefetch&) = delete;

    // The queue becomes the items whose name the cache accepts, whose file
    // is missing and that do not wait for their retry time, in their order,
    // each name once, after the files a run is waiting for; the download
    // under way goes on. What is kept of files no longer among the items
    // (their failures) is forgotten. The next download starts from the event
    // loop.
    void Schedule(const std::vector<MediaItem>& items);

    // Waits, serving the thread's events (Qt's, so any handler may run), until
    // the download of fileName ended, and tells how (kNothing for a name the
    // cache refuses or when offline, as DownloadMediaFile). Ends early with
    // kGaveUp and an empty error as soon as giveUp() answers true, asked at
    // least every HttpClient::kPumpInterval; the download goes on then.
    // Answers kGaveUp with the reason in error, without waiting, when the
    // file's last download failed (the retry is put ahead of the queue once
    // its time has come, and the run does not wait for it), or when runs
    // have waited kRunWaitLimit in all for the download under way or queued;
    // a wait that reaches that limit ends the same way. Nested calls (a run
    // started inside the wait) wait each for their own file.
    DownloadResult FetchNow(const std::string& fileName, const std::string& url,
                            const std::function<bool()>& giveUp);

    // FetchNow() with the answers of MediaDownloader::DownloadMediaFile, as
    // the play loop takes them: true when the file was fetched (or found
    // whole); true after showMessage when its partial file is held by another
    // call; false for a refused name, offline, or when giveUp() ended the
    // wait; DownloadError when the download failed; MediaNotReady when the run
    // does not wait for the file (see FetchNow).
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

    // How many downloads of fileName failed in a row (0: none on record).
    int Failures(const std::string& fileName) const;

private:
    struct Waiter;
    // What is kept of a file whose download failed or that runs waited for.
    struct FileState {
        int failures = 0;  // failed downloads in a row
        MonotonicClock::time_point retryAt{};
        std::string error;  // of the last failure
        // Runs' waits since the file's last download ended.
        MonotonicClock::duration waited{};
    };
    // The file ahead of the queue; started at once when nothing runs.
    void PutFirst(const std::string& fileName, const std::string& url);
    bool WaitsForRetry(const std::string& fileName, MonotonicClock::time_point now) const;
    void StartNextLater();
    void StartNext();
    void Ended(const DownloadResult& result);
    // Ends the waits for fileName with result.
    void Resolve(const std::string& fileName, const DownloadResult& result);
    bool Abandoned() const { return abandon_ && abandon_(); }

    const AppDirectory& dir_;
    MonotonicClock& clock_;
    MediaFetch fetch_;
    std::map<std::string, FileState> files_;
    std::deque<MediaItem> queue_;
    MediaItem current_;
    bool startPosted_ = false;
    std::vector<Waiter*> waiters_;
    std::function<bool()> abandon_;
    std::function<void(const std::string&, const DownloadResult&)> finished_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace zorvak
