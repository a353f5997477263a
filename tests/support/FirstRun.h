// Start-up asks a new user for a name and a group; tests that start a copy for something
// else mark their data folder as past that question.
#pragma once

#include "base/SettingsFile.h"

#include <QDir>
#include <QString>

inline void skipFirstRunPrompt(const QString &dataDir)
{
    SettingsFile(QDir(dataDir).filePath(QStringLiteral("zorvin.ini")))
        .WriteSetting(QLatin1String(kSectionSettings), QStringLiteral("ZorvinOpMsg"), QStringLiteral("1"));
}
