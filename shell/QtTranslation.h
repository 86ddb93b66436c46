// Qt's own texts (message box buttons, file dialogs, the MDI system menu) in
// Russian, like the rest of the terminal, whatever the system's locale.
#pragma once

class QCoreApplication;

// Loads Qt's Russian translation into the application; false when the
// translation is not installed (Qt's English texts then stay).
bool InstallQtRussianTranslation(QCoreApplication& application);
