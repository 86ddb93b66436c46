// A terminal process that is closed while its worker is deep in a long loop:
// "flash" keeps the flash busy during a firmware download, "trace" gives the
// trace poll a backlog of 1,500 records that the board answers slowly. Once
// the worker is inside the loop the main window is closed as a window manager
// would. Prints how long the close took and whether the board was released;
// the process must then end normally.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "shell/DeviceForm.h"
#include "sim/SimControl.h"
#include "tests/support/SimBoards.h"
#include "transfer/FlashForm.h"
#include "ui/Dialogs.h"

namespace {

constexpr int kTraceBacklog = 1500;
constexpr int kLoopPassesBeforeClose = 20;
constexpr std::chrono::milliseconds kSlowTraceReply{2};

using Bytes = k350sim::Bytes;

// Answers the firmware file dialog with one prepared file.
class ImageDialog : public Dialogs {
public:
    explicit ImageDialog(QString path) : path_(std::move(path)) {}
    QString openFile(QWidget*, const QString&, const QString&) override { return path_; }
    QString saveFile(QWidget*, const QString&) override { return {}; }
    bool askYesNo(QWidget*, const QString&) override { return true; }
    void message(QWidget*, const QString&) override {}

private:
    QString path_;
};

std::atomic<int> loopPasses{0};

bool isStatusRead(const Bytes& request) {
    return request.size() == 9 && request[0] == 2 && request[8] == 0x05;
}

void watchFlashPolls() {
    k350sim::setReplyHook([](k350sim::DeviceId, const Bytes& request, Bytes&) {
        if (isStatusRead(request)) ++loopPasses;
        return 0;
    });
}

// The board answers each trace poll a little late, so the backlog takes
// longer to drain than the shutdown waits.
void slowTraceReplies() {
    k350sim::setReplyHook([](k350sim::DeviceId, const Bytes& request, Bytes&) {
        if (request.size() >= 2 && request[0] == 6 && request[1] == 0) {
            ++loopPasses;
            std::this_thread::sleep_for(kSlowTraceReply);
        }
        return 0;
    });
}

void startFlash(TFDevice& main, k350sim::DeviceId board, const QString& imagePath) {
    QFile image(imagePath);
    image.open(QIODevice::WriteOnly);
    image.write(QByteArray(64 * 1024, char(0x5A)));
    image.close();
    k350sim::setFlashNeverReady(board, true);
    watchFlashPolls();
    static ImageDialog dialog(imagePath);
    SetAppDialogs(&dialog);
    auto* window = new TFFlash;
    if (window->loadImageAndStart()) main.showTaskWindow(window);
}

void startTrace(TFDevice& main, k350sim::DeviceId board) {
    for (int i = 0; i < kTraceBacklog; ++i) {
        k350sim::pushTraceRecord(board, {0x00, 0x02, std::uint8_t(i), std::uint8_t(i >> 8)});
    }
    slowTraceReplies();
    main.session().worker().signal(WorkerRequest::PollTrace);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || (QByteArray(argv[1]) != "flash" && QByteArray(argv[1]) != "trace")) {
        std::fprintf(stderr, "usage: %s flash|trace\n", argv[0]);
        return 2;
    }
    const bool flash = QByteArray(argv[1]) == "flash";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int status = 0;
    qint64 closeMs = -1;
    {
        QApplication app(argc, argv);
        QTemporaryDir folder;
        k350sim::reset();
        const k350sim::DeviceId board = k350sim::addBoard(k350sim::addBus());
        TFDevice main;
        main.show();
        if (flash) {
            startFlash(main, board, folder.filePath("busy.rom"));
        } else {
            startTrace(main, board);
        }
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (loopPasses.load() < kLoopPassesBeforeClose) return;
            watch.stop();
            QElapsedTimer closing;
            closing.start();
            main.close();
            closeMs = closing.elapsed();
        });
        watch.start(1);
        status = QApplication::exec();
    }
    std::printf("closed_in_ms=%lld released=%d\n", static_cast<long long>(closeMs),
                BoardReleased() ? 1 : 0);
    std::fflush(stdout);
    if (WorkerSession::workerLeftRunning()) std::_Exit(3);
    k350sim::setReplyHook({});
    k350sim::reset();
    return status;
}
