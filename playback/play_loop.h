#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/app_directory.h"
#include "core/clock.h"
#include "core/event_pump.h"
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
// an item is on screen. Those handlers steer the run through the flags only,
// and the loop re-reads every field from the current row at the moment it
// needs it, since a nested handler may have moved the cursor.
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

// Told of every item the loop hands to a presenter (proof of play). Runs on
// the GUI thread right after the presenter returns, so it must be quick.
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
    };

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
    void ProcessRow();
    // One item to its presenter (modal).
    void Present(ItemKind kind, const std::string& location, int seconds, MediaSource source);
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
};

}  // namespace zorvak
