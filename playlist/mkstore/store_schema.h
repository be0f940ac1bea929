#pragma once

#include <string>

namespace zorvak {

// The SQL text of playlist/schema.sql, built into the program.
const char* PlaylistStoreSchema();

// Creates an empty playlist store (the table t_b_data, no rows) at path,
// replacing a file of that name. The database is built under a temporary name
// beside it and renamed into place when complete. Returns "" on success, else
// a one-line reason. Used by the build (zorvak-mkstore), the tests and the
// benchmarks; the client itself never creates its store.
std::string CreateEmptyStore(const std::string& path);

}  // namespace zorvak
