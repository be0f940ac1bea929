#pragma once

#include <functional>
#include <string>

#include "core/app_directory.h"
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
    // After the last row in loop play: the selection made afresh, back to the
    // first row.
    void Wrap(bool finalPump);

    Deps d_;
};

}  // namespace zorvak
