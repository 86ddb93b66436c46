// k350ctl as a production bench's scripts drive it: images that do not fit, output that cannot
// be written, a reader that goes away, boards that --all cannot do, identities, runs stopped
// early, verify in boot mode, and the messages and manual that say so.
#include <gmock/gmock.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <set>
#include <streambuf>

#include "cli/Help.h"
#include "tests/support/CliFixture.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TypedServiceCodes.h"

namespace {

using k350sim::Bytes;
using ::testing::HasSubstr;
using ::testing::Not;

// Standard output that takes `lines` lines, then fails as a full disk or a closed pipe does.
class FailingOutput : public std::streambuf {
public:
    FailingOutput(int lines, int error) : linesLeft_(lines), error_(error) {}
    std::string text;

protected:
    int_type overflow(int_type c) override {
        if (linesLeft_ <= 0) {
            errno = error_;
            return traits_type::eof();
        }
        text += char(c);
        if (c == '\n') --linesLeft_;
        return c;
    }

private:
    int linesLeft_;
    int error_;
};

class CliK350ctlTest : public CliFixture {
protected:
    // A run whose standard output fails after `lines` lines.
    CliRun runFailing(const std::vector<std::string>& arguments, int lines, int error) {
        FailingOutput buffer(lines, error);
        std::ostream out(&buffer);
        std::ostringstream err;
        Environment environment{out, err, false, clock, nullptr, &interrupted, &stopSignal};
        CliRun result;
        result.status = RunK350ctl(arguments, environment);
        result.out = buffer.text;
        result.err = err.str();
        return result;
    }

    // Sets the interrupt flag on the board's n-th request of the given command code.
    void interruptAtRequest(std::uint8_t code, int n, int signal = SIGINT) {
        // The simulator copies its hook for every request: the count lives outside it.
        auto seen = std::make_shared<int>(0);
        k350sim::setReplyHook(
            [this, code, n, signal, seen](k350sim::DeviceId, const Bytes& request, Bytes&) {
                if (request.size() >= 8 && request[0] == code && ++*seen == n) {
                    stopSignal = signal;
                    interrupted = true;
                }
                return 0;
            });
    }
};

bool endsWithRelease(const std::vector<WireTransfer>& wire) {
    return wire.size() >= 2 &&
           wire[wire.size() - 2].kind == k350sim::TransferKind::ReleaseInterface &&
           wire.back().kind == k350sim::TransferKind::Close;
}

// 1. An image is refused before the board is opened when it is empty or larger than the flash.
TEST_F(CliK350ctlTest, AnImageThatDoesNotFitTheFlashIsRefusedBeforeTheBoardIsOpened) {
    const auto boards = plugBoards(1);
    variables["K350_SERVICE_CODE"] = TypedCode::Service;
    for (std::size_t size : {std::size_t(0), std::size_t(131073)}) {
        WriteFileBytes(tempPath("fw.rom"), Bytes(size, 0x11));
        k350sim::clearLog();
        const CliRun result = run({"flash", tempPath("fw.rom")});
        EXPECT_EQ(result.status, 4) << size;
        EXPECT_THAT(result.err, HasSubstr("is " + std::to_string(size) +
                                          " bytes; the flash takes 1 to 131072"));
        EXPECT_TRUE(wireOf(boards[0]).empty()) << size;
    }
    WriteFileBytes(tempPath("fw.rom"), Bytes(131072, 0x22));
    EXPECT_EQ(run({"flash", tempPath("fw.rom")}).status, 0);
    EXPECT_EQ(k350sim::flash(boards[0])[131071], 0x22);
}

// 2. Output that cannot be written is an error with a message, never success.
TEST_F(CliK350ctlTest, OutputThatCannotBeWrittenIsStatusFourWithTheReason) {
    plugBoards(1);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"list"}, {"list", "--json"}, {"read", "-o", "-"}, {"stats"}, {"--help"}}) {
        const CliRun result = runFailing(arguments, 0, ENOSPC);
        EXPECT_EQ(result.status, 4) << arguments[0];
        EXPECT_THAT(result.err, HasSubstr("standard output cannot be written: No space left"));
    }
}

// 3. A reader that went away ends the command at its next line, with the board released.
TEST_F(CliK350ctlTest, AClosedPipeEndsTraceAndStatsAtTheNextLineAndReleasesTheBoard) {
    const auto boards = plugBoards(1);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"trace"}, {"stats", "--count", "0"}}) {
        k350sim::clearLog();
        const CliRun result = runFailing(arguments, 1, EPIPE);
        EXPECT_EQ(result.status, 128 + SIGPIPE) << arguments[0];
        EXPECT_EQ(result.err, "") << "a broken pipe is no error to report";
        EXPECT_TRUE(endsWithRelease(wireOf(boards[0]))) << arguments[0];
        EXPECT_LT(k350sim::requests().size(), 30u) << arguments[0];
    }
}

// 4. --all names every board found; one it could not do fails the run.
TEST_F(CliK350ctlTest, FlashAllNamesEveryBoardAndWhyEachFailedOneFailed) {
    plugBoards(6);
    k350sim::BoardOptions boot, held;
    boot.bootMode = true;
    held.refusesInterface0 = true;
    const auto bootBoard = k350sim::addBoard(0, boot);
    k350sim::addBoard(0, held);
    WriteFileBytes(tempPath("fw.rom"), Bytes(3000, 0x33));
    const CliRun result =
        run({"flash", tempPath("fw.rom"), "--all", "--json", "--code", TypedCode::Service});
    EXPECT_EQ(result.status, 1);
    std::set<std::string> named;
    std::istringstream lines(result.out);
    int failed = 0;
    for (std::string line; std::getline(lines, line);) {
        named.insert(line.substr(10, 7));
        if (line.find("\"ok\":false") == std::string::npos) continue;
        ++failed;
        EXPECT_THAT(line, ::testing::AnyOf(HasSubstr("\"error\":\"skipped, the board is in boot"),
                                           HasSubstr("\"error\":\"the board's interface cannot "
                                                     "be claimed")));
    }
    EXPECT_EQ(named.size(), 8u) << result.out;
    EXPECT_EQ(failed, 2);
    EXPECT_THAT(result.err, HasSubstr("6 of 8 boards succeeded; failed: "));
    EXPECT_TRUE(k350sim::bootBytes(bootBoard).empty());
}

// 5. --full never gives several boards, or a board of another die ID, the file's identity
// unless asked to.
TEST_F(CliK350ctlTest, WriteFullKeepsEachBoardsIdentityUnlessTold) {
    const auto boards = plugBoards(2);
    variables["K350_SERVICE_CODE"] = TypedCode::FullService;
    ASSERT_EQ(run({"read", "--board", "0x350A012345678901", "-o", tempPath("one.kcf")}).status, 0);
    const CliRun all = run({"write", tempPath("one.kcf"), "--full", "--all"});
    EXPECT_EQ(all.status, 2);
    EXPECT_THAT(all.err, HasSubstr("write --full refused with --all"));

    const std::string second = run({"list"}).out.substr(run({"list"}).out.find('\n') + 1, 7);
    const Bytes before = k350sim::eeprom(boards[1]);
    const CliRun other = run({"write", tempPath("one.kcf"), "--full", "--board", second});
    EXPECT_EQ(other.status, 2);
    EXPECT_THAT(other.err, HasSubstr("give --other-board to write it all the same"));
    EXPECT_EQ(k350sim::eeprom(boards[1]), before);
    EXPECT_EQ(
        run({"write", tempPath("one.kcf"), "--full", "--board", second, "--other-board"}).status,
        0);
    EXPECT_EQ(run({"write", tempPath("one.kcf"), "--full", "--board", "0x350A012345678901"}).status,
              0);
}

// 7. A run a signal stopped before its set length has its own status and says how far it got.
TEST_F(CliK350ctlTest, ARunStoppedBeforeItsLengthExitsWithTheSignalsStatus) {
    plugBoards(1);
    interruptAtRequest(8, 3);
    const CliRun stats = run({"stats", "--count", "100"});
    EXPECT_EQ(stats.status, 130);
    EXPECT_THAT(stats.err, HasSubstr("stopped by Ctrl+C after 3 of 100 readings"));

    interrupted = false;
    interruptAtRequest(6, 5, SIGTERM);
    const CliRun trace = run({"trace", "--duration", "60"});
    EXPECT_EQ(trace.status, 143);
    EXPECT_THAT(trace.err, HasSubstr("stopped by a termination signal after 0."));
    EXPECT_THAT(trace.err, HasSubstr(" of 60.0 s"));

    interrupted = false;
    interruptAtRequest(8, 3);
    EXPECT_EQ(run({"stats", "--count", "0"}).status, 0) << "--count 0 only ends by Ctrl+C";
}

// 8. --verify in boot mode is refused before anything is sent.
TEST_F(CliK350ctlTest, VerifyInBootModeIsRefusedBeforeTheImageIsSent) {
    k350sim::BoardOptions boot;
    boot.bootMode = true;
    const auto boards = plugBoards(1, boot);
    WriteFileBytes(tempPath("fw.rom"), Bytes(200, 0x11));
    const CliRun result =
        run({"flash", tempPath("fw.rom"), "--verify", "--code", TypedCode::Service});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("verify refused"));
    EXPECT_THAT(result.err, HasSubstr("nothing was sent"));
    EXPECT_TRUE(k350sim::bootBytes(boards[0]).empty());
}

// 10. A flash that stays busy for 10 s is named as the cause, not the cable.
TEST_F(CliK350ctlTest, AFlashThatStaysBusyIsNamedInTheTimeoutsHint) {
    plugBoards(1);
    k350sim::setReplyHook([](k350sim::DeviceId, const Bytes& request, Bytes& reply) {
        const bool statusRead = request.size() == 9 && request[0] == 2 && request[8] == 0x05;
        if (statusRead && reply.size() > 8) reply[8] |= 0x01;
        return 0;
    });
    WriteFileBytes(tempPath("fw.rom"), Bytes(300, 0x44));
    const CliRun result = run({"flash", tempPath("fw.rom"), "--code", TypedCode::Service});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("Error: -110 (the flash stayed busy for 10 s"));
    EXPECT_THAT(result.err, Not(HasSubstr("cable")));
}

// 10. Arguments are quoted and cut, refusals have one form, nothing is guessed.
TEST_F(CliK350ctlTest, MessagesQuoteAndCutArgumentsAndRefuseWhatTheyWouldGuess) {
    plugBoards(1);
    const CliRun longArgument = run({std::string(100000, 'x') + "\nsecond line"});
    EXPECT_EQ(longArgument.status, 2);
    EXPECT_EQ(longArgument.err, "k350ctl: unknown command \"" + std::string(60, 'x') +
                                    "\"...\nTry 'k350ctl --help' for more information.\n");
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"read", "--board", ""},
                                               {"read", "--board", "001/001", "--board", "001/001"},
                                               {"list", "--all"},
                                               {"stats", "--period", "0x2"},
                                               {"stats", "--count", "1e0"},
                                               {"trace", "--channels", "link-rx,"},
                                               {"flash", "x.rom"}}) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.status, 2) << ::testing::PrintToString(arguments);
        EXPECT_THAT(result.err,
                    ::testing::EndsWith("\nTry 'k350ctl --help' for more information.\n"))
            << ::testing::PrintToString(arguments);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    }
    const CliRun noFolder = run({"read", "-o", tempPath("missing/x.kcf")});
    EXPECT_THAT(noFolder.err, HasSubstr("cannot be created: No such file or directory"));
}

// 11. The manual says what scripts need to know.
TEST_F(CliK350ctlTest, TheHelpAndTheManualDocumentWhatScriptsRelyOn) {
    const std::string help = HelpText("");
    for (const char* text : {"missing or wrong service code", "--period=5", "\"--\"",
                             "--json prints\nnothing", "atomically", "130", "143", "141"}) {
        EXPECT_THAT(help, HasSubstr(text));
    }
    EXPECT_THAT(HelpText("read"), HasSubstr("-o, --output FILE"));
    EXPECT_THAT(HelpText("stats"), HasSubstr("--count 0 reads until Ctrl+C"));
    EXPECT_THAT(HelpText("trace"), HasSubstr("0 to 86400"));
    EXPECT_THAT(HelpText("flash"), HasSubstr("a second Ctrl+C"));
    std::ifstream file(std::string(K350_SOURCE_DIR) + "/packaging/k350ctl.1");
    const std::string page{std::istreambuf_iterator<char>(file), {}};
    const std::string seeAlso = page.substr(page.find(".SH SEE ALSO"));
    // Only what the package installs: the terminal's man page and the README beside it.
    EXPECT_THAT(seeAlso, HasSubstr(".BR k350-terminal (1)"));
    EXPECT_THAT(seeAlso, HasSubstr("/usr/share/doc/k350-terminal/README"));
    std::ifstream install(std::string(K350_SOURCE_DIR) + "/packaging/Install.cmake");
    const std::string installed{std::istreambuf_iterator<char>(install), {}};
    EXPECT_THAT(installed, HasSubstr("packaging/k350-terminal.1"));
    EXPECT_THAT(installed, HasSubstr("DESTINATION ${K350_DOC_DIR} RENAME README)"));
    for (const char* text : {"\\-\\-output", "\\-\\-period=", "atomically", "SIGHUP", "130"}) {
        EXPECT_THAT(page, HasSubstr(text));
    }
}

}  // namespace
