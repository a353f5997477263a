#include "ui/ProgramPicker.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace {

const QString kPrograms = QStringLiteral("ﾌﾟﾛｸﾞﾗﾑ (*)");
const QString kAllFiles = QStringLiteral("すべてのﾌｧｲﾙ (*)");

// No glob pattern says "executable", so the programs entry filters the dialog's file model.
class ExecutableFilter : public QSortFilterProxyModel
{
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setProgramsOnly(bool on)
    {
        m_programsOnly = on;
        invalidateFilter();
    }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (!m_programsOnly)
            return true;
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (!files)
            return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }

  private:
    bool m_programsOnly = true;
};

} // namespace

QString ChooseProgram(QWidget *owner, const QString &title, const QString &startDir)
{
    QFileDialog dialog(owner, title, startDir);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    auto *filter = new ExecutableFilter(&dialog);
    dialog.setProxyModel(filter);
    dialog.setNameFilters({kPrograms, kAllFiles});
    dialog.selectNameFilter(kPrograms);
    QObject::connect(&dialog, &QFileDialog::filterSelected, filter,
                     [filter](const QString &chosen) { filter->setProgramsOnly(chosen == kPrograms); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
