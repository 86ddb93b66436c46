// What every settings window shares (SettingsForm, GainBar, RadioGroup): live
// mode, reset, closing, the fresh windows' controls and the gain bars.
#include "tests/support/SettingsFormFixture.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

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
                w->LoadSettings(0, record.codec());
                return {std::move(w), "PwrMic"};
            }
            case WindowId::FAudio: {
                auto w = std::make_unique<TFAudio>();
                w->LoadSettings(record.amplifier());
                return {std::move(w), nullptr};
            }
            case WindowId::FRecoder: {
                auto w = std::make_unique<TFRecoder>();
                w->LoadSettings(0, record.recorder());
                return {std::move(w), "TxLed"};
            }
            default: {
                auto w = std::make_unique<TFVocoder>();
                w->LoadSettings(record.vocoder());
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
        EXPECT_EQ(WindowRegistry::Get(id), &window) << "the window stays open";
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
            EXPECT_EQ(WindowRegistry::Get(id), nullptr);
            EXPECT_EQ(record.bytes, original.bytes);
        }
    }
}

TEST_F(PatternTest, ClosingTheMdiFrameRunsTheCloseHandling) {
    QMdiArea area;
    auto* window = new TFCodec;
    window->LoadSettings(1, record.codec());
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
    EXPECT_EQ(WindowRegistry::Get(WindowId::FCodec), nullptr);
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
    window.LoadSettings(record.amplifier());
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

}  // namespace
