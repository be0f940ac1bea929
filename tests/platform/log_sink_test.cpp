// Where the log goes (platform/log_sink.h): standard error is the journal only
// when JOURNAL_STREAM names it.

#include "platform/log_sink.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace zorvak::test {
namespace {

TEST(JournalStreamTest, StderrIsTheJournalOnlyWhenJournalStreamNamesIt) {
    struct stat st {};
    ASSERT_EQ(::fstat(STDERR_FILENO, &st), 0);
    const char* saved = ::getenv("JOURNAL_STREAM");
    const std::string keep = saved ? saved : "";
    const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
    ::unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(StderrIsJournalStream());
    ::setenv("JOURNAL_STREAM", mine.c_str(), 1);
    EXPECT_TRUE(StderrIsJournalStream());
    ::setenv("JOURNAL_STREAM", other.c_str(), 1);
    EXPECT_FALSE(StderrIsJournalStream());
    ::setenv("JOURNAL_STREAM", "garbage", 1);
    EXPECT_FALSE(StderrIsJournalStream());
    if (saved) ::setenv("JOURNAL_STREAM", keep.c_str(), 1);
    else ::unsetenv("JOURNAL_STREAM");
}

}  // namespace
}  // namespace zorvak::test
