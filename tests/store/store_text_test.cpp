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
