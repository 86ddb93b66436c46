// The station's smaller parts: the recipe file, the port path from sysfs, the SHA-256 the record
// keeps, and the history report's forms.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli/Options.h"
#include "config/Sha256.h"
#include "link/PortPath.h"
#include "report/HistoryReport.h"
#include "station/StationRecipe.h"
#include "station/StationView.h"
#include "tests/support/RecipeText.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class Folder : public ::testing::Test {
protected:
    TemporaryFolder folder{"k350-parts"};
    std::string write(const std::string& name, const std::string& text) {
        return WrittenFile(folder, name, text);
    }
    std::string refusal(const std::string& text) { return RecipeRefusal(folder, text); }
    std::string path = folder.path();
};

using RecipeTest = Folder;

TEST_F(RecipeTest, ReadsEverySectionWithPathsBesideTheRecipe) {
    const std::string file = write("line/k350a.toml", R"(
name = "K-350A line 2"
store = "postgresql://line@db/k350"
[firmware]
image = "fw/k350a.rom"
verify = true
poll = true
[configuration]
reference = "/srv/k350a.kcf"
description = "K-350A {serial}"
[soak]
seconds = 60
max_erroneous_percent = 0.1
max_jitter_ms = 20
[station]
reprocess_passed = true
)");
    const StationSettings recipe = LoadStationRecipe(file);
    EXPECT_EQ(recipe.recipe, "K-350A line 2");
    EXPECT_EQ(recipe.store, "postgresql://line@db/k350");
    EXPECT_EQ(recipe.imagePath, path + "/line/fw/k350a.rom");
    EXPECT_TRUE(recipe.verify);
    EXPECT_TRUE(recipe.pollFlash);
    EXPECT_EQ(recipe.referencePath, "/srv/k350a.kcf");
    EXPECT_EQ(recipe.descriptionTemplate, "K-350A {serial}");
    EXPECT_EQ(recipe.soak.seconds, 60);
    EXPECT_EQ(recipe.soak.maxErroneousPercent, 0.1);
    EXPECT_FALSE(recipe.soak.maxLostPercent.has_value());
    EXPECT_EQ(recipe.soak.maxJitterMs, 20);
    EXPECT_TRUE(recipe.reprocessPassed);

    const StationSettings bare =
        LoadStationRecipe(write("bare.toml", "[firmware]\nimage = 'a.rom'\n"));
    EXPECT_EQ(bare.recipe, "bare.toml");
    EXPECT_TRUE(bare.store.empty());
    EXPECT_FALSE(bare.verify);
}

// Each station option changes its own setting over the recipe's; what no option gives stays the
// recipe's, and a flag only turns its setting on.
TEST_F(RecipeTest, EachOptionReplacesItsSettingOverTheRecipes) {
    const std::string file = write("k350a.toml", R"(
name = "K-350A line 2"
[firmware]
image = "a.rom"
verify = true
[soak]
seconds = 60
max_lost_percent = 0.5
[hooks]
on_fail = "logger failed"
)");
    Options options;
    ASSERT_FALSE(ParseOptions({"station",
                               "--recipe",
                               file,
                               "--image",
                               "b.rom",
                               "--poll",
                               "--reference",
                               "r.kcf",
                               "--description",
                               "D {serial}",
                               "--soak",
                               "2",
                               "--max-erroneous",
                               "1",
                               "--max-jitter",
                               "3",
                               "--store",
                               "s.sqlite",
                               "--store-retry",
                               "4",
                               "--reprocess",
                               "--alert-failures",
                               "5",
                               "--alert-of",
                               "6",
                               "--on-pass",
                               "lp",
                               "--hook-timeout",
                               "7",
                               "--boards",
                               "8"},
                              options));
    const StationSettings settings = LoadStationSettings(options.recipe, options.station);
    EXPECT_EQ(settings.recipe, "K-350A line 2");
    EXPECT_EQ(settings.imagePath, "b.rom");
    EXPECT_TRUE(settings.verify);
    EXPECT_TRUE(settings.pollFlash);
    EXPECT_EQ(settings.referencePath, "r.kcf");
    EXPECT_EQ(settings.descriptionTemplate, "D {serial}");
    EXPECT_EQ(settings.soak.seconds, 2);
    EXPECT_EQ(settings.soak.maxErroneousPercent, 1);
    EXPECT_EQ(settings.soak.maxLostPercent, 0.5);
    EXPECT_EQ(settings.soak.maxJitterMs, 3);
    EXPECT_EQ(settings.store, "s.sqlite");
    EXPECT_EQ(settings.storeRetrySeconds, 4);
    EXPECT_TRUE(settings.reprocessPassed);
    EXPECT_EQ(settings.alert.failures, 5);
    EXPECT_EQ(settings.alert.of, 6);
    EXPECT_EQ(settings.hooks.onPass, "lp");
    EXPECT_EQ(settings.hooks.onFail, "logger failed");
    EXPECT_EQ(settings.hooks.timeoutSeconds, 7);
    EXPECT_EQ(options.boards, 8);

    const StationSettings bare = LoadStationSettings(std::nullopt, {});
    EXPECT_EQ(bare.recipe, "command line");
    EXPECT_EQ(bare.store, kDefaultStore);
    EXPECT_FALSE(bare.verify);
}

TEST_F(RecipeTest, MistakesAreRefusedWithWhereTheyAre) {
    EXPECT_NE(refusal("[soak]\nmax_jiter_ms = 3\n").find("unknown key soak.max_jiter_ms"),
              std::string::npos);
    EXPECT_NE(refusal("[firmware]\nverify = 'yes'\n").find("true or false"), std::string::npos);
    EXPECT_NE(refusal("[soak]\nseconds = -1\n").find("from 0 to 86400"), std::string::npos);
    EXPECT_NE(refusal("name = \n").find("recipe.toml:1:"), std::string::npos);
    EXPECT_NE(refusal("firmware = 3\n").find("must be a table"), std::string::npos);
    EXPECT_THROW(LoadStationRecipe(path + "/missing.toml"), RecipeError);
    EXPECT_THROW(BuildStationJob(StationSettings{}), RecipeError);  // nothing to do
    StationSettings tooLong;
    tooLong.soak.seconds = 1;
    tooLong.descriptionTemplate =
        std::string(40, 'x') + " {serial} {die}";  // 40 + 1 + 4 + 1 + 18 = 64
    EXPECT_NO_THROW(BuildStationJob(tooLong));
    tooLong.descriptionTemplate += "!";
    EXPECT_THROW(BuildStationJob(tooLong), RecipeError);
    tooLong.descriptionTemplate = std::string(44, 'x') + "{serial}{die}";
    try {
        BuildStationJob(tooLong);
    } catch (const RecipeError& error) {
        EXPECT_NE(std::string(error.what())
                      .find("with a serial and a die ID: takes 66 characters; the field holds 64"),
                  std::string::npos);
    }
    StationSettings missingImage;
    missingImage.imagePath = path + "/none.rom";
    EXPECT_THROW(BuildStationJob(missingImage), RecipeError);
}

// Letters beyond ASCII (Cyrillic, Latin-1, CJK) once reached a path of the TOML reader that it
// declared unreachable; the sanitizer builds stop there.
TEST_F(RecipeTest, NamesInAnyAlphabetAreReadAsWritten) {
    const StationSettings recipe = LoadedRecipe(folder, R"(
name = "Линия 2, café ライン"
[configuration]
description = "Плата {serial}"
)");
    EXPECT_EQ(recipe.recipe, "Линия 2, café ライン");
    EXPECT_EQ(recipe.descriptionTemplate, "Плата {serial}");
}

// A number is finite and within what the same option takes; a text is one the record can hold.
TEST_F(RecipeTest, ValuesOutsideTheirRangeAndTextsWithoutWindows1251FormAreRefused) {
    EXPECT_EQ(refusal("[soak]\nseconds = inf\n"),
              "soak.seconds needs a number from 0 to 86400, not inf");
    EXPECT_EQ(refusal("[soak]\nseconds = nan\n"),
              "soak.seconds needs a number from 0 to 86400, not nan");
    EXPECT_EQ(refusal("[soak]\nseconds = 4294967.5\n"),
              "soak.seconds needs a number from 0 to 86400, not 4294967.5");
    EXPECT_EQ(refusal("[soak]\nseconds = -0.5\n"),
              "soak.seconds needs a number from 0 to 86400, not -0.5");
    EXPECT_EQ(refusal("[soak]\nmax_jitter_ms = nan\n"),
              "soak.max_jitter_ms needs a number from 0 to 1000000, not nan");
    EXPECT_EQ(refusal("[soak]\nmax_lost_percent = 100.5\n"),
              "soak.max_lost_percent needs a number from 0 to 100, not 100.5");
    EXPECT_EQ(refusal("[soak]\nmax_erroneous_percent = -inf\n"),
              "soak.max_erroneous_percent needs a number from 0 to 100, not -inf");
    EXPECT_EQ(refusal("[soak]\nseconds = 86400\nmax_lost_percent = 100\nmax_jitter_ms = 0\n"), "");
    EXPECT_EQ(refusal("[station]\nmax_run_seconds = inf\n"),
              "station.max_run_seconds needs a number from 0 to 87000, not inf");
    EXPECT_EQ(
        *LoadStationRecipe(write("run.toml", "[station]\nmax_run_seconds = 900\n")).maxRunSeconds,
        900);

    StationSettings recipe;
    recipe.soak.seconds = 1;
    for (const char* description : {"Проверено ✓ {serial}", "K-350 中", "bad \xFF byte"}) {
        recipe.descriptionTemplate = description;
        try {
            BuildStationJob(recipe);
            ADD_FAILURE() << description;
        } catch (const RecipeError& error) {
            EXPECT_TRUE(std::string(error.what()).find("has no Windows-1251 form") !=
                            std::string::npos ||
                        std::string(error.what()).find("is not UTF-8") != std::string::npos);
        }
    }
    recipe.descriptionTemplate = "Проверено ✓";
    EXPECT_THROW(BuildStationJob(recipe), RecipeError);
    try {
        BuildStationJob(recipe);
    } catch (const RecipeError& error) {
        EXPECT_STREQ(error.what(),
                     "the description \"Проверено ✓\": \"✓\" (U+2713) has no Windows-1251 form");
    }
    recipe.descriptionTemplate = "Линия № 2 «{serial}» {die}";
    EXPECT_NO_THROW(BuildStationJob(recipe));
    EXPECT_EQ(ExpandedDescription("{serial}\n{die}", "A0Z9", "0x01"), "A0Z9\r\n0x01");
    EXPECT_EQ(DescriptionProblem("ok ✓"), "\"✓\" (U+2713) has no Windows-1251 form");
}

TEST_F(RecipeTest, TheSerialSectionChoosesTheFormAndTheLinesRange) {
    const auto plan = [&](const std::string& text) {
        return LoadStationRecipe(write("serial.toml", text)).serials;
    };
    const SerialPlan standard = plan("");
    EXPECT_EQ(standard.form, SerialForm::Decimal);
    EXPECT_EQ(standard.first, 1);
    EXPECT_EQ(standard.last, 9999);
    const SerialPlan alphanumeric = plan("[serial]\nform = 'alphanumeric'\nfirst = 'a000'\n");
    EXPECT_EQ(alphanumeric.form, SerialForm::Alphanumeric);
    EXPECT_EQ(SerialText(alphanumeric.first, SerialForm::Alphanumeric), "A000");
    EXPECT_EQ(SerialText(alphanumeric.last, SerialForm::Alphanumeric), "ZZZZ");
    EXPECT_EQ(plan("[serial]\nfirst = '5000'\nlast = '5999'\n").last, 5999);

    EXPECT_EQ(refusal("[serial]\nform = 'hex'\n"),
              "serial.form must be \"decimal\" or \"alphanumeric\"");
    EXPECT_EQ(refusal("[serial]\nfirst = 'A000'\n"),
              "serial.first \"A000\" is no decimal serial: 4 characters from 0001 to 9999");
    EXPECT_EQ(refusal("[serial]\nform = 'alphanumeric'\nlast = '0000'\n"),
              "serial.last \"0000\" is no alphanumeric serial: 4 characters from 0001 to ZZZZ");
    EXPECT_NE(refusal("[serial]\nfirst = '12'\n"), "");
    EXPECT_NE(refusal("[serial]\nfirst = 12\n").find("must be a text"), std::string::npos);
    EXPECT_EQ(refusal("[serial]\nfirst = '0010'\nlast = '0009'\n"),
              "serial.first 0010 comes after serial.last 0009");
    EXPECT_NE(refusal("[serial]\nstart = '0010'\n").find("unknown key serial.start"),
              std::string::npos);
}

using PortPathTest = Folder;

TEST_F(PortPathTest, TheDeviceFolderWithTheLocationsNumbersNamesThePort) {
    const auto device = [&](const std::string& name, int bus, int number) {
        write("bus/usb/devices/" + name + "/busnum", std::to_string(bus) + "\n");
        write("bus/usb/devices/" + name + "/devnum", std::to_string(number) + "\n");
    };
    device("usb1", 1, 1);
    device("1-1", 1, 2);
    device("1-1.3", 1, 7);
    device("2-4", 2, 7);
    write("bus/usb/devices/1-1.3:1.0/bInterfaceNumber", "00\n");
    EXPECT_EQ(SysfsPortPath({"001", "007"}, path), "1-1.3");
    EXPECT_EQ(SysfsPortPath({"002", "007"}, path), "2-4");
    EXPECT_EQ(SysfsPortPath({"001", "001"}, path), "");  // the root hub has no port
    EXPECT_EQ(SysfsPortPath({"003", "007"}, path), "");
    EXPECT_EQ(SysfsPortPath({"x", "y"}, path), "");
    EXPECT_EQ(SysfsPortPath({"001", "007"}, path + "/none"), "");
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex({'a', 'b', 'c'}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(std::vector<std::uint8_t>(text.begin(), text.end())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(HistoryReport, TheThreeFormsCarryEveryFieldAndQuoteWhatCsvNeeds) {
    RunRecord run;
    run.id = 3;
    run.serial = "0042";
    run.dieId = "0x350A0123456789AB";
    run.station = "bench-1";
    run.port = "1-1.3";
    run.recipe = "k350a, line 2";
    run.startedAt = "2026-12-09T10:00:00Z";
    run.result = "failed";
    run.failedStep = "verify";
    run.error = "the flash differs \"here\"";
    run.steps = R"([{"step":"flash","ok":true}])";
    run.soakJitterMs = 1.25;
    const std::string csv = HistoryReport({run}, HistoryFormat::Csv);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "id,serial,die_id,chip_id,station,port,recipe,image_sha256,config_sha256,"
              "recipe_sha256,program_version,operator,lot,started_at,finished_at,result,failed_"
              "step,error,steps,soak_erroneous_percent,"
              "soak_lost_percent,soak_jitter_ms,hook,hook_status,measurements");
    EXPECT_NE(csv.find(",\"k350a, line 2\","), std::string::npos);
    EXPECT_NE(csv.find("\"the flash differs \"\"here\"\"\""), std::string::npos);
    EXPECT_NE(csv.find(",1.2500,,,[]\n"), std::string::npos);
    run.measurements = {Measured("identify.ms", 12.5, "ms", {{}, 20.0, {}, 15.0})};
    const std::string measured = HistoryReport({run}, HistoryFormat::Csv);
    EXPECT_NE(
        measured.find(R"(,1.2500,,,"[{""name"":""identify.ms"",""value"":12.5,""unit"":""ms"",)"
                      R"(""low"":null,""high"":20.0,""marginal_low"":null,""marginal_high"":)"
                      R"(15.0,""outcome"":""pass""}]")"),
        std::string::npos)
        << measured;

    const std::string json = HistoryReport({run}, HistoryFormat::Json);
    EXPECT_NE(json.find(R"("serial":"0042")"), std::string::npos);
    EXPECT_NE(json.find(R"("steps":[{"step":"flash","ok":true}])"), std::string::npos);
    EXPECT_NE(json.find(R"("soak_lost_percent":null)"), std::string::npos);
    EXPECT_NE(json.find(R"("measurements":[{"name":"identify.ms","value":12.5,"unit":"ms",)"
                        R"("low":null,"high":20.0,)"),
              std::string::npos);

    const std::string text = HistoryReport({run}, HistoryFormat::Text);
    EXPECT_NE(text.find("0042  0x350A0123456789AB  bench-1 1-1.3  failed at verify"),
              std::string::npos);
    EXPECT_EQ(NormalizedSerial("42"), "0042");
    EXPECT_EQ(NormalizedSerial("0042"), "0042");
    EXPECT_EQ(NormalizedSerial("a1"), "00A1");  // an alphanumeric line's serial
    EXPECT_EQ(NormalizedSerial("12345"), "12345");
    EXPECT_EQ(NormalizedSerial("1-2"), "1-2");
}

}  // namespace

TEST(StationView, ATerminalGetsOneRowPerPortAndAPipeOneJsonLinePerStepAndBoard) {
    std::vector<std::string> screens;
    StationView table([&](const std::string& block) { screens.push_back(block); }, true);
    table.show({"1-1.3", "0x350A0123456789AB", "0007", "flash", "progress", 512, 1024, ""});
    EXPECT_NE(screens.back().find(" 50 %"), std::string::npos);
    table.show({"1-1.4", "0x350A0123456789AC", "0008", "soak", "started", 0, 0, ""});
    table.show({"1-1.3", "0x350A0123456789AB", "0007", "board", "passed", 0, 0, ""});
    const std::string& screen = screens.back();
    EXPECT_NE(screen.find("passed 1   failed 0"), std::string::npos);
    EXPECT_NE(screen.find("1-1.3"), std::string::npos);
    EXPECT_NE(screen.find("PASSED"), std::string::npos);
    EXPECT_LT(screen.find("1-1.3"), screen.find("1-1.4"));  // one row per port, in port order

    std::vector<std::string> lines;
    StationView pipe([&](const std::string& line) { lines.push_back(line); }, false);
    pipe.show({"1-1.3", "0x01", "0007", "flash", "started", 0, 0, ""});
    pipe.show({"1-1.3", "0x01", "0007", "flash", "progress", 1, 2, ""});
    pipe.show({"1-1.3", "0x01", "0007", "flash", "failed", 0, 0, "Error: -19 (unplugged)"});
    pipe.show({"1-1.3", "0x01", "0007", "board", "failed", 0, 0, "Error: -19 (unplugged)"});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              R"({"port":"1-1.3","die_id":"0x01","serial":"0007","step":"flash","state":"failed",)"
              R"x("error":"Error: -19 (unplugged)"})x");
    EXPECT_NE(lines[1].find(R"("failed":1)"), std::string::npos);

    // A board under way elsewhere is looked at again and again, but told once until that changes;
    // the station's own line has no port and says how many boards it finishes.
    lines.clear();
    for (int scan = 0; scan < 3; ++scan) {
        pipe.show({"1-1.5", "0x02", "", "board", "elsewhere", 0, 0, "under way on bench b-2"});
    }
    pipe.show({"", "", "", "station", "stopping", 2, 0, ""});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(R"("state":"elsewhere")"), std::string::npos);
    EXPECT_EQ(lines[1],
              R"({"port":null,"die_id":null,"serial":null,"step":"station","state":"stopping",)"
              R"("error":null,"boards":2,"hooks":0})");
}

// What a stop now cuts: the boards' steps, or only the hooks of boards that are done.
TEST(StationView, TheStopNoticeSaysWhetherTheBoardsOrOnlyTheirHooksAreCut) {
    EXPECT_EQ(StationView::StoppingText(2, 0, "Ctrl+C again"),
              "finishing 2 boards; Ctrl+C again stops now and leaves their flash incomplete");
    EXPECT_EQ(StationView::StoppingText(1, 1, "a second signal"),
              "finishing the hooks of 1 board (the boards are done); a second signal stops now "
              "and kills the hooks");
    EXPECT_EQ(StationView::StoppingText(3, 1, "Ctrl+C again"),
              "finishing 3 boards; Ctrl+C again stops now, leaves the flash of 2 incomplete and "
              "kills the hooks of 1");
    EXPECT_EQ(StationView::StoppingText(0, 0, "Ctrl+C again"), "stopping");
}
