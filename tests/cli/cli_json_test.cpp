// cli/Json: one object per line, keys in the order they were added, numbers kept as written.
#include <gmock/gmock.h>

#include "store/Json.h"

namespace {

TEST(CliJsonTest, ObjectsKeepTheirKeyOrder) {
    Json object = {{"zeta", 1}, {"alpha", true}, {"mid", nullptr}};
    object["added"] = "last";
    EXPECT_EQ(JsonText(object), R"({"zeta":1,"alpha":true,"mid":null,"added":"last"})");
}

TEST(CliJsonTest, StringsAreEscapedAndStayOnOneLine) {
    const std::string text = "quote \" backslash \\ newline \n tab \t cr \r bell \x07";
    EXPECT_EQ(JsonText({{"s", text}}),
              R"({"s":"quote \" backslash \\ newline \n tab \t cr \r bell \u0007"})");
    EXPECT_EQ(JsonText({{"s", "Контроллер"}}), "{\"s\":\"Контроллер\"}");
}

TEST(CliJsonTest, BytesThatAreNotUtf8BecomeTheReplacementCharacter) {
    EXPECT_EQ(JsonText({{"file", std::string("a\xFF.kcf")}}), "{\"file\":\"a\xEF\xBF\xBD.kcf\"}");
}

TEST(CliJsonTest, NumbersGivenAsTextKeepTheirDecimals) {
    Json object = {{"percent", JsonNumberText("12.5000")}, {"missing", JsonNumberText("null")}};
    object["nested"] = Json::array({JsonNumberText("0.00")});
    EXPECT_EQ(JsonText(object), R"({"percent":12.5000,"missing":null,"nested":[0.00]})");
}

TEST(CliJsonTest, AStringLookingLikeTheNumberMarkIsLeftAsAString) {
    const std::string lookalike = R"({"bytes":[49],"subtype":null})";
    EXPECT_EQ(JsonText({{"s", lookalike}}), R"({"s":"{\"bytes\":[49],\"subtype\":null}"})");
}

}  // namespace
