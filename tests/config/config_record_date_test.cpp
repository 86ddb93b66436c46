// The date of the board information block: the one form it is stored in and the forms it is
// read from.
#include <gtest/gtest.h>

#include "config/RecordDate.h"

TEST(RecordDateTest, StoredWithTwoDigitDayAndMonth) {
    EXPECT_EQ(FormatRecordDate({15, 3, 2025}), "15.03.2025");
    EXPECT_EQ(FormatRecordDate({1, 2, 2024}), "01.02.2024");
}

TEST(RecordDateTest, ReadWithOneOrTwoDigitsAndOnlyForRealDays) {
    EXPECT_EQ(ParseRecordDate("15.03.2025"), (RecordDate{15, 3, 2025}));
    EXPECT_EQ(ParseRecordDate("1.2.2024"), (RecordDate{1, 2, 2024}));
    EXPECT_EQ(ParseRecordDate("29.02.2024"), (RecordDate{29, 2, 2024}));
    for (const char* bad : {"29.02.2023", "31.04.2025", "0.1.2025", "1.13.2025", "15.03.25",
                            "15/03/2025", " 15.03.2025", "15.03.2025 ", "15.03.20251", "",
                            "3/15/25", "15 Mar 2025", "123.1.2025", "01.01.0000"}) {
        EXPECT_FALSE(ParseRecordDate(bad).has_value()) << bad;
    }
}
