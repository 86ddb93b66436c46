// Closing the terminal while its worker is busy: the whole process, closed
// again and again during a busy flash and during a long trace backlog, and
// the main window's refusal of user input once its shutdown has begun.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QProcess>
#include <QTest>
#include <QToolButton>

#include "tests/support/ShellFixture.h"

namespace {

constexpr int kRuns = 20;

struct ProbeRun {
    bool exitedNormally = false;
    int status = -1;
    QString output;
};

ProbeRun runProbe(const char* scenario) {
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QStringLiteral(K350_SHUTDOWN_PROBE), {QString::fromLatin1(scenario)});
    ProbeRun run;
    if (!probe.waitForFinished(30000)) {
        probe.kill();
        probe.waitForFinished();
        return run;
    }
    run.exitedNormally = probe.exitStatus() == QProcess::NormalExit;
    run.status = probe.exitCode();
    run.output = QString::fromLocal8Bit(probe.readAll());
    return run;
}

// "closed_in_ms=12 released=1": the close's duration, -1 when it never came.
int closeMilliseconds(const QString& output) {
    const int at = output.indexOf("closed_in_ms=");
    if (at < 0) return -1;
    return output.mid(at + 13).section(' ', 0, 0).toInt();
}

void expectCleanCloses(const char* scenario) {
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(run);
        const ProbeRun result = runProbe(scenario);
        ASSERT_TRUE(result.exitedNormally) << result.output.toStdString();
        EXPECT_EQ(result.status, 0) << result.output.toStdString();
        EXPECT_TRUE(result.output.contains("released=1")) << result.output.toStdString();
        const int closeMs = closeMilliseconds(result.output);
        EXPECT_GE(closeMs, 0) << result.output.toStdString();
        EXPECT_LT(closeMs, 1000) << result.output.toStdString();
    }
}

}  // namespace

TEST(ShutdownProcess, ClosingDuringABusyFlashEndsCleanlyAndReleasesTheBoard) {
    expectCleanCloses("flash");
}

TEST(ShutdownProcess, ClosingDuringATraceBacklogEndsCleanlyAndReleasesTheBoard) {
    expectCleanCloses("trace");
}

class ShutdownInputTest : public ShellFixture {
protected:
    ShutdownInputTest() : ShellFixture(true) {}
};

TEST_F(ShutdownInputTest, AClickWaitingWhileTheWorkerStopsStartsNothing) {
    auto* read = window().findChild<QToolButton*>("MButtonGet");
    ASSERT_NE(read, nullptr);
    const QPoint centre = read->rect().center();
    const QPoint global = read->mapToGlobal(centre);
    // The click is already queued when the main window closes.
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            read, new QMouseEvent(type, centre, global, Qt::LeftButton,
                                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                  Qt::NoModifier));
    }
    window().close();
    EXPECT_EQ(WindowRegistry::Get(WindowId::FRead), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(WindowRegistry::Get(WindowId::FRead), nullptr);
    EXPECT_EQ(openWindowCount(), 0);
}
