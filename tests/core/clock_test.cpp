#include "core/clock.h"

#include <gtest/gtest.h>

namespace zorvak {
namespace {

TEST(LocalDateTime, SortableTextRoundTripsAndOrders) {
    LocalDateTime a{2019, 5, 1, 8, 30, 0};
    LocalDateTime b{2019, 12, 31, 23, 59, 59};
    EXPECT_EQ(a.ToSortableText(), "2019-05-01 08:30:00");
    EXPECT_EQ(a.ToDisplayText(), "2019/05/01 08:30:00");
    EXPECT_EQ(LocalDateTime::FromSortableText(a.ToSortableText()), a);
    EXPECT_LT(a.ToSortableText(), b.ToSortableText());
    EXPECT_LT(a, b);
}

TEST(LocalDateTime, RejectsImpossibleDates) {
    for (const char* text : {"2019-02-29 00:00:00", "2020-13-01 00:00:00", "2020-01-01 24:00:00",
                             "2020-01-01", "garbage"}) {
        EXPECT_FALSE(LocalDateTime::FromSortableText(text).has_value()) << text;
    }
    EXPECT_TRUE(LocalDateTime::FromSortableText("2020-02-29 00:00:00").has_value());
}

}  // namespace
}  // namespace zorvak
