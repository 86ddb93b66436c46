// k350ctl's process as a shell runs it (build/k350ctl-sim): a reader that goes away, standard
// output on a full disk or closed, and signals from Ctrl+C, kill and a closed terminal.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr auto kHardTimeout = std::chrono::seconds(60);

// One k350ctl-sim process with its standard output and error on pipes (or output on a file).
class Process {
public:
    Process(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const char* outputFile = nullptr) {
        int out[2], err[2];
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(outputFile ? open(outputFile, O_WRONLY) : out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            close(out[0]);
            close(err[0]);
            std::vector<char*> argv{const_cast<char*>(K350CTL_SIM)};
            for (const auto& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            for (const auto& variable : environment) putenv(const_cast<char*>(variable.c_str()));
            execv(K350CTL_SIM, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Process() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        close(err_);
    }

    // The first line of standard output, as `head -1` reads it.
    std::string firstLine() {
        std::string line;
        char c;
        while (waitReadable(out_) && read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    void closeOutput() {
        close(out_);
        out_ = -1;
    }
    void signal(int number) { kill(pid_, number); }
    // The wait status, or -1 when the process did not end within the hard timeout.
    int wait() {
        const auto deadline = Clock::now() + kHardTimeout;
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    std::string errors() {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(err_, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
        return text;
    }

private:
    static bool waitReadable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return poll(&entry, 1, int(std::chrono::milliseconds(kHardTimeout).count())) == 1;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool reaped_ = false;
};

// 3. `k350ctl trace | head -1`: the reader goes away and k350ctl ends at its next line, through
// its normal end (the board's exit sequence), dying of the broken pipe as a shell expects.
TEST(CliMainTest, TraceIntoHeadEndsSoonAfterHeadExits) {
    Process trace({"trace"}, {});
    EXPECT_THAT(trace.firstLine(), HasSubstr("): 0x"));
    const auto headExited = Clock::now();
    trace.closeOutput();
    const int status = trace.wait();
    const auto elapsed = std::chrono::duration<double>(Clock::now() - headExited).count();
    ASSERT_NE(status, -1) << "still running " << kHardTimeout.count() << " s after head exited";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    EXPECT_EQ(trace.errors(), "");
    std::printf("[ figure ] trace ended %.3f s after head exited\n", elapsed);
}

// 2. Standard output on a full disk.
TEST(CliMainTest, StandardOutputOnAFullDiskIsStatusFour) {
    Process list({"list"}, {}, "/dev/full");
    const int status = list.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << status;
    EXPECT_THAT(list.errors(), HasSubstr("standard output cannot be written: No space left"));
}

// 6. A closed terminal (SIGHUP) during a download lets it finish, as Ctrl+C does.
TEST(CliMainTest, AHangUpDuringADownloadLetsItFinish) {
    // A folder of its own: test runs of several checkouts may overlap.
    char pattern[] = "/tmp/k350ctl-main-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string image = folder + "/fw.rom", state = folder + "/board.state";
    std::filesystem::remove(state);
    std::string bytes;
    for (int i = 0; i < 131072; ++i) bytes += char(i * 7 + i / 251);
    std::ofstream(image, std::ios::binary) << bytes;
    Process flash({"flash", image}, {"K350_SERVICE_CODE=Lamp_Harbour", "K350_SIM_STATE=" + state});
    // The simulated board saves its flash after each write: the download has begun.
    const auto deadline = Clock::now() + kHardTimeout;
    while (!std::filesystem::exists(state) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    flash.signal(SIGHUP);
    const int status = flash.wait();
    const std::string said = flash.errors();
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << said;
    EXPECT_THAT(said, HasSubstr("131072 bytes programmed"));
    std::ifstream saved(state, std::ios::binary);
    const std::string board{std::istreambuf_iterator<char>(saved), {}};
    EXPECT_NE(board.find(bytes), std::string::npos) << "the whole image is in the flash";
    if (said.find("download finishes first") == std::string::npos) {
        std::printf("[ note ] the download ended before the hang-up arrived\n");
    }
    std::filesystem::remove_all(folder);
}

// 7. Ctrl+C during `stats --count 100`: stopped early is status 130, with how far it got.
TEST(CliMainTest, CtrlCBeforeTheCountIsStatus130) {
    Process stats({"stats", "--count", "100", "--json"}, {});
    EXPECT_THAT(stats.firstLine(), HasSubstr("\"time_s\""));
    stats.signal(SIGINT);
    const int status = stats.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_THAT(stats.errors(), HasSubstr("stopped by Ctrl+C after "));
}

}  // namespace
