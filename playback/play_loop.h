#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "core/event_pump.h"
#include "core/monotonic_clock.h"
#include "core/play_flags.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "playback/presenters.h"
#include "playlist/store.h"

namespace zorvak {

// The play loop and the two ways of starting it, play once and play in a
// loop. Needs no display: everything it acts on is handed in.
//
// A run walks the valid-now selection of the store in play order and hands
// each row to the presenter of its type; presenter calls are modal and run
// nested handlers (Esc, the watchdog, the playlist refresh, a second run) while
// an item is on screen. Those handlers steer the run through the flags only.
// The loop reads the fields of a row once, at the row's turn, and uses only
// those values for that row: a nested handler may move the cursor or make the
// selection afresh (the daily restart's reopening), and the row on screen
// still ends as the row it began as. The cursor then moves on from wherever
// it stands.
//
// In loop play a run goes on while the selection has rows, whether or not
// they can be shown: a row that cannot be shown now (its file not in the
// cache while offline, not ready, or waiting for its download's retry) is
// skipped at each turn. A pass that showed nothing waits before the next,
// serving events (RepeatDelay, playlist/media_prefetch.h, of the empty
// passes in a row: 1 s doubling to 60 s, back to 1 s once an item is shown);
// Esc, stop, quit and the arrival of a file the pass skipped as not ready end
// the wait early. An item counts as shown unless its presenter ended it
// kNotShown or kError.
//
// A playlist import (PlaylistStore::ImportPlaylist) runs from start to end
// without serving events, so the loop never finds the table in the middle of
// being rewritten: an import either happened before the loop reads a row or
// happens entirely inside one of the loop's pumps.
// The three kinds of item (f_lx 10, 20, 30).
enum class ItemKind { kImage, kVideo, kWebPage };
// "picture", "video", "web page".
const char* ItemKindName(ItemKind kind);

// One item handed to a presenter, as the loop reports it when the call
// returns (or throws). Times from the store's clock.
struct PlayedItem {
    LocalDateTime started;
    LocalDateTime ended;
    std::int64_t rowId = 0;  // ID of the row
    std::string playname;
    std::string fileName;    // f_filename
    std::string type;        // f_lx
    ItemKind kind = ItemKind::kImage;
    MediaSource source = MediaSource::kLocalFile;
    std::string location;    // the cache path or the URL shown
    ItemEnd end;             // an error leaving the presenter: kError with its text
};

// Told of every item the loop hands to a presenter, and of rows skipped
// because they cannot be shown now (offline without the file, the file not
// ready: ended kNotShown with the reason, started and ended at the same
// time), for proof of play. A row that is not shown
// again and again is told once per period (RepeatDelay of the times told,
// from 1 s doubling to 60 s), the detail then ending with how many times it
// was not shown since. Runs on the GUI thread, so it must be quick.
class PlayObserver {
public:
    virtual ~PlayObserver() = default;
    virtual void ItemPlayed(const PlayedItem& item) noexcept = 0;
};

class PlayLoop {
public:
    // DownloadMediaFile(fileName, url): see MediaDownloader.
    using DownloadFn = std::function<bool(const std::string& fileName, const std::string& url)>;

    struct Deps {
        PlayFlags& flags;
        PlaylistStore& store;
        Presenters& presenters;
        DesktopChrome& chrome;
        ShellControl& shell;
        Connectivity& connectivity;
        EventPump& pump;
        const Settings& settings;
        const AppDirectory& appDir;
        DownloadFn download;
        // Minimises the application (the control window goes to the tray).
        std::function<void()> minimise;
        // Told of each item shown; may be null.
        PlayObserver* observer = nullptr;
        // Times the waits between passes and the repeats of "not shown"; the
        // machine's steady clock when null.
        MonotonicClock* clock = nullptr;
    };

    // The longest single wait for events between two looks at the flags,
    // the clock and the skipped files.
    static constexpr std::chrono::milliseconds kWaitSlice{250};

    explicit PlayLoop(Deps deps);

    // One run over the valid rows; the caller sets KeepPlaying and RepeatList
    // beforehand. Returns when the run ends: KeepPlaying cleared, Quitting set,
    // or the end of the selection. Errors of single rows are swallowed; an
    // error of the loop's own recovery after such an error ends the run and is
    // thrown, the desktop chrome staying hidden.
    void RunPlaylist();

    // Play once: KeepPlaying set, RepeatList clear, then a run. Neither
    // minimises nor touches the shell. Nothing once quit has been asked for.
    void PlayOnce();

    // Play in a loop (the loop-play button, start-up and the watchdog):
    // minimise, end the shell when EXPLORER is "1" and it runs, set all three
    // flags, then a run. Nothing once quit has been asked for.
    void PlayInLoop();

private:
    // The fields of the row at the cursor, read once at its turn.
    struct Row {
        std::int64_t id = 0;
        std::string playname;
        std::string url;       // listurl
        std::string fileName;  // f_filename
        std::string type;      // f_lx
        int online = 0;        // online_play
        int seconds = 0;       // play_time, read for the three known types only
    };
    // One pass over the selection, from its first row to the wrap.
    struct Pass {
        bool shown = false;  // an item was on screen
        // Cache paths of rows skipped because their file was not ready (the
        // first kAwaitedChecked of them): the wait after the pass ends when
        // one of them arrives.
        std::vector<std::string> awaited;
    };
    static constexpr std::size_t kAwaitedChecked = 64;
    // How often a row was not shown, for telling the observer once a period.
    struct NotShownRepeats {
        MonotonicClock::time_point nextAt{};
        int told = 0;     // times told
        int since = 0;    // not shown since it was last told
        bool seen = true;  // in the pass under way
    };

    void ProcessRow(Pass& pass);
    // One item to its presenter (modal). True when the item was on screen.
    bool Present(const Row& row, ItemKind kind, const std::string& location,
                 MediaSource source);
    // The item as told to the observer, started now.
    PlayedItem ItemOf(const Row& row, ItemKind kind, const std::string& location,
                      MediaSource source) const;
    // The row an item is counted under in notShown_.
    static std::string RepeatsKey(const PlayedItem& item);
    // The observer hears of a row not shown, at most once per period of that row.
    void TellNotShown(PlayedItem item);
    // After a row: the cursor to the next one, a pump when asked; in loop
    // play past the last row the pass ends, waits when it showed nothing, and
    // the selection is made afresh (Wrap, pumping after it when asked).
    void EndOfRow(Pass& pass, bool pumpAfter, bool pumpAtWrap);
    // A pass that showed nothing waits before the next one (see above).
    void WaitBeforeNextPass(const Pass& pass);
    // Hands the presenters the row after the current one when it is a local
    // picture whose cache file is there (in loop play the first row when the
    // current one is the last: a wrap mostly selects the same rows again).
    // Reads ahead without moving the cursor; the row is still read afresh at
    // its turn. Never throws.
    void PrepareNextPicture() noexcept;
    // After the last row in loop play: the selection made afresh, back to the
    // first row.
    void Wrap(bool finalPump);

    Deps d_;
    MonotonicClock& clock_;
    int emptyPasses_ = 0;  // passes in a row that showed nothing
    std::map<std::string, NotShownRepeats> notShown_;  // by row ID and file name
};

}  // namespace zorvak
