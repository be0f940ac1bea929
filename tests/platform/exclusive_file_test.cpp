#include "platform/exclusive_file.h"

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {
namespace {

TEST(ExclusiveFile, AppendsToWhatIsThereAndEmptiesOnRequest) {
    TempFolder folder;
    const std::string path = folder.File("part.tmp");
    std::ofstream(path, std::ios::binary) << "abc";

    auto file = ExclusiveFile::OpenForAppend(path, 4096);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 3u);
    ASSERT_TRUE(file->Append("defg", 4));
    EXPECT_EQ(file->Size(), 7u);  // buffered bytes count
    ASSERT_TRUE(file->Truncate());
    EXPECT_EQ(file->Size(), 0u);
    ASSERT_TRUE(file->Append("xy", 2));
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadFile(path), "xy");

    // A missing file is created empty.
    auto fresh = ExclusiveFile::OpenForAppend(folder.File("new.tmp"), 4096);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Size(), 0u);
    EXPECT_TRUE(std::filesystem::exists(folder.File("new.tmp")));
}

TEST(ExclusiveFile, NobodyElseOpensItWhileItIsHeld) {
    TempFolder folder;
    const std::string path = folder.File("part.tmp");
    {
        auto held = ExclusiveFile::OpenForAppend(path, 4096);
        ASSERT_NE(held, nullptr);
        // A second open in this process.
        EXPECT_EQ(ExclusiveFile::OpenForAppend(path, 4096), nullptr);
        // A lock through a descriptor of its own, as another program takes it.
        int fd = ::open(path.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
    // Released with the object.
    EXPECT_NE(ExclusiveFile::OpenForAppend(path, 4096), nullptr);

    // Held by another program first.
    int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ExclusiveFile::OpenForAppend(path, 4096), nullptr);
    ::close(fd);

    // Not a file that can be opened for writing.
    EXPECT_EQ(ExclusiveFile::OpenForAppend(folder.Path(), 4096), nullptr);
}

}  // namespace
}  // namespace zorvak::test
