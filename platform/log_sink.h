#pragma once

#include <string>

namespace zorvak {

// Where the process's log goes (core/log.h).
//
// Linux: each category of core/log.h becomes a Qt logging category of the same
// name (zorvak.fetch, ...), info and above on by default, so QT_LOGGING_RULES
// switches them ("zorvak.play.debug=true", "zorvak.fetch=false"). Qt's message
// handler then writes every line, the client's and Qt's own:
//  - to the systemd journal when stderr is the journal's stream (JOURNAL_STREAM
//    names stderr's device and inode, as systemd sets it for a service): one
//    line "<N>category: message" per message, N the syslog priority, which the
//    journal reads as the line's priority (Debian's Qt is built without its
//    own journald support);
//  - otherwise to stderr as "YYYY-MM-DD HH:MM:SS.mmm level category: message".
// Windows: nothing is installed; info and above go to stderr.
void InstallProcessLog();

// The same with every zorvak category off unless QT_LOGGING_RULES switches it
// on (zorvak-ctl, whose own output is its report).
void InstallQuietProcessLog();

// Only the first half of the above: core/log.h through Qt's categories, Qt's
// message handler left as it is (tests install their own to read the lines).
void RouteLogThroughQt();

// True when stderr is the stream JOURNAL_STREAM names.
bool StderrIsJournalStream();

}  // namespace zorvak
