// The terminal started where there is no display (over SSH, from a text
// console): it says so and how to go on, and fails, instead of Qt's abort.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

struct TerminalRun {
    bool finished = false;
    bool exitedNormally = false;
    int status = -1;
    QString errorOutput;
};

// The test runner's environment without any display or chosen platform.
QProcessEnvironment environmentWithoutDisplay() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

TerminalRun runTerminal(const QProcessEnvironment& environment) {
    QProcess terminal;
    terminal.setProcessEnvironment(environment);
    terminal.start(QStringLiteral(K350_TERMINAL), {});
    TerminalRun run;
    run.finished = terminal.waitForFinished(60000);
    if (!run.finished) {
        terminal.kill();
        terminal.waitForFinished();
    }
    run.exitedNormally = terminal.exitStatus() == QProcess::NormalExit;
    run.status = terminal.exitCode();
    run.errorOutput = QString::fromLocal8Bit(terminal.readAllStandardError());
    return run;
}

void expectAdviceAndFailure(const TerminalRun& run, const char* problem) {
    const std::string output = run.errorOutput.toStdString();
    ASSERT_TRUE(run.finished) << "the terminal kept running without a display";
    EXPECT_TRUE(run.exitedNormally) << output;
    EXPECT_NE(run.status, 0) << output;
    EXPECT_TRUE(run.errorOutput.contains(QLatin1String(problem))) << output;
    EXPECT_TRUE(run.errorOutput.contains("ssh -X")) << output;
    EXPECT_TRUE(run.errorOutput.contains("k350ctl")) << output;
    EXPECT_FALSE(run.errorOutput.contains("Reinstalling")) << output;
}

}  // namespace

TEST(TerminalWithoutDisplay, NoDisplayNamedSaysSoAndFails) {
    expectAdviceAndFailure(runTerminal(environmentWithoutDisplay()),
                           "no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

TEST(TerminalWithoutDisplay, ADisplayThatCannotBeOpenedSaysSoAndFails) {
    QProcessEnvironment environment = environmentWithoutDisplay();
    // No X server listens on a display number this high.
    environment.insert("DISPLAY", ":64999");
    expectAdviceAndFailure(runTerminal(environment), "the display \":64999\" could not be opened");
}
