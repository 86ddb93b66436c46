// The four settings windows used as a person would: controls moved and
// clicked, the worker's notifications delivered, the record checked byte for byte.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabWidget>
#include <QTest>
#include <array>
#include <vector>

#include "config/ConfigImage.h"
#include "editors/AudioForm.h"
#include "editors/CodecForm.h"
#include "editors/RadioGroup.h"
#include "editors/RecoderForm.h"
#include "editors/VocoderForm.h"
#include "link/Clock.h"
#include "link/K350Task.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/TestLocales.h"
#include "tests/support/VirtualClock.h"
#include "ui/WindowRegistry.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

using Bytes = std::vector<std::uint8_t>;

// A record whose settings bytes are all distinct from what the windows write.
ConfigSnapshot SampleRecord() {
    ConfigSnapshot record;
    for (std::size_t i = 0; i < record.bytes.size(); ++i) record.bytes[i] = std::uint8_t(i * 7 + 3);
    return record;
}

Bytes Slice(const ConfigSnapshot& record, std::size_t offset, std::size_t length) {
    return Bytes(record.bytes.begin() + std::ptrdiff_t(offset),
                 record.bytes.begin() + std::ptrdiff_t(offset + length));
}

class SettingsFormsTest : public ::testing::Test {
protected:
    void SetUp() override { SetK350Worker(&worker); }
    void TearDown() override { SetK350Worker(nullptr); }

    // Answers the worker's notification 11 as the worker would ask it, and
    // checks that the window writes exactly its payload length.
    static Bytes AskPayload(SettingsForm& window) {
        std::array<std::uint8_t, 32> area;
        area.fill(0xEE);
        window.onWorkerNotification(
            {NotifyCode::FillData, reinterpret_cast<std::intptr_t>(area.data())});
        const std::size_t length = window.payloadLength();
        for (std::size_t i = length; i < area.size(); ++i) EXPECT_EQ(area[i], 0xEE) << i;
        return Bytes(area.begin(), area.begin() + std::ptrdiff_t(length));
    }
    static void NotifyDone(SettingsForm& window) {
        window.onWorkerNotification({NotifyCode::Done, 0});
    }
    template <class T>
    static T* Child(QWidget& window, const char* name) {
        T* child = window.findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static QCheckBox* Link(QWidget& window) { return Child<QCheckBox>(window, "Link"); }
    static void Click(QWidget& window, const char* name) {
        Child<QAbstractButton>(window, name)->click();
    }
    static void Choose(QWidget& window, const char* group, int item) {
        Child<RadioGroup>(window, group)->button(item)->click();
    }
    static QString Text(QWidget& window, const char* label) {
        return Child<QLabel>(window, label)->text();
    }
    bool signalled(WorkerRequest request) const { return worker.isSignalled(request); }

    VirtualClock clock;
    RecordingChannel channel;
    TK350 worker{channel, clock};
    ConfigSnapshot record = SampleRecord();
};

// --- the pattern every settings window shares ----------------------------------------

struct Opened {
    std::unique_ptr<SettingsForm> window;
    const char* control;  // a control whose click makes a change
};

class PatternTest : public SettingsFormsTest {
protected:
    Opened open(WindowId id) {
        switch (id) {
            case WindowId::FCodec: {
                auto w = std::make_unique<TFCodec>();
                w->LoadSettings(0, record.data() + ConfigOffset::Codec);
                return {std::move(w), "PwrMic"};
            }
            case WindowId::FAudio: {
                auto w = std::make_unique<TFAudio>();
                w->LoadSettings(record.data() + ConfigOffset::Amplifier);
                return {std::move(w), nullptr};
            }
            case WindowId::FRecoder: {
                auto w = std::make_unique<TFRecoder>();
                w->LoadSettings(0, record.data() + ConfigOffset::Recorder);
                return {std::move(w), "TxLed"};
            }
            default: {
                auto w = std::make_unique<TFVocoder>();
                w->LoadSettings(record.data() + ConfigOffset::Vocoder);
                return {std::move(w), nullptr};
            }
        }
    }
    static void Change(Opened& opened, int round) {
        if (opened.control) {
            Click(*opened.window, opened.control);
        } else if (opened.window->windowId() == WindowId::FAudio) {
            Choose(*opened.window, "Mod", round % 2);
        } else {
            Choose(*opened.window, "Mode", round % 7);
        }
    }
};

TEST_F(PatternTest, LiveModeSignalsOnChangesOnlyAndNotificationFiveEndsIt) {
    for (WindowId id :
         {WindowId::FCodec, WindowId::FAudio, WindowId::FRecoder, WindowId::FVocoder}) {
        SCOPED_TRACE(int(id));
        Opened opened = open(id);
        SettingsForm& window = *opened.window;
        const WorkerRequest request = window.request();

        Change(opened, 1);
        EXPECT_FALSE(signalled(request)) << "no live mode, nothing sent";
        Link(window)->click();
        EXPECT_FALSE(signalled(request)) << "ticking alone sends nothing";
        Change(opened, 2);
        EXPECT_TRUE(signalled(request));
        window.onWorkerNotification({NotifyCode::FillData, 0});  // no address: nothing written
        window.onWorkerNotification({NotifyCode::Progress, 0});  // not for this window
        EXPECT_TRUE(Link(window)->isChecked());

        NotifyDone(window);
        EXPECT_FALSE(Link(window)->isChecked());
        EXPECT_FALSE(signalled(request));
        EXPECT_EQ(WindowRegistry::get(id), &window) << "the window stays open";
        Change(opened, 3);
        EXPECT_FALSE(signalled(request));
        Link(window)->click();
        Change(opened, 4);
        EXPECT_TRUE(signalled(request)) << "live mode may be ticked again";
    }
}

TEST_F(PatternTest, ResetNeverSignalsAndWithdrawsAPendingRequest) {
    for (WindowId id :
         {WindowId::FCodec, WindowId::FAudio, WindowId::FRecoder, WindowId::FVocoder}) {
        SCOPED_TRACE(int(id));
        Opened opened = open(id);
        Link(*opened.window)->click();
        Change(opened, 1);
        ASSERT_TRUE(signalled(opened.window->request()));
        Click(*opened.window, "ButDefault");
        EXPECT_FALSE(signalled(opened.window->request()));
        EXPECT_FALSE(Link(*opened.window)->isChecked());
    }
}

TEST_F(PatternTest, CloseButtonAndCloseBoxLeaveTheRecordUnchangedAndWithdraw) {
    const ConfigSnapshot original = record;
    for (WindowId id :
         {WindowId::FCodec, WindowId::FAudio, WindowId::FRecoder, WindowId::FVocoder}) {
        for (bool closeBox : {false, true}) {
            SCOPED_TRACE(int(id) * 10 + closeBox);
            Opened opened = open(id);
            opened.window->show();
            Link(*opened.window)->click();
            Change(opened, 1);
            Click(*opened.window, "ButDefault");
            Link(*opened.window)->click();
            Change(opened, 1);
            ASSERT_TRUE(signalled(opened.window->request()));
            if (closeBox) {
                opened.window->close();
            } else {
                Click(*opened.window, "ButCancel");
            }
            EXPECT_FALSE(opened.window->isVisible());
            EXPECT_FALSE(signalled(opened.window->request()));
            EXPECT_FALSE(Link(*opened.window)->isChecked());
            EXPECT_EQ(WindowRegistry::get(id), nullptr);
            EXPECT_EQ(record.bytes, original.bytes);
        }
    }
}

TEST_F(PatternTest, ClosingTheMdiFrameRunsTheCloseHandling) {
    QMdiArea area;
    auto* window = new TFCodec;
    window->LoadSettings(1, record.data() + ConfigOffset::Codec);
    QPointer<QMdiSubWindow> frame = area.addSubWindow(window);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->show();
    Link(*window)->click();
    Click(*window, "MicBoost");
    ASSERT_TRUE(signalled(WorkerRequest::SendCodec));
    const ConfigSnapshot original = record;

    Click(*window, "ButCancel");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame.isNull());
    EXPECT_FALSE(signalled(WorkerRequest::SendCodec));
    EXPECT_EQ(WindowRegistry::get(WindowId::FCodec), nullptr);
    EXPECT_EQ(record.bytes, original.bytes);
}

TEST_F(PatternTest, WithoutAWorkerChangesOnlyEditTheCopy) {
    SetK350Worker(nullptr);
    Opened opened = open(WindowId::FRecoder);
    Link(*opened.window)->click();
    Click(*opened.window, "TxLed");
    Click(*opened.window, "ButDefault");
    NotifyDone(*opened.window);
    EXPECT_EQ(AskPayload(*opened.window)[1], 0x07);
}

// --- fresh windows, before anything is loaded ---------------------------------------------

struct BarExpected {
    const char* name;
    int minimum, maximum, position, tickInterval, pageStep;
};

void ExpectBars(QWidget& window, std::initializer_list<BarExpected> bars) {
    for (const BarExpected& e : bars) {
        auto* bar = window.findChild<QSlider*>(e.name);
        ASSERT_NE(bar, nullptr) << e.name;
        EXPECT_EQ(bar->orientation(), Qt::Vertical) << e.name;
        EXPECT_TRUE(bar->invertedAppearance()) << e.name << ": minimum at the top";
        EXPECT_EQ(bar->minimum(), e.minimum) << e.name;
        EXPECT_EQ(bar->maximum(), e.maximum) << e.name;
        EXPECT_EQ(bar->value(), e.position) << e.name;
        if (e.tickInterval) {
            EXPECT_EQ(bar->tickInterval(), e.tickInterval) << e.name;
        }
        if (e.pageStep) {
            EXPECT_EQ(bar->pageStep(), e.pageStep) << e.name;
        }
        EXPECT_FALSE(bar->accessibleName().isEmpty()) << e.name;
    }
}

void ExpectTexts(QWidget& window,
                 std::initializer_list<std::pair<const char*, const char*>> texts) {
    for (const auto& [name, text] : texts) {
        QWidget* control = window.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        if (auto* label = qobject_cast<QLabel*>(control)) {
            EXPECT_EQ(label->text(), text) << name;
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            EXPECT_EQ(button->text(), text) << name;
            EXPECT_EQ(button->accessibleName(), text) << name;
        } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
            EXPECT_EQ(group->title(), text) << name;
        }
    }
}

void ExpectItems(RadioGroup* group, const QStringList& items, int selected) {
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count(), items.size()) << group->objectName().toStdString();
    for (int i = 0; i < group->count(); ++i) EXPECT_EQ(group->button(i)->text(), items[i]);
    EXPECT_EQ(group->itemIndex(), selected) << group->objectName().toStdString();
}

QStringList TabTitles(QWidget& window) {
    auto* tabs = window.findChild<QTabWidget*>();
    QStringList titles;
    for (int i = 0; tabs && i < tabs->count(); ++i) titles << tabs->tabText(i);
    return titles;
}

TEST_F(SettingsFormsTest, FreshWindowsShowTheirCaptionsRangesAndInitialStates) {
    TFCodec codec;
    EXPECT_EQ(TabTitles(codec), (QStringList{"Усилители", "Дополнительно"}));
    EXPECT_GE(codec.width(), 357);
    EXPECT_GE(codec.height(), 331);
    ExpectBars(codec, {{"RxLev_1", 0, 31, 8, 1, 0},
                       {"RxLev_2", 0, 31, 8, 1, 0},
                       {"TxLev_1", 48, 127, 54, 2, 0},
                       {"TxLev_2", 48, 127, 54, 2, 0}});
    ExpectTexts(codec, {{"InLev1", "0"},
                        {"InLev2", "0"},
                        {"OutLev1", "0"},
                        {"OutLev2", "0"},
                        {"PwrMic", "Усилитель микрофонного входа"},
                        {"PwrLine", "Усилитель линейного входа"},
                        {"MicMute", "Режим молчания"},
                        {"MicBoost", "Дополнительное усиление +20 дБ"},
                        {"ADCHP", "АЦП ВЧ фильтр "},
                        {"ButDefault", "Сброс"},
                        {"ButOk", "Сохранить"},
                        {"ButCancel", "Закрыть"},
                        {"Link", "Тестирование"},
                        {"INSEL", "Селектор входных каналов"},
                        {"Sample", "Ацп/Цап"},
                        {"DEEMP", "Фильтр частотной коррекции"}});
    for (const char* box : {"PwrMic", "PwrLine", "MicMute", "MicBoost", "ADCHP", "Link"})
        EXPECT_FALSE(Child<QCheckBox>(codec, box)->isChecked()) << box;
    ExpectItems(Child<RadioGroup>(codec, "INSEL"), {"Линейный вход", "Микрофонный вход"}, -1);
    ExpectItems(Child<RadioGroup>(codec, "Sample"),
                {"96/96 кГц", "48/48 кГц", "32/32 кГц", "  8/8   кГц", "48/8  кГц", "8/48  кГц"},
                3);
    EXPECT_FALSE(Child<RadioGroup>(codec, "Sample")->isEnabled());
    ExpectItems(Child<RadioGroup>(codec, "DEEMP"), {"Откл.", "32 кГц", "44.1 кГц", "48 кГц"}, -1);

    TFAudio audio;
    EXPECT_EQ(audio.windowTitle(), "Усилитель НЧ");
    EXPECT_EQ(TabTitles(audio), QStringList{"УНЧ"});
    ExpectBars(audio, {{"Lev", 0, 63, 16, 1, 3}});
    ExpectTexts(audio, {{"Level", "0"}});
    ExpectItems(Child<RadioGroup>(audio, "Mod"), {"СДМ", "ШИМ"}, 0);
    EXPECT_EQ(Child<RadioGroup>(audio, "Mod")->title(), "Модуляция");

    TFRecoder recorder;
    EXPECT_EQ(TabTitles(recorder), (QStringList{"Регистратор", "Уровень RX"}));
    EXPECT_EQ(recorder.findChild<QTabWidget*>()->currentIndex(), 0);
    ExpectBars(
        recorder,
        {{"MicGain", 0, 31, 8, 1, 0}, {"RxGain", 0, 31, 8, 1, 0}, {"RxLvl", 0, 63, 16, 0, 3}});
    ExpectTexts(recorder, {{"Mic", "Микрофон"},
                           {"Rx", "Приемник"},
                           {"PttBut", "Клавиша РТТ"},
                           {"TxLed", "Сигнал TX (индикатор)"},
                           {"RxDispl", "Сигнал RX (дисплей)"},
                           {"RxLed", "Сигнал RX (индикатор)"},
                           {"RxCtrl", "Регулятор громкости"},
                           {"MicGainVal", "0"},
                           {"RxGainVal", "0"},
                           {"RxLvlVal", "0"}});
    for (const char* box : {"Mic", "Rx", "PttBut", "TxLed", "RxDispl", "RxLed", "RxCtrl"})
        EXPECT_FALSE(Child<QCheckBox>(recorder, box)->isChecked()) << box;

    TFVocoder vocoder;
    EXPECT_EQ(vocoder.windowTitle(), "Вокодер");
    EXPECT_EQ(TabTitles(vocoder), QStringList{"Вокодер"});
    ExpectItems(Child<RadioGroup>(vocoder, "Mode"),
                {"6000", "7200", "8000", "11000", "11800", "14400", "17600"}, -1);
    EXPECT_EQ(Child<RadioGroup>(vocoder, "Mode")->title(), "Кодирование (бит/с)");
    ExpectTexts(
        vocoder,
        {{"GroupBox1", "Управление"}, {"CheckBox1", "Режим VAD"}, {"CheckBox2", "Режим DTX"}});
    for (const char* box : {"CheckBox1", "CheckBox2"}) {
        EXPECT_FALSE(Child<QCheckBox>(vocoder, box)->isChecked()) << box;
        EXPECT_FALSE(Child<QCheckBox>(vocoder, box)->isEnabled()) << box;
    }
}

// --- codec ---------------------------------------------------------------------------------

TEST_F(SettingsFormsTest, CodecLiveChangeHandsTheChangedRegisterPair) {
    TFCodec window;
    window.LoadSettings(0, record.data() + ConfigOffset::Codec);
    Link(window)->click();

    Child<QSlider>(window, "TxLev_2")->setValue(50);
    EXPECT_TRUE(signalled(WorkerRequest::SendCodec));
    EXPECT_EQ(AskPayload(window), (Bytes{0x06, 0x7D}));
    EXPECT_EQ(Text(window, "OutLev2"), "+4");

    Child<QSlider>(window, "RxLev_1")->setValue(0);
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 31}));
    EXPECT_EQ(Text(window, "InLev1"), "+12");
    ASSERT_EQ(Child<RadioGroup>(window, "INSEL")->itemIndex(), 1);
    Choose(window, "INSEL", 0);
    EXPECT_EQ(AskPayload(window)[0], 0x08);
    EXPECT_EQ(AskPayload(window)[1] & 0x04, 0);
}

TEST_F(SettingsFormsTest, CodecLoadsByItsRulesAndSaveWritesTheNormalisedBlock) {
    record.bytes[5] = 0x01;   // line amplifier off, microphone amplifier on
    record.bytes[7] = 0x86;   // microphone input, muted, bit 7 passes
    record.bytes[9] = 0x03;   // filter off, de-emphasis 32 kHz
    record.bytes[11] = 0x1C;  // no known rate
    record.bytes[13] = 0x97;
    record.bytes[17] = 0x20;
    record.bytes[19] = 0xFA;
    ASSERT_EQ(record.bytes[15], 0x6C);  // right input keeps its code 12
    TFCodec window;
    window.LoadSettings(0, record.data() + ConfigOffset::Codec);

    EXPECT_EQ(Child<QSlider>(window, "RxLev_1")->value(), 8);
    EXPECT_EQ(Text(window, "InLev1"), "0");
    EXPECT_EQ(Child<QSlider>(window, "TxLev_1")->value(), 48);
    EXPECT_EQ(Text(window, "OutLev1"), "+6");
    EXPECT_EQ(Text(window, "OutLev2"), "+1");
    EXPECT_EQ(Child<RadioGroup>(window, "INSEL")->itemIndex(), 1);
    EXPECT_EQ(Child<RadioGroup>(window, "DEEMP")->itemIndex(), 1);
    EXPECT_EQ(Child<RadioGroup>(window, "Sample")->itemIndex(), 3);
    EXPECT_FALSE(Child<RadioGroup>(window, "Sample")->isEnabled());
    EXPECT_TRUE(Child<QCheckBox>(window, "MicMute")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "MicBoost")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "ADCHP")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "PwrMic")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "PwrLine")->isChecked());
    EXPECT_FALSE(signalled(WorkerRequest::SendCodec));

    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 2, 22),
              (Bytes{0x1E, 0x00, 0x0C, 0x21, 0x08, 0x96, 0x0A, 0x03, 0x10, 0x1C, 0x00,
                     0x17, 0x02, 0x0C, 0x04, 127,  0x06, 122,  0x0E, 0x43, 0x12, 0x01}));
}

TEST_F(SettingsFormsTest, CodecRecognisedRateIsRewrittenWithItsCode) {
    record.bytes[11] = 0xC3;  // bits 5..1 = 1: "48/48 кГц"
    TFCodec window;
    window.LoadSettings(0, record.data() + ConfigOffset::Codec);
    EXPECT_EQ(Child<RadioGroup>(window, "Sample")->itemIndex(), 1);
    EXPECT_EQ(window.editCopy()[11 - 2], 0x02);
}

TEST_F(SettingsFormsTest, CodecResetAndSaveWriteTheDefaults) {
    TFCodec window;
    window.LoadSettings(0, record.data() + ConfigOffset::Codec);
    Child<QSlider>(window, "RxLev_2")->setValue(30);
    Choose(window, "DEEMP", 3);
    Click(window, "ButDefault");
    EXPECT_EQ(Child<QSlider>(window, "RxLev_2")->value(), 8);
    EXPECT_EQ(Child<QSlider>(window, "TxLev_1")->value(), 54);
    EXPECT_EQ(Text(window, "InLev2"), "0");
    EXPECT_EQ(Child<RadioGroup>(window, "DEEMP")->itemIndex(), 0);
    EXPECT_TRUE(Child<QCheckBox>(window, "ADCHP")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "MicMute")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "PwrLine")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "PwrMic")->isChecked());
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 2, 22),
              (Bytes{0x1E, 0x00, 0x0C, 0x22, 0x08, 0x12, 0x0A, 0x00, 0x10, 0x0E, 0x00,
                     23,   0x02, 23,   0x04, 121,  0x06, 121,  0x0E, 0x43, 0x12, 0x01}));
    EXPECT_EQ(WindowRegistry::get(WindowId::FCodec), nullptr);
}

TEST_F(SettingsFormsTest, CodecVariantTexts) {
    struct Expected {
        std::uint8_t model;
        const char *caption, *in1, *out1, *out2;
    };
    for (const Expected& e :
         {Expected{0, "Аудио кодек (K-350A)", "Микрофон", "Гарнитура", "Регистратор"},
          Expected{1, "Аудио кодек (K-350B)", "Приемник", "Микрофон", "Доп. выход"},
          Expected{255, "Аудио кодек (K-350B)", "Приемник", "Микрофон", "Доп. выход"}}) {
        TFCodec window;
        window.LoadSettings(e.model, record.data() + ConfigOffset::Codec);
        EXPECT_EQ(window.windowTitle(), e.caption);
        EXPECT_EQ(Text(window, "LabelIn1"), e.in1);
        EXPECT_EQ(Text(window, "LabelIn2"), "Доп. вход");
        EXPECT_EQ(Text(window, "LabelOut1"), e.out1);
        EXPECT_EQ(Text(window, "LabelOut2"), e.out2);
    }
}

TEST_F(SettingsFormsTest, GainBarsHaveTheHighestGainAtTheTop) {
    TFCodec window;
    window.show();
    QSlider* bar = Child<QSlider>(window, "RxLev_1");
    EXPECT_EQ(bar->value(), 8);
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Up);  // towards the top
    EXPECT_EQ(bar->value(), 7);
    EXPECT_EQ(Text(window, "InLev1"), "+1,5");
    // Between the two smallest positions the handle moves near the top end.
    bar->setValue(bar->minimum());
    const QImage first = bar->grab().toImage();
    bar->setValue(bar->minimum() + 1);
    const QImage second = bar->grab().toImage();
    long rowSum = 0, changed = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            if (first.pixel(x, y) != second.pixel(x, y)) rowSum += y, ++changed;
        }
    }
    ASSERT_GT(changed, 0);
    EXPECT_LT(rowSum / changed, first.height() / 4);
}

TEST_F(SettingsFormsTest, KeyboardAndMouseMovesOfABarSendLiveChanges) {
    TFAudio window;
    window.LoadSettings(record.data() + ConfigOffset::Amplifier);
    window.show();
    Link(window)->click();
    QSlider* bar = Child<QSlider>(window, "Lev");
    bar->setValue(10);
    worker.reset(WorkerRequest::SendAmplifier);

    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_PageUp);  // a page towards the top: louder
    EXPECT_EQ(bar->value(), 7);
    EXPECT_TRUE(signalled(WorkerRequest::SendAmplifier));
    EXPECT_EQ(AskPayload(window), Bytes{56});

    worker.reset(WorkerRequest::SendAmplifier);
    // Dragging the handle down with the mouse: quieter at every step of the way.
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->value();
    option.upsideDown = !bar->invertedAppearance();  // as QSlider states it for vertical bars
    const QPoint handle =
        bar->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, bar)
            .center();
    const auto send = [bar](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, bar->mapToGlobal(at), Qt::LeftButton, held, {});
        QApplication::sendEvent(bar, &event);
    };
    send(QEvent::MouseButtonPress, handle, Qt::LeftButton);
    send(QEvent::MouseMove, handle + QPoint(0, bar->height() / 2), Qt::LeftButton);
    EXPECT_GT(bar->value(), 7);
    EXPECT_TRUE(signalled(WorkerRequest::SendAmplifier)) << "while the handle is still held";
    send(QEvent::MouseButtonRelease, handle + QPoint(0, bar->height() / 2), Qt::NoButton);
    EXPECT_EQ(AskPayload(window), Bytes{std::uint8_t(63 - bar->value())});
}

// --- LF amplifier ------------------------------------------------------------------------

TEST_F(SettingsFormsTest, AmplifierLiveChangesHandTheCommandByte) {
    TFAudio window;
    window.LoadSettings(record.data() + ConfigOffset::Amplifier);
    Link(window)->click();
    Choose(window, "Mod", 1);
    EXPECT_TRUE(signalled(WorkerRequest::SendAmplifier));
    EXPECT_EQ(AskPayload(window), Bytes{0xD5});
    Child<QSlider>(window, "Lev")->setValue(0);
    EXPECT_EQ(AskPayload(window), Bytes{63});
    EXPECT_EQ(Text(window, "Level"), "+9,5");
}

TEST_F(SettingsFormsTest, AmplifierLoadsVolumeAndModulation) {
    const std::pair<std::uint16_t, int> volumes[] = {{47, 16}, {0x0140, 63}};
    const char* labels[] = {"+1,2", "-162,0"};
    for (int i = 0; i < 2; ++i) {
        record.bytes[38] = std::uint8_t(volumes[i].first);
        record.bytes[39] = std::uint8_t(volumes[i].first >> 8);
        record.bytes[40] = i == 0 ? 0xD5 : 0x00;
        record.bytes[41] = 0;
        TFAudio window;
        window.LoadSettings(record.data() + ConfigOffset::Amplifier);
        EXPECT_EQ(Child<QSlider>(window, "Lev")->value(), volumes[i].second);
        EXPECT_EQ(Text(window, "Level"), labels[i]);
        EXPECT_EQ(Child<RadioGroup>(window, "Mod")->itemIndex(), i == 0 ? 1 : 0);
        Click(window, "ButOk");
        EXPECT_EQ(Slice(record, 38, 4), i == 0 ? (Bytes{47, 0, 0xD5, 0}) : (Bytes{0, 0, 0xD6, 0}));
    }
}

TEST_F(SettingsFormsTest, AmplifierLoadEndsLiveModeAndResetWritesTheDefaults) {
    TFAudio window;
    Link(window)->click();
    worker.signal(WorkerRequest::SendAmplifier);
    window.LoadSettings(record.data() + ConfigOffset::Amplifier);
    EXPECT_FALSE(Link(window)->isChecked());
    EXPECT_FALSE(signalled(WorkerRequest::SendAmplifier));

    Click(window, "ButDefault");
    EXPECT_EQ(Child<QSlider>(window, "Lev")->value(), 17);
    EXPECT_EQ(Text(window, "Level"), "+0,5");
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 38, 4), (Bytes{46, 0, 0xD6, 0}));
}

// --- recorder ------------------------------------------------------------------------------

TEST_F(SettingsFormsTest, RecorderResetLiveModeAndTxLedHandTheWholeBlock) {
    TFRecoder window;
    window.LoadSettings(0, record.data() + ConfigOffset::Recorder);
    Click(window, "ButDefault");
    EXPECT_FALSE(signalled(WorkerRequest::SendRecorder));
    Link(window)->click();
    Click(window, "TxLed");
    EXPECT_TRUE(signalled(WorkerRequest::SendRecorder));
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 0x0F, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90}));
}

TEST_F(SettingsFormsTest, RecorderResetAndSaveWriteTheDefaults) {
    record.bytes[31] = 0x7F;
    TFRecoder window;
    window.LoadSettings(0, record.data() + ConfigOffset::Recorder);
    Click(window, "ButDefault");
    EXPECT_TRUE(Child<QCheckBox>(window, "Mic")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isChecked());
    EXPECT_FALSE(Child<QSlider>(window, "RxLvl")->isEnabled());
    EXPECT_EQ(Text(window, "RxLvlVal"), "144");
    EXPECT_EQ(Text(window, "MicGainVal"), "0");
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 30, 8), (Bytes{0x00, 0x07, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90}));
}

TEST_F(SettingsFormsTest, RecorderLoadsGainsAndLevelByTheirLadders) {
    const std::uint8_t block[8] = {0x00, 0x3F, 0xFF, 0xFF, 0x10, 0x04, 0x00, 189};
    std::copy(block, block + 8, record.data() + ConfigOffset::Recorder);
    TFRecoder window;
    window.LoadSettings(0, record.data() + ConfigOffset::Recorder);
    EXPECT_EQ(Child<QSlider>(window, "MicGain")->value(), 12);
    EXPECT_EQ(Text(window, "MicGainVal"), "0");
    EXPECT_EQ(Child<QSlider>(window, "RxGain")->value(), 31);
    EXPECT_EQ(Text(window, "RxGainVal"), "-28,5");
    EXPECT_EQ(Child<QSlider>(window, "RxLvl")->value(), 16);
    EXPECT_EQ(Text(window, "RxLvlVal"), "188");
    for (const char* box : {"Mic", "Rx", "PttBut", "TxLed", "RxDispl", "RxLed"}) {
        EXPECT_TRUE(Child<QCheckBox>(window, box)->isChecked()) << box;
    }
    EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isChecked());
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 0x3F, 0x00, 155, 0x10, 0x1D, 0x00, 188}));
    EXPECT_EQ(window.windowTitle(), "Регистратор (K-350A)");
}

TEST_F(SettingsFormsTest, RecorderVolumeRegulatorEnablesTheRxLevelOnK350A) {
    record.bytes[30] = 0x12;
    record.bytes[31] = 0x00;
    TFRecoder window;
    window.LoadSettings(0, record.data() + ConfigOffset::Recorder);
    QSlider* level = Child<QSlider>(window, "RxLvl");
    EXPECT_TRUE(Child<QCheckBox>(window, "RxCtrl")->isEnabled());
    EXPECT_FALSE(level->isEnabled());
    Click(window, "RxCtrl");
    EXPECT_TRUE(level->isEnabled());
    EXPECT_EQ(AskPayload(window)[1], 0x40);
    EXPECT_EQ(AskPayload(window)[0], 0x12) << "bits 7..15 pass through";
    Click(window, "RxCtrl");
    EXPECT_FALSE(level->isEnabled());
}

TEST_F(SettingsFormsTest, RecorderOnK350BKeepsTheRegulatorBitUntilReset) {
    record.bytes[30] = 0x00;
    record.bytes[31] = 0x41;
    for (std::uint8_t model : {std::uint8_t(1), std::uint8_t(255)}) {
        TFRecoder window;
        window.LoadSettings(model, record.data() + ConfigOffset::Recorder);
        EXPECT_EQ(window.windowTitle(), "Регистратор (K-350B)");
        EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isEnabled());
        EXPECT_FALSE(Child<QSlider>(window, "RxLvl")->isEnabled());
        EXPECT_EQ(AskPayload(window)[1], 0x41);
        Click(window, "Rx");
        EXPECT_EQ(AskPayload(window)[1], 0x43);
        Click(window, "ButOk");
        EXPECT_EQ(record.bytes[31], 0x43);
        record.bytes[31] = 0x41;
    }
    TFRecoder window;
    window.LoadSettings(1, record.data() + ConfigOffset::Recorder);
    Click(window, "ButDefault");
    EXPECT_EQ(AskPayload(window)[1], 0x07);
    EXPECT_FALSE(Child<QSlider>(window, "RxLvl")->isEnabled());
}

// --- vocoder -------------------------------------------------------------------------------

TEST_F(SettingsFormsTest, VocoderLiveChoiceHandsTheWholeBlock) {
    const std::uint8_t block[6] = {0x00, 0x05, 0x12, 0x34, 0x56, 0x78};
    std::copy(block, block + 6, record.data() + ConfigOffset::Vocoder);
    TFVocoder window;
    window.LoadSettings(record.data() + ConfigOffset::Vocoder);
    EXPECT_EQ(Child<RadioGroup>(window, "Mode")->itemIndex(), 3);
    Link(window)->click();
    Choose(window, "Mode", 2);
    EXPECT_TRUE(signalled(WorkerRequest::SendVocoder));
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(Child<QGroupBox>(window, "GroupBox1")->isEnabled());
}

TEST_F(SettingsFormsTest, VocoderLimitsHighCodesAndKeepsUnknownLowOnes) {
    struct Case {
        std::uint8_t high, low;
        int item;
        Bytes saved;
    };
    for (const Case& c : {Case{0x00, 0x09, 6, {0x00, 0x08}}, Case{0xFF, 0xFF, -1, {0xFF, 0xFF}},
                          Case{0x00, 0x01, -1, {0x00, 0x01}}}) {
        const std::uint8_t block[6] = {c.high, c.low, 1, 2, 3, 4};
        std::copy(block, block + 6, record.data() + ConfigOffset::Vocoder);
        TFVocoder window;
        window.LoadSettings(record.data() + ConfigOffset::Vocoder);
        EXPECT_EQ(Child<RadioGroup>(window, "Mode")->itemIndex(), c.item);
        Click(window, "ButOk");
        Bytes expected = c.saved;
        expected.insert(expected.end(), {0, 0, 0, 0});
        EXPECT_EQ(Slice(record, 24, 6), expected);
    }
}

TEST_F(SettingsFormsTest, VocoderResetAndSaveWriteTheDefaults) {
    TFVocoder window;
    window.LoadSettings(record.data() + ConfigOffset::Vocoder);
    Choose(window, "Mode", 0);
    Click(window, "ButDefault");
    EXPECT_EQ(Child<RadioGroup>(window, "Mode")->itemIndex(), 6);
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 24, 6), (Bytes{0x00, 0x08, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
