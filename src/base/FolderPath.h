// Folder texts joined with names. Every folder of the process context (ModZorvin) ends
// with "/"; folders that come from the settings keep the form the user stored and are
// joined through these, so a name is never glued to the folder's last component.
#pragma once

#include <QString>

namespace FolderPath {

// The folder with a trailing "/" added when it has none; "" stays "".
inline QString withSlash(const QString &folder)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

// `name` inside `folder`, whether or not the folder text ends with "/".
inline QString join(const QString &folder, const QString &name)
{
    return withSlash(folder) + name;
}

} // namespace FolderPath
