// TFAccess: asks for a service code; whatever closes it (the button, Enter,
// the close box) decides the level the code grants.
#pragma once

#include <QDialog>
#include <optional>

#include "config/ServiceLevel.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TFAccess : public QDialog {
    Q_OBJECT
public:
    explicit TFAccess(QWidget* parent = nullptr);

    // The level of the code entered, none for any other text; set on closing.
    std::optional<ServiceLevel> grantedLevel() const { return granted_; }
    // Exact comparison: every character and its case, nothing trimmed.
    static std::optional<ServiceLevel> levelForCode(const QString& code);

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* Label1 = nullptr;
    QLineEdit* EAccess = nullptr;
    QPushButton* BClose = nullptr;
    std::optional<ServiceLevel> granted_;
};
