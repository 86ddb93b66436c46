// The settings windows opened from the device tree in live mode, with the
// simulated board taking their commands and the worker run on the test's thread.
#include <QCheckBox>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "editors/AudioForm.h"
#include "editors/CodecForm.h"
#include "editors/RadioGroup.h"
#include "editors/RecoderForm.h"
#include "editors/VocoderForm.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/WindowControls.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class EditorsLiveTest : public ShellFixture {
protected:
    template <class Window>
    Window* open(const QString& node, WindowId id) {
        installConfig(0);
        doubleClickNode(node);
        auto* window = WindowRegistry::Find<Window>(id);
        EXPECT_NE(window, nullptr) << node.toStdString();
        if (window) QTest::mouseClick(child<QCheckBox>(window, "Link"), Qt::LeftButton);
        return window;
    }
    template <class T>
    static T* child(QObject* window, const char* name) {
        return NamedControl<T>(*window, name);
    }
    static void choose(QObject* window, const char* group, int item) {
        // On the indicator: a radio button takes clicks on its indicator and text only.
        QRadioButton* button = child<RadioGroup>(window, group)->button(item);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
};

TEST_F(EditorsLiveTest, CodecChangeReachesTheBoardsCodec) {
    auto* codec = open<TFCodec>("Кодек", WindowId::FCodec);
    ASSERT_NE(codec, nullptr);
    child<QSlider>(codec, "TxLev_2")->setValue(50);
    runWorker();
    ASSERT_EQ(k350sim::codecWrites(board_).size(), 1u);
    EXPECT_EQ(k350sim::codecRegisters(board_)[3], 0x7D);
    EXPECT_TRUE(child<QCheckBox>(codec, "Link")->isChecked());
}

TEST_F(EditorsLiveTest, AmplifierRecorderAndVocoderChangesReachTheBoard) {
    auto* audio = open<TFAudio>("Усилитель НЧ", WindowId::FAudio);
    ASSERT_NE(audio, nullptr);
    choose(audio, "Mod", 1);
    runWorker();
    EXPECT_EQ(k350sim::amplifierBytes(board_), Bytes{0xD5});

    auto* recorder = open<TFRecoder>("Регистратор", WindowId::FRecoder);
    ASSERT_NE(recorder, nullptr);
    QTest::mouseClick(child<QCheckBox>(recorder, "TxLed"), Qt::LeftButton);
    runWorker();
    const Bytes recorderBytes = k350sim::recorderSettings(board_);
    ASSERT_EQ(recorderBytes.size(), 8u);
    EXPECT_EQ(recorderBytes[1] & 0x08, 0x08);

    auto* vocoder = open<TFVocoder>("Вокодер", WindowId::FVocoder);
    ASSERT_NE(vocoder, nullptr);
    choose(vocoder, "Mode", 2);
    runWorker();
    EXPECT_EQ(k350sim::vocoderSettings(board_), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(EditorsLiveTest, WithoutABoardLiveModeEndsAndTheFailureIsLogged) {
    auto* codec = open<TFCodec>("Кодек", WindowId::FCodec);
    ASSERT_NE(codec, nullptr);
    k350sim::unplug(board_);
    const QString logBefore = window().logText();
    QTest::mouseClick(child<QCheckBox>(codec, "MicBoost"), Qt::LeftButton);
    runWorker();
    EXPECT_FALSE(child<QCheckBox>(codec, "Link")->isChecked());
    EXPECT_GT(window().logText().size(), logBefore.size());
    EXPECT_EQ(WindowRegistry::Find<TFCodec>(WindowId::FCodec), codec) << "stays open";
    EXPECT_FALSE(window().session().worker().isSignalled(WorkerRequest::SendCodec));
}

TEST_F(EditorsLiveTest, AWindowClosedBeforeTheWorkerAsksSendsNothing) {
    QPointer<TFCodec> codec = open<TFCodec>("Кодек", WindowId::FCodec);
    ASSERT_FALSE(codec.isNull());
    child<QSlider>(codec, "RxLev_1")->setValue(3);
    // The window goes while the worker opens the link, after it took the request.
    k350sim::setReplyHook([&](k350sim::DeviceId, const Bytes&, Bytes&) {
        if (codec) codec->closeWindow();
        return 0;
    });
    runWorker();
    k350sim::setReplyHook({});
    EXPECT_EQ(WindowRegistry::Get(WindowId::FCodec), nullptr);
    EXPECT_TRUE(k350sim::codecWrites(board_).empty());
}

}  // namespace
