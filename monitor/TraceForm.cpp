#include "monitor/TraceForm.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "link/K350Task.h"
#include "ui/AtomicSave.h"
#include "ui/Buttons.h"

namespace {

struct Channel {
    const char* name;
    const char* caption;
};
// In bit order of the channel mask.
constexpr std::array<Channel, 4> kChannels = {{
    {"BusRx", "Bus+ (RxD)"},
    {"BusTx", "Bus+ (TxD)"},
    {"LinkRx", "Link (RxD)"},
    {"LinkTx", "Link (TxD)"},
}};

QLabel* makeLabel(const QString& text, const char* name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    return label;
}

}  // namespace

TFTrace::TFTrace(QWidget* parent) : TaskWindow(WindowId::FTrace, parent) {
    setWindowTitle(QStringLiteral("Трассировщик"));
    resize(sizeHint());

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(kPollIntervalMs);
    connect(Timer, &QTimer::timeout, this, &TFTrace::TimerTimer);

    MLog = new TraceLog;
    MLog->setObjectName("MLog");
    MLog->setAccessibleName(QStringLiteral("Трассировка"));
    MLog->appendLines({std::string()});  // the log opens with one empty line
    record_ = new QAction(QStringLiteral("Записывать в файл…"), this);
    record_->setObjectName("MRecordToFile");
    record_->setCheckable(true);
    connect(record_, &QAction::triggered, this, &TFTrace::recordClicked);
    MLog->addMenuAction(record_);

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName("Splitter1");
    Splitter1->addWidget(MLog);
    Splitter1->addWidget(buildChannelPanel());
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setChildrenCollapsible(false);
    // The channel panel starts 98 pixels wide (more if its captions need it); the
    // splitter lets the user resize it.
    Splitter1->setSizes({sizeHint().width() - kChannelPanelWidth, kChannelPanelWidth});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildIdStrip());
    layout->addWidget(Splitter1, 1);
    layout->addWidget(buildButtonStrip());
}

// The die and chip IDs: no trace operation reports them, so they stay empty.
QWidget* TFTrace::buildIdStrip() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel1");
    panel->setFixedHeight(std::max(15, panel->fontMetrics().height() + 2));
    SDie = makeLabel(QString(), "SDie");
    SChip = makeLabel(QString(), "SChip");
    auto* strip = new QHBoxLayout(panel);
    strip->setContentsMargins(4, 0, 4, 0);
    strip->addWidget(makeLabel(QStringLiteral("Die ID:"), "LDieID"));
    strip->addWidget(SDie, 1);
    strip->addWidget(makeLabel(QStringLiteral("Chip ID:"), "LChipID"));
    strip->addWidget(SChip, 1);
    return panel;
}

QWidget* TFTrace::buildChannelPanel() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel3");
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(makeLabel(QStringLiteral("Канал"), "LChannel"));
    for (int bit = 0; bit < static_cast<int>(kChannels.size()); ++bit) {
        const QString caption = QString::fromLatin1(kChannels[bit].caption);
        auto* box = new QCheckBox(caption);
        box->setObjectName(kChannels[bit].name);
        box->setAccessibleName(caption);
        // Only the user's clicks choose channels; unchecking by code sends nothing.
        connect(box, &QCheckBox::clicked, this,
                [this, bit](bool checked) { channelClicked(bit, checked); });
        channels_[bit] = box;
        column->addWidget(box);
    }
    column->addStretch(1);
    return panel;
}

QWidget* TFTrace::buildButtonStrip() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel2");
    ButRun = MakeButton(QStringLiteral("Старт"), "ButRun");
    ButClose = MakeButton(QStringLiteral("Закрыть"), "ButClose");
    connect(ButRun, &QPushButton::clicked, this, &TFTrace::ButRunClick);
    connect(ButClose, &QPushButton::clicked, this, &TFTrace::ButCloseClick);
    auto* strip = new QHBoxLayout(panel);
    strip->setContentsMargins(4, 4, 4, 4);
    strip->addWidget(ButRun);
    strip->addWidget(ButClose);
    strip->addStretch(1);
    return panel;
}

bool TFTrace::isRunning() const {
    return Timer->isActive();
}

void TFTrace::channelClicked(int bit, bool checked) {
    const auto flag = static_cast<std::uint16_t>(1u << bit);
    TraceChannelMask = checked ? (TraceChannelMask | flag) : (TraceChannelMask & ~flag);
    signalRequest(WorkerRequest::SetTrace);
}

void TFTrace::ButRunClick() {
    if (isRunning()) {
        withdrawRequest(WorkerRequest::PollTrace);
        ButRun->setText(QStringLiteral("Старт"));
        Timer->stop();
    } else {
        signalRequest(WorkerRequest::PollTrace);
        ButRun->setText(QStringLiteral("Стоп"));
        Timer->start();
    }
    ButRun->setAccessibleName(ButRun->text());
}

void TFTrace::TimerTimer() {
    if (TraceChannelMask != 0) signalRequest(WorkerRequest::PollTrace);
}

void TFTrace::ButCloseClick() {
    closeWindow();
}

void TFTrace::formClose() {
    stopRecording();
    leaveRecordingsToFinish();
    Timer->stop();
    withdrawRequest(WorkerRequest::PollTrace);
    withdrawRequest(WorkerRequest::SetTrace);
}

void TFTrace::onWorkerNotification(const WorkerNotification& notification) {
    switch (notification.code) {
        case NotifyCode::FillData:
            writeMask(notification.value);
            break;
        case NotifyCode::TraceLines:
            if (notification.value != 0) {
                const auto& lines = *reinterpret_cast<const TraceLines*>(notification.value);
                MLog->appendLines(lines);
                if (recorder_) recorder_->append(lines);
            }
            break;
        case NotifyCode::Done:
            clearChannels();
            break;
        default:
            break;
    }
}

// The address is a header word of the request, which takes the mask little-endian.
void TFTrace::writeMask(std::intptr_t address) const {
    if (address == 0) return;
    auto* word = reinterpret_cast<std::uint8_t*>(address);
    word[0] = std::uint8_t(TraceChannelMask & 0xFF);
    word[1] = std::uint8_t(TraceChannelMask >> 8);
}

// The board cannot be reached: forget the choice; running or not stays as it is.
void TFTrace::clearChannels() {
    for (QCheckBox* box : channels_) box->setChecked(false);
    TraceChannelMask = 0;
    withdrawRequest(WorkerRequest::SetTrace);
    withdrawRequest(WorkerRequest::PollTrace);
}

// --- recording to a file ---------------------------------------------------------

namespace {
// The worker's clock, so that tests pass the flush interval virtually.
Clock& recordingClock() {
    static SystemClock system;
    return K350Worker() ? K350Worker()->clock() : system;
}
const QString kTraceFileFilter = QStringLiteral("Текстовые файлы (*.txt)|*.txt|все файлы|*");

QString interruptedText(const QString& path, const QString& reason) {
    return QStringLiteral("Запись трассировки в файл ") + path + " прервана: " + reason;
}

// The window is closing while the file is still being written: the recording finishes on its
// own. With no window left to say it, a failure comes as a message box; success goes unsaid.
void finishUnattended(TraceRecorder* recorder) {
    recorder->disconnect();
    recorder->setParent(QCoreApplication::instance());
    QObject::connect(recorder, &TraceRecorder::finished, recorder, &QObject::deleteLater);
    // The program ending first waits for the file, as the window's own end would.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, recorder,
                     [recorder] { delete recorder; });
    QObject::connect(recorder, &TraceRecorder::failed, recorder,
                     [recorder](const QString& path, const QString& reason) {
                         recorder->deleteLater();
                         AppDialogs().message(nullptr, interruptedText(path, reason));
                     });
    recorder->finish();
}
}  // namespace

void TFTrace::recordClicked() {
    if (recorder_) {
        stopRecording();
    } else {
        startRecording();
    }
}

void TFTrace::startRecording() {
    record_->setChecked(false);
    const QString path = WithDefaultSuffix(AppDialogs().saveFile(this, kTraceFileFilter), ".txt");
    if (path.isEmpty()) return;
    auto* recorder = new TraceRecorder(recordingClock(), TraceRecorder::kMaxQueuedBytes, this);
    if (!recorder->start(path)) {
        delete recorder;
        AppDialogs().message(this, QStringLiteral("Не удалось открыть файл ") + path);
        return;
    }
    connect(recorder, &TraceRecorder::fallingBehind, this, [this](const QString& file) {
        emit logLine(QStringLiteral("Диск не успевает за трассировкой: часть строк не попадёт в "
                                    "файл ") +
                     file + QStringLiteral(", пропуски будут отмечены в нём"));
    });
    connect(recorder, &TraceRecorder::finished, this,
            [this, recorder](const QString&, quint64 dropped) {
                recordingFinished(recorder, dropped);
            });
    connect(recorder, &TraceRecorder::failed, this,
            [this, recorder](const QString&, const QString& reason) {
                recordingFailed(recorder, reason);
            });
    recorder_ = recorder;
    record_->setChecked(true);
    emit logLine(QStringLiteral("Трассировка записывается в файл ") + path);
}

// The file is finished by the writer's thread; the window says so when it is.
void TFTrace::stopRecording() {
    if (!recorder_) return;
    record_->setChecked(false);
    std::exchange(recorder_, nullptr)->finish();
}

void TFTrace::leaveRecordingsToFinish() {
    for (TraceRecorder* recorder : recordings()) finishUnattended(recorder);
}

QList<TraceRecorder*> TFTrace::recordings() const {
    return findChildren<TraceRecorder*>(Qt::FindDirectChildrenOnly);
}

// Reported from inside the recorder, which is released once it has returned.
void TFTrace::recordingFinished(TraceRecorder* recorder, quint64 droppedLines) {
    QString text = QStringLiteral("Запись трассировки в файл ") + recorder->path() + " завершена";
    if (droppedLines != 0) {
        text += QStringLiteral(
                    "; не записано строк: %1 (диск не успевал, пропуски отмечены в "
                    "файле)")
                    .arg(droppedLines);
    }
    recorder->deleteLater();
    emit logLine(text);
}

void TFTrace::recordingFailed(TraceRecorder* recorder, const QString& reason) {
    if (recorder == recorder_) {
        recorder_ = nullptr;
        record_->setChecked(false);
    }
    recorder->deleteLater();
    emit logLine(interruptedText(recorder->path(), reason));
}
