// Base of the codec, LF amplifier, recorder and vocoder windows: an edit copy
// of one block of the configuration, written back only on "Сохранить", and a
// live mode ("Тестирование") in which every change asks the worker to send
// the window's payload to the running board.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

#include "ui/TaskWindow.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;

class SettingsForm : public TaskWindow {
    Q_OBJECT
public:
    SettingsForm(WindowId id, WorkerRequest request, QWidget* parent);

    // 5: the live command failed, live mode ends. 11: write the payload at the
    // address given; the worker sends exactly payloadLength() bytes from there.
    void onWorkerNotification(const WorkerNotification& notification) override;

    bool isLive() const;
    // "Закрыть" drops the edit copy without a question: Escape closes only an unedited window.
    bool closesOnEscape() const override { return !edited_; }
    WorkerRequest request() const { return request_; }
    std::size_t payloadLength() const { return LivePayloadLength(request_); }

protected:
    // The window's own part.
    virtual void writePayload(std::uint8_t* at) const = 0;
    virtual void resetToDefaults() = 0;  // controls and edit copy, nothing sent
    virtual void saveToBlock() = 0;      // edit copy over the block of the record

    // After each change the user makes: in live mode, asks for a live command.
    void settingChanged();
    // Unticks "Тестирование" and withdraws a request the worker has not taken.
    void endLiveMode();
    void formClose() override;

    QWidget* addPage(const QString& title);
    // Fixes the frame at this client size, or larger where the captions need it
    // (the tab row included).
    void fixSize(int width, int height);
    // A vertical bar whose minimum is at the top, and its value label.
    static QSlider* makeBar(QWidget* parent, const char* name, int minimum, int maximum,
                            int tickInterval);
    static QLabel* makeValueLabel(QWidget* parent, const char* name);
    // A titled group with a value label above a bar of 0..maximum, a page of
    // three steps, at the given position; the bar is named by the group's title.
    struct LevelGroup {
        QGroupBox* group;
        QLabel* value;
        QSlider* bar;
    };
    static LevelGroup makeLevelGroup(QWidget* parent, const QString& title, const char* valueName,
                                     const char* barName, int maximum, int position);
    static QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QString& caption);
    static void setQuietly(QSlider* bar, int position);
    static void setQuietly(QCheckBox* box, bool ticked);

    QTabWidget* tabs_ = nullptr;
    QCheckBox* Link = nullptr;
    QPushButton* ButDefault = nullptr;
    QPushButton* ButOk = nullptr;
    QPushButton* ButCancel = nullptr;

private:
    void ButDefaultClick();
    void ButOkClick();
    void ButCancelClick();
    void buildFrame();

    WorkerRequest request_;
    bool edited_ = false;
};
