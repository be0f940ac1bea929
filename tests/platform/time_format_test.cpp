#include "platform/time_format.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvak {
namespace {

TEST(LongTimeFormat, WritesHourWithoutLeadingZero) {
    const std::pair<TimeOfDay, std::string> cases[] = {
        {{3, 0, 0}, "3:00:00"},    {{0, 0, 0}, "0:00:00"},   {{13, 5, 9}, "13:05:09"},
        {{23, 59, 59}, "23:59:59"}, {{9, 10, 11}, "9:10:11"},
    };
    for (const auto& [time, text] : cases) EXPECT_EQ(FormatLongTime(time), text);
}

TEST(LongTimeFormat, EverySecondOfTheDayRoundTrips) {
    for (int t = 0; t < 86400; ++t) {
        TimeOfDay time{t / 3600, t / 60 % 60, t % 60};
        ASSERT_EQ(ParseLongTime(FormatLongTime(time)), time) << FormatLongTime(time);
    }
}

TEST(LongTimeFormat, ReadsLeniently) {
    const std::pair<std::string, TimeOfDay> cases[] = {
        {"3:00:00", {3, 0, 0}},
        {"03:00:00", {3, 0, 0}},
        {"3:0:0", {3, 0, 0}},
        {"  3 : 04 : 05  ", {3, 4, 5}},
        {"3:04", {3, 4, 0}},
        {"17", {17, 0, 0}},
        {"3:04:05.678", {3, 4, 5}},
        {"3:04:05 PM", {15, 4, 5}},
        {"12:00:00 am", {0, 0, 0}},
        {"12:30 PM", {12, 30, 0}},
        {"PM 1:02:03", {13, 2, 3}},
        {"上午 11:59:59", {11, 59, 59}},
        {"下午3:00:00", {15, 0, 0}},
    };
    for (const auto& [text, time] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseLongTime(text), time);
    }
}

TEST(LongTimeFormat, RejectsWithTheConversionMessage) {
    const std::string bad[] = {"",        "   ",       "abc",      "24:00:00", "3:60:00",
                               "3:00:60", "3:00:00x",  "3::00",    ":30",      "-1:00:00",
                               "3:00:",   "13:00 PM",  "0:00 AM",  "3.00.00",  "3:00:00.1000",
                               "3:00:00 PM PM"};
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        try {
            ParseLongTime(text);
            ADD_FAILURE() << "accepted";
        } catch (const TimeFormatError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid time");
        }
    }
}

TEST(LongTimeFormat, ScanTimeUsesTheGivenSeparatorAndMarkers) {
    EXPECT_EQ(ScanTime("3.04.05", ".", "", ""), (TimeOfDay{3, 4, 5}));
    EXPECT_EQ(ScanTime("vorm. 3h04", "h", "vorm.", "nachm."), (TimeOfDay{3, 4, 0}));
    EXPECT_EQ(ScanTime("3h04 nachm.", "h", "vorm.", "nachm."), (TimeOfDay{15, 4, 0}));
    EXPECT_EQ(ScanTime("3:04", ".", "", ""), std::nullopt);
}

}  // namespace
}  // namespace zorvak
