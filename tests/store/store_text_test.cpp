// A store's messages on one line and without a password, whatever form the location takes.
#include <gtest/gtest.h>

#include "store/StoreText.h"

TEST(StoreText, EveryFormOfPasswordInALocationIsMasked) {
    for (const auto& [location, shown] : std::vector<std::pair<std::string, std::string>>{
             {"postgresql://line:pw@db/k350", "postgresql://line:***@db/k350"},
             {"postgres://line:p%40w@db:5432/k350", "postgres://line:***@db:5432/k350"},
             {"postgresql://db/k350?user=line&password=pw&sslmode=require",
              "postgresql://db/k350?user=line&password=***&sslmode=require"},
             {"postgresql://db/k350?PassWord=pw", "postgresql://db/k350?PassWord=***"},
             {"postgresql://db/k350?pass%77ord=pw", "postgresql://db/k350?pass%77ord=***"},
             {"postgresql://db/k350?password=50%zz", "postgresql://db/k350?password=***"},
             // Malformed: two `@`, a bare `%`, no host at all.
             {"postgresql://line:p@ss@db/k350", "postgresql://line:***@db/k350"},
             {"postgresql://line:100%@", "postgresql://line:***@"},
             {"postgresql:///k350?host=/run/pg&user=line",
              "postgresql:///k350?host=/run/pg&user=line"},
             {"k350-line.sqlite", "k350-line.sqlite"},
         }) {
        EXPECT_EQ(ShownLocation(location), shown) << location;
    }
}

TEST(StoreText, AMessageQuotingTheLocationOrItsPasswordIsMasked) {
    const std::string location = "postgresql://line:p%zzw@db/k350?password=two%41";
    const std::string message = "store " + location +
                                " cannot be reached: invalid percent-encoded token: \"p%zzw\"\n"
                                "also \"twoA\" and password = 'x y' host=db\n";
    const std::string shown = StoreMessage(message, location);
    for (const char* secret : {"p%zzw", "two%41", "twoA", "x y"}) {
        EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
    }
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    EXPECT_NE(shown.find("postgresql://line:***@db/k350?password=***"), std::string::npos) << shown;
    EXPECT_NE(shown.find("host=db"), std::string::npos);
}

// A malformed URL whose host part looks like a password ("t" of "u:t@h@db") must not break up
// the real password where the message repeats it: no part of it is shown.
TEST(StoreText, APasswordHoldingAnotherSecretIsMaskedWhole) {
    const std::string location = "postgresql://u:t@h@db/k350?password=itstime";
    EXPECT_EQ(StoreMessage("login refused: \"itstime\"", location), "login refused: \"***\"");
}

TEST(StoreText, MultiLineMessagesBecomeOneLine) {
    EXPECT_EQ(OneLine("server closed the connection unexpectedly\n\tThis probably means the "
                      "server terminated abnormally\n\tbefore or while processing the request.\n"),
              "server closed the connection unexpectedly This probably means the server "
              "terminated abnormally before or while processing the request.");
    EXPECT_EQ(OneLine("FATAL:  the database system is shutting down\r\n"),
              "FATAL:  the database system is shutting down");
    EXPECT_EQ(OneLine("\n\n"), "");
}

// An `@` after a `:` in a later parameter once made the user information seem to reach past the
// `password=` before them, and the password was shown.
TEST(StoreText, APasswordBeforeAnAtInALaterParameterIsMasked) {
    EXPECT_EQ(ShownLocation("postgresql://db/k350?password=pw&application_name=line:2@hall"),
              "postgresql://db/k350?password=***&application_name=line:***@hall");
    EXPECT_EQ(ShownLocation("postgresql://u:x&password=y@db/k350"), "postgresql://u:***@db/k350");
}

// A password parameter inside what seems the user information is masked where a message quotes
// it, as any other.
TEST(StoreText, APasswordParameterInsideTheUserInformationIsMaskedInMessages) {
    const std::string location = "postgresql://db/k350?a=b:c&password=pw1&d=e@f";
    EXPECT_EQ(StoreMessage("bad password \"pw1\"", location), "bad password \"***\"");
}

// An unclosed quote in one parameter's value once hid every later `password=` from the mask.
TEST(StoreText, APasswordAfterAnUnclosedQuoteIsMasked) {
    EXPECT_EQ(ShownLocation("postgresql://u:a@h?password='x@y&PassWord=pw"),
              "postgresql://u:***@y&PassWord=***");
}

// Whatever a stored text holds, printed it stays on its line and moves no cursor; a byte that
// is not UTF-8 is shown, not passed to the terminal.
TEST(StoreText, EscapedLinesHoldNoControlAndNoBrokenCharacter) {
    EXPECT_EQ(EscapedLine("bench\x1b[31m-1\n\tx\\y\x7F\xC2\x9B"),
              "bench\\x1B[31m-1\\n\\tx\\\\y\\x7F\\x9B");
    EXPECT_EQ(EscapedLine("b\xE1nch"), "b\\xE1nch");  // cp1251 "б"
    EXPECT_EQ(EscapedLine("стенд-1 \xE2\x82\xAC"), "стенд-1 \xE2\x82\xAC");
    EXPECT_EQ(EscapedLine("\xC0\xAF\xED\xA0\x80"),
              "\\xC0\\xAF\\xED\\xA0\\x80");  // overlong, surrogate
    EXPECT_EQ(Quoted(std::string("a\0b\xFF", 4)), "\"a\\x00b\\xFF\"");
    EXPECT_EQ(Quoted(std::string(59, 'x') + "я"), "\"" + std::string(59, 'x') + "я\"");
}

// A spreadsheet runs a field that begins with =, +, -, @, a tab or a CR; a plain number it reads
// as that number.
TEST(StoreText, CsvFieldsAreNeverFormulas) {
    for (const auto& [text, field] : std::vector<std::pair<std::string, std::string>>{
             {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
             {"+1+cmd|' /C calc'!A0", "'+1+cmd|' /C calc'!A0"},
             {"-2+3", "'-2+3"},
             {"@SUM(A1:A9)", "'@SUM(A1:A9)"},
             {"\t=1", "'\t=1"},
             {"\r=1", "\"'\r=1\""},
             {"-", "'-"},
             {"-12.5", "-12.5"},
             {"+3", "+3"},
             {"-1e-3", "-1e-3"},
             {"0.2500", "0.2500"},
             {"bench-1", "bench-1"},
             {"a,b", "\"a,b\""},
             {"", ""},
         }) {
        EXPECT_EQ(CsvField(text), field) << text;
    }
}

TEST(StoreText, StorableTextAndNames) {
    EXPECT_EQ(StorableText(std::string("ok\0\xFF\xC3", 5)),
              "ok\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(StorableText("стенд"), "стенд");
    EXPECT_EQ(NameProblem("стенд-1", 64), "");
    EXPECT_EQ(NameProblem("\xF1\xF2\xE5\xED\xE4", 64),  // "стенд" in cp1251
              "is not UTF-8: \\xF1 at byte 1 (a file saved in another encoding, such as cp1251?); "
              "write it in UTF-8");
    EXPECT_EQ(NameProblem("bench\x1b[2J", 64), "holds a control character: \\x1B at byte 6");
    EXPECT_EQ(NameProblem(std::string("a\0b", 3), 64),
              "holds a control character: \\x00 at byte 2");
    EXPECT_EQ(NameProblem("a\xC2\x85", 64), "holds a control character: \\x85 at byte 2");
    EXPECT_EQ(NameProblem(std::string(64, 'x'), 64), "");
    EXPECT_EQ(NameProblem(std::string(33, 'x') + std::string(31, 'y') + "я", 64),
              "has 65 characters; at most 64 are kept");
}
