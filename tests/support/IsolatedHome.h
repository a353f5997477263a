// A private HOME, XDG folders and TMPDIR in one fresh owner-only folder, removed with the
// object: benchmarks set it up for themselves, tests give it to the programs they start.
// ctest runs every test inside the same layout through tests/run-isolated.sh.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

class IsolatedHome
{
  public:
    // Makes the folder inside the current temporary folder.
    IsolatedHome();

    bool isValid() const { return m_root.isValid(); }
    QString path() const { return m_root.path(); }

    // `base` with HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR
    // (mode 0700) and TMPDIR pointing into path().
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // Sets the same variables in this process; call it before the application object
    // exists and before anything asks for a standard or temporary path.
    void apply() const;

  private:
    QTemporaryDir m_root;
};
