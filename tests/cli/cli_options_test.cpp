// cli/Options: k350ctl's command line as the command table declares it.
#include <gmock/gmock.h>

#include "cli/CommandTable.h"
#include "cli/Options.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

struct Parsed {
    Options options;
    std::optional<std::string> error;
};

Parsed parse(const std::vector<std::string>& arguments) {
    Parsed parsed;
    parsed.error = ParseOptions(arguments, parsed.options);
    return parsed;
}

TEST(CliOptionsTest, CommonOptionsGoBeforeOrAfterTheCommand) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--json", "--board", "001/004", "read"},
                                               {"read", "--json", "--board=001/004"},
                                               {"--json", "read", "--board", "001/004"}}) {
        const Parsed parsed = parse(arguments);
        ASSERT_FALSE(parsed.error) << *parsed.error;
        EXPECT_EQ(parsed.options.command, "read");
        EXPECT_TRUE(parsed.options.json);
        EXPECT_EQ(parsed.options.board, "001/004");
    }
}

TEST(CliOptionsTest, EachCommandTakesItsOwnOptionsAndOperands) {
    Parsed read = parse({"read", "-o", "x.kcf"});
    EXPECT_EQ(read.options.output, "x.kcf");
    EXPECT_EQ(parse({"read", "--output=-"}).options.output, "-");

    Parsed stats = parse({"stats", "--period", "2.5", "--count", "0", "--reset"});
    ASSERT_FALSE(stats.error) << *stats.error;
    EXPECT_EQ(stats.options.period, 2.5);
    EXPECT_EQ(stats.options.count, 0);
    EXPECT_TRUE(stats.options.reset);

    Parsed trace = parse({"trace", "--channels", "bus-rx", "--duration", "0"});
    EXPECT_EQ(trace.options.channels, "bus-rx");
    EXPECT_THAT(trace.options.duration, Optional(0.0));

    Parsed diff = parse({"diff", "a.kcf", "--", "-b.kcf"});
    ASSERT_FALSE(diff.error) << *diff.error;
    EXPECT_THAT(diff.options.operands, ElementsAre("a.kcf", "-b.kcf"));
    EXPECT_THAT(parse({"show", "-"}).options.operands, ElementsAre("-"));
    EXPECT_TRUE(parse({"flash", "fw.rom", "--verify"}).options.verify);
    EXPECT_TRUE(parse({"write", "a.kcf", "--full"}).options.full);
}

TEST(CliOptionsTest, UsageErrorsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"list", "--bogus"}, "unknown option \"--bogus\""},
        {{"read", "--verify"}, "option --verify does not apply to read"},
        {{"read", "-o"}, "-o needs a value"},
        {{"read", "--output"}, "--output needs a value"},
        {{"list", "--json=1"}, "--json takes no value"},
        {{"stats", "--period", "0"}, "--period needs a number from 1 to 999, not \"0\""},
        {{"stats", "--count", "1.5"},
         "--count needs a whole number from 0 to 1000000000, not \"1.5\""},
        {{"trace", "--duration", "86401"},
         "--duration needs a number from 0 to 86400, not \"86401\""},
        {{"read", "--all", "--board", "001/001"}, "--board and --all exclude each other"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_THAT(parse(arguments).error, Optional(message))
            << ::testing::PrintToString(arguments);
    }
}

TEST(CliOptionsTest, ACommandsOptionBeforeTheCommandIsRefusedWithTheRemedy) {
    EXPECT_THAT(parse({"--period", "2", "stats"}).error,
                Optional(std::string("option --period does not apply to stats; give it after the "
                                     "command")));
}

TEST(CliOptionsTest, HelpAndVersionNeedNoCommand) {
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"-h"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
    const Parsed commandHelp = parse({"trace", "--help"});
    EXPECT_TRUE(commandHelp.options.help);
    EXPECT_EQ(commandHelp.options.command, "trace");
}

}  // namespace
