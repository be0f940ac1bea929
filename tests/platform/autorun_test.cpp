#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/platform_linux.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace zorvak {
namespace {

namespace fs = std::filesystem;

// Points HOME and XDG_CONFIG_HOME into a fresh temporary folder for the
// length of a test, so the real user's autostart folder is never touched.
class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "home");
        Save("HOME", savedHome_);
        Save("XDG_CONFIG_HOME", savedConfig_);
        ::setenv("HOME", (root_ / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    }
    void TearDown() override {
        Restore("HOME", savedHome_);
        Restore("XDG_CONFIG_HOME", savedConfig_);
    }

    static void Save(const char* name, std::optional<std::string>& slot) {
        const char* v = std::getenv(name);
        slot = v ? std::optional<std::string>(v) : std::nullopt;
    }
    static void Restore(const char* name, const std::optional<std::string>& slot) {
        if (slot) ::setenv(name, slot->c_str(), 1);
        else ::unsetenv(name);
    }
    static std::string Read(const fs::path& path) { return test::ReadFile(path).value_or(""); }
    static int FileCount(const fs::path& dir) {
        std::error_code ec;
        int n = 0;
        for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); ++it)
            ++n;
        return n;
    }

    test::TempFolder folder_;
    const fs::path root_ = folder_.path();
    std::optional<std::string> savedHome_, savedConfig_;
};

TEST_F(AutostartTest, WritesTheEntryAndCreatesItsFolders) {
    XdgAutoRun autoRun([] { return std::string("/opt/zorvak/zorvak-client"); });
    autoRun.RegisterAutoRun();
    fs::path entry = root_ / "config/autostart/zorvak-client.desktop";
    EXPECT_EQ(Read(entry),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Version=1.0\n"
              "Name=Telmora广告自动运行\n"
              "Exec=/opt/zorvak/zorvak-client\n"
              "Terminal=false\n"
              "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(FileCount(entry.parent_path()), 1);  // no temporary file left
    EXPECT_FALSE(fs::exists(root_ / "home/.config"));
}

TEST_F(AutostartTest, FallsBackToHomeConfig) {
    XdgAutoRun autoRun([] { return std::string("/usr/bin/zc"); });
    for (const char* config : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        SCOPED_TRACE(config ? config : "(unset)");
        if (config) ::setenv("XDG_CONFIG_HOME", config, 1);
        else ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(root_ / "home/.config");
        autoRun.RegisterAutoRun();
        EXPECT_NE(Read(root_ / "home/.config/autostart/zorvak-client.desktop")
                      .find("\nExec=/usr/bin/zc\n"),
                  std::string::npos);
    }
    EXPECT_FALSE(fs::exists(root_ / "config"));
}

TEST_F(AutostartTest, RewrittenAtEveryCall) {
    std::string exe = "/first/place/zorvak-client";
    XdgAutoRun autoRun([&] { return exe; });
    autoRun.RegisterAutoRun();
    fs::path entry = root_ / "config/autostart/zorvak-client.desktop";
    {
        std::ofstream edit(entry, std::ios::app);
        edit << "Hidden=true\n";
    }
    exe = "/moved/elsewhere/zorvak-client";
    autoRun.RegisterAutoRun();
    EXPECT_EQ(Read(entry),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Version=1.0\n"
              "Name=Telmora广告自动运行\n"
              "Exec=/moved/elsewhere/zorvak-client\n"
              "Terminal=false\n"
              "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(FileCount(entry.parent_path()), 1);
}

TEST_F(AutostartTest, ExecQuotesAndEscapesThePath) {
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/zorvak/client", "/opt/zorvak/client"},
        {"/opt/广告/client", "/opt/广告/client"},
        {"/opt/my apps/client", "\"/opt/my apps/client\""},
        {"/opt/a'b/c", "\"/opt/a'b/c\""},
        {"/opt/a;b/(c)", "\"/opt/a;b/(c)\""},
        // Inside quotes " ` $ \ take a backslash; the key file then doubles
        // every backslash.
        {"/opt/say \"hi\"/c", "\"/opt/say \\\\\"hi\\\\\"/c\""},
        {"/opt/$HOME/c", "\"/opt/\\\\$HOME/c\""},
        {"/opt/a`b`/c", "\"/opt/a\\\\`b\\\\`/c\""},
        {"/opt/a\\b/c", "\"/opt/a\\\\\\\\b/c\""},
        // Field codes: a literal percent is doubled, quoted or not.
        {"/opt/100%/c", "/opt/100%%/c"},
        {"/opt/100 %/c", "\"/opt/100 %%/c\""},
        {"/opt/tab\there", "\"/opt/tab\\there\""},
    };
    for (const auto& [path, exec] : cases) EXPECT_EQ(XdgAutoRun::ExecValue(path), exec) << path;

    XdgAutoRun autoRun([] { return std::string("/opt/my apps/zorvak client"); });
    autoRun.RegisterAutoRun();
    EXPECT_NE(Read(root_ / "config/autostart/zorvak-client.desktop")
                  .find("\nExec=\"/opt/my apps/zorvak client\"\n"),
              std::string::npos);
}

TEST_F(AutostartTest, FailuresAreSilent) {
    // The configuration folder lies under a plain file: it cannot be made.
    { std::ofstream(root_ / "plain-file") << "x"; }
    ::setenv("XDG_CONFIG_HOME", (root_ / "plain-file/config").c_str(), 1);
    XdgAutoRun autoRun([] { return std::string("/opt/zorvak/client"); });
    EXPECT_NO_THROW(autoRun.RegisterAutoRun());

    // The entry's name is taken by a folder: the rename fails, nothing stays
    // behind.
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    fs::create_directories(root_ / "config/autostart/zorvak-client.desktop/inside");
    EXPECT_NO_THROW(autoRun.RegisterAutoRun());
    EXPECT_TRUE(fs::is_directory(root_ / "config/autostart/zorvak-client.desktop"));
    EXPECT_EQ(FileCount(root_ / "config/autostart"), 1);

    // No executable path, or no folder to write to: nothing written.
    fs::remove_all(root_ / "config");
    XdgAutoRun noPath([] { return std::string(); });
    noPath.RegisterAutoRun();
    EXPECT_FALSE(fs::exists(root_ / "config"));
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(XdgAutoRun::AutostartFolder(), "");
    EXPECT_NO_THROW(autoRun.RegisterAutoRun());

    // Throwing path source: swallowed.
    XdgAutoRun throwing([]() -> std::string { throw std::runtime_error("no path"); });
    EXPECT_NO_THROW(throwing.RegisterAutoRun());
}

}  // namespace
}  // namespace zorvak
