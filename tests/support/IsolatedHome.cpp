#include "support/IsolatedHome.h"

#include <QDir>
#include <QFile>

#include <utility>

namespace {

// Variable and folder name; the same layout as tests/run-isolated.sh.
constexpr std::pair<const char *, const char *> kFolders[] = {
    {"HOME", "home"},
    {"XDG_CONFIG_HOME", "config"},
    {"XDG_DATA_HOME", "data"},
    {"XDG_CACHE_HOME", "cache"},
    {"XDG_RUNTIME_DIR", "runtime"},
    {"TMPDIR", "tmp"},
};

} // namespace

IsolatedHome::IsolatedHome() : m_root(QDir::tempPath() + QStringLiteral("/isolated-XXXXXX"))
{
    if (!m_root.isValid())
        return;
    for (const auto &[variable, folder] : kFolders) {
        const QString dir = m_root.filePath(QString::fromLatin1(folder));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

QProcessEnvironment IsolatedHome::environment(QProcessEnvironment base) const
{
    for (const auto &[variable, folder] : kFolders)
        base.insert(QString::fromLatin1(variable), m_root.filePath(QString::fromLatin1(folder)));
    return base;
}

void IsolatedHome::apply() const
{
    for (const auto &[variable, folder] : kFolders)
        qputenv(variable, QFile::encodeName(m_root.filePath(QString::fromLatin1(folder))));
}
