#pragma once

#include <string>

#include "core/clock.h"

namespace zorvak {

// True for the SQLite result codes (primary or extended) that say a file is
// damaged or is not an SQLite database at all: SQLITE_CORRUPT and
// SQLITE_NOTADB. Every other failure (busy, locked, no permission, cannot
// open, I/O error) is not damage: such a file is never moved aside.
bool IsDamagedDatabaseCode(int rc);

// The name a damaged file is moved aside to: path + ".damaged-" + now as
// yyyyMMdd-HHmmss, e.g. "tmpdb.mdb.damaged-20260501-120000".
std::string DamagedFileName(const std::string& path, const LocalDateTime& now);

// Moves the damaged database file at path aside to DamagedFileName(path,
// now) (with "-2", "-3", ... appended when that name is taken), together with
// its companions "-journal", "-wal" and "-shm", each renamed to the aside
// name followed by the same suffix, so that a rollback journal or write-ahead
// log is never applied to a new file under path. The companions go first and
// the main file last. Returns the aside name of the main file, or "" when a
// rename failed (why says which; what was moved stays moved, the main file
// stays where it was unless its own rename succeeded).
std::string MoveDamagedAside(const std::string& path, const LocalDateTime& now, std::string& why);

}  // namespace zorvak
