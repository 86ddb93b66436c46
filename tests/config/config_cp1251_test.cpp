#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "config/Cp1251.h"

using Bytes = std::vector<std::uint8_t>;

TEST(Cp1251Test, CyrillicAndSymbolsRoundTrip) {
    const std::string text = "Контроллер ЁёЇїҐґ № €…«»";
    const Bytes encoded = Utf8ToCp1251(text);
    ASSERT_EQ(encoded.size(), 24u);
    EXPECT_EQ(encoded[0], 0xCA);  // К
    EXPECT_EQ(Cp1251ToUtf8(encoded.data(), encoded.size()), text);

    // Every byte value decodes and encodes back to itself.
    Bytes all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all.data(), all.size())), all);
}

TEST(Cp1251Test, CharactersWithoutFormAndMalformedUtf8BecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a→b😀ß"), (Bytes{'a', '?', 'b', '?', '?'}));
    EXPECT_EQ(Utf8ToCp1251("\xFF"
                           "A"
                           "\xD0"),
              (Bytes{'?', 'A', '?'}));
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), (Bytes{'?', '?'}));           // overlong '/'
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), (Bytes{'?', '?', '?'}));  // surrogate
}

TEST(Cp1251Test, TheFirstCharacterWithoutFormIsNamed) {
    EXPECT_EQ(FirstUnencodable("Контроллер № 1 €?"), "");
    EXPECT_EQ(FirstUnencodable("a→b✓"), "\"→\" (U+2192) has no Windows-1251 form");
    EXPECT_EQ(FirstUnencodable("😀"), "\"😀\" (U+1F600) has no Windows-1251 form");
    EXPECT_EQ(FirstUnencodable("ok\xD0"), "the byte 0xD0 is not UTF-8");
    EXPECT_EQ(FirstUnencodable("\xED\xA0\x80"), "the byte 0xED is not UTF-8");
}

TEST(Cp1251Test, ReadStopsAtFirstZeroOrFieldEnd) {
    const std::array<std::uint8_t, 6> field = {'1', '2', 0, '9', '9', '9'};
    EXPECT_EQ(ReadTextField(field.data(), 4), "12");
    const std::array<std::uint8_t, 4> full = {0xC0, 0xC1, 0xC2, 0xC3};
    EXPECT_EQ(ReadTextField(full.data(), full.size()), "АБВГ");
}

TEST(Cp1251Test, ShorterTextGetsOneZeroAndLaterBytesKeepTheirValues) {
    std::array<std::uint8_t, 6> field = {'a', 'b', 'c', 'd', 0xEE, 0xEE};
    WriteTextField(field.data(), 4, "12");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'1', '2', 0, 'd', 0xEE, 0xEE}));

    WriteTextField(field.data(), 4, "");
    EXPECT_EQ(field[0], 0);
    EXPECT_EQ(field[1], '2');
}

TEST(Cp1251Test, FullOrLongerTextFillsFieldWithoutZeroAndNeverSpills) {
    std::array<std::uint8_t, 6> field = {0, 0, 0, 0, 0xEE, 0xEE};
    WriteTextField(field.data(), 4, "Дата");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{0xC4, 0xE0, 0xF2, 0xE0, 0xEE, 0xEE}));

    WriteTextField(field.data(), 4, "abcdefgh");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'a', 'b', 'c', 'd', 0xEE, 0xEE}));
    EXPECT_EQ(ReadTextField(field.data(), 4), "abcd");
}

TEST(Cp1251Test, LineBreakIsStoredAsGiven) {
    std::array<std::uint8_t, 8> field{};
    WriteTextField(field.data(), field.size(), "a\r\nб");
    EXPECT_EQ(field, (std::array<std::uint8_t, 8>{'a', 0x0D, 0x0A, 0xE1, 0, 0, 0, 0}));
}
