// Qt's own texts (file, colour, font and print dialogs, standard buttons) in Japanese,
// matching the program's texts whatever the system locale is.
#pragma once

class QCoreApplication;

// Loads Qt's Japanese catalogue when it is installed; false when it is not (Qt's texts
// then stay in English).
bool InstallQtTranslations(QCoreApplication &app);
