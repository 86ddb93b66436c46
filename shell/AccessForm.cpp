#include "shell/AccessForm.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "config/ServiceCodes.h"
#include "ui/Buttons.h"

TFAccess::TFAccess(QWidget* parent) : QDialog(parent) {
    setObjectName("FAccess");
    setWindowTitle("Выбор режима работы");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(237, 111);
    setModal(true);

    Label1 = new QLabel("Введите сервисный код", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(16, 12, 205, 17);
    EAccess = new QLineEdit(this);
    EAccess->setObjectName("EAccess");
    EAccess->setAccessibleName("Введите сервисный код");
    EAccess->setGeometry(50, 38, 137, 21);
    EAccess->installEventFilter(this);
    BClose = MakeButton("Ввод", "BClose", this);
    BClose->setGeometry(81, 72, 75, 25);
    BClose->setAutoDefault(false);
    connect(BClose, &QPushButton::clicked, this, &QWidget::close);
}

std::optional<ServiceLevel> TFAccess::levelForCode(const QString& code) {
    return ServiceLevelForCode(code.toStdString());
}

// Every way of closing ends here (close box and close() through reject()).
void TFAccess::done(int result) {
    granted_ = levelForCode(EAccess->text());
    QDialog::done(result);
}

bool TFAccess::eventFilter(QObject* watched, QEvent* event) {
    if (watched == EAccess && IsEnterPress(event)) {
        close();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// There is no cancel button: Escape closes nothing, wherever the focus is. Enter closes as "Ввод"
// does, also on the button itself (it is no default button, so the dialog would ignore the key).
void TFAccess::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) return;
    if (IsEnterKey(event)) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}
