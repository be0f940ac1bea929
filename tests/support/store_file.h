#pragma once

// A second, independent look at a playlist store file: plain SQLite on a
// connection of its own, not the client's store code.

#include <string>
#include <vector>

namespace zorvak::test {

// Runs sql on the store file, read-only; every value as text, NULL as
// "<null>". A failure is a test failure (and no rows).
std::vector<std::vector<std::string>> Query(const std::string& storePath, const std::string& sql);

// Runs sql (any number of statements) on the store file; a failure is a
// fatal test failure.
void Execute(const std::string& storePath, const std::string& sql);

// Every row and column of t_b_data, by ID: the whole content of the table.
std::vector<std::vector<std::string>> TableDump(const std::string& storePath);

}  // namespace zorvak::test
