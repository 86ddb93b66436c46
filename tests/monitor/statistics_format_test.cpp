// Display forms of the statistics words, in the Russian locale.
#include <gtest/gtest.h>

#include <QLocale>

#include "monitor/StatisticsFormat.h"
#include "tests/support/TestLocales.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

using namespace StatisticsFormat;

QString grouped(std::initializer_list<const char*> groups) {
    QStringList parts;
    for (const char* group : groups) parts << QString::fromLatin1(group);
    return parts.join(QLocale().groupSeparator());
}

TEST(StatisticsFormat, PlainIntegerIsSignedWithoutGrouping) {
    EXPECT_EQ(PlainInteger(0xFFFFFFFFu), "-1");
    EXPECT_EQ(PlainInteger(0x80000000u), "-2147483648");
    EXPECT_EQ(PlainInteger(1234567), "1234567");
}

TEST(StatisticsFormat, CountIsUnsignedWithTheLocalesGrouping) {
    EXPECT_EQ(Count(0xFFFFFFFFu), grouped({"4", "294", "967", "295"}));
    EXPECT_EQ(QLocale().groupSeparator(), QString(QChar(0x00A0)));
    EXPECT_EQ(Count(999), "999");
    EXPECT_EQ(Count(8000), grouped({"8", "000"}));
    EXPECT_EQ(Count(0), "0");
}

TEST(StatisticsFormat, PercentageOfTheFractionWithSixSignificantDigits) {
    EXPECT_EQ(Percentage(0), "0,0000 %");
    // 123.45671...: six significant digits leave 123.457.
    EXPECT_EQ(Percentage(2651212660u), "123,4570 %");
    EXPECT_EQ(Percentage(0xFFFFFFFFu), "200,0000 %");
}

TEST(StatisticsFormat, MillisecondsWithEightSignificantDigits) {
    // 12345.685333...: eight significant digits leave 12345.685.
    EXPECT_EQ(Milliseconds(578704), "12345,6850 мсек");
    EXPECT_EQ(Milliseconds(0xFFFFFFFFu), "91625969,0000 мсек");
}

TEST(StatisticsFormat, LoadWithFourSignificantDigits) {
    EXPECT_EQ(Load(1234), "2,63");
    EXPECT_EQ(Load(46875), "100,00");
    EXPECT_EQ(Load(0xFFFFFFFFu), "9163000,00");  // fixed notation even beyond four digits
}

TEST(StatisticsFormat, FollowsTheDefaultLocale) {
    const QLocale russian;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString english = Percentage(1u << 30) + "|" + Count(1234567);
    QLocale::setDefault(russian);
    EXPECT_EQ(english, "50.0000 %|1,234,567");
}

}  // namespace
