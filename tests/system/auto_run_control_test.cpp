#include "system/auto_run_control.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace zorvak {
namespace {

class CountingAutoRun final : public AutoRun {
public:
    void RegisterAutoRun() override { ++calls; }
    int calls = 0;
};

TEST(AutoRunControl, CheckBoxWritesNoAutoRunWithTheOppositeSense) {
    CountingAutoRun autoRun;
    std::vector<std::pair<std::string, std::string>> writes;
    bool ticked = true;
    AutoRunControl control(
        autoRun, [&](const std::string& k, const std::string& v) { writes.emplace_back(k, v); },
        [&] { return ticked; });
    control.StoreAutoPlay();
    ticked = false;
    control.StoreAutoPlay();
    using W = std::pair<std::string, std::string>;
    EXPECT_EQ(writes, (std::vector<W>{{"noautorun", "0"}, {"noautorun", "1"}}));
    EXPECT_EQ(autoRun.calls, 0);  // the check box leaves the registration alone

    control.RegisterAutoRun();
    EXPECT_EQ(autoRun.calls, 1);
    EXPECT_EQ(writes.size(), 2u);
}

TEST(AutoRunControl, AutoPlayOnOnlyForExactlyZero) {
    const std::pair<std::string, bool> cases[] = {
        {"0", true}, {"1", false}, {"yes", false}, {" 0", false}, {"", false}};
    for (const auto& [stored, on] : cases) {
        SettingReader read = [&](const std::string& key) {
            EXPECT_EQ(key, "noautorun");
            return stored;
        };
        EXPECT_EQ(ReadAutoPlayOn(read), on) << stored;
    }
}

}  // namespace
}  // namespace zorvak
