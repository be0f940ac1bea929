#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace zorvak {

// A file open for appending that nobody else can open while it is held: on
// Linux an exclusive flock(2) (which also refuses a second open of the same
// file in this process), on Windows a deny-all share mode. Appends are
// buffered; Close() writes them out.
class ExclusiveFile {
public:
    // Opens path (UTF-8) for appending, creating it empty when missing, with a
    // write buffer of bufferSize bytes. nullptr when it cannot be opened or
    // created, or when it is held already.
    static std::unique_ptr<ExclusiveFile> OpenForAppend(const std::string& path,
                                                        std::size_t bufferSize);

    // Closes the file (if Close() has not), dropping a failure to write.
    ~ExclusiveFile();
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // Bytes in the file, appends still in the buffer included; 0 when unknown.
    std::uint64_t Size();
    // False when the data could not be taken.
    bool Append(const char* data, std::size_t length);
    // Empties the file; later appends start at offset 0.
    bool Truncate();
    // Writes out what is buffered and closes; false when the data could not be
    // written. The file is closed either way; only the destructor may follow.
    bool Close();

private:
    explicit ExclusiveFile(std::FILE* file) : file_(file) {}

    std::FILE* file_;
};

}  // namespace zorvak
