#include "ui/cCommonDlg.h"

#include "ui/HelpWindow.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

#include <cmath>

namespace {

// The error number reported when the chosen path does not fit the MaxFileSize buffer;
// it is the key of its own description in ErrDescription.
constexpr qint32 kErrBufferTooSmall = 20476;
constexpr qint32 kErrHelp = 32751;

quint32 toColorRef(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

QColor fromColorRef(quint32 v)
{
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

// One entry of the converted filter: its description and its ";"-separated patterns.
struct FilterEntry
{
    QString description;
    QString patterns;
};

QList<FilterEntry> filterEntries(const QString &convertedFilter)
{
    const QStringList parts = convertedFilter.split(QChar(0));
    QList<FilterEntry> entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            break;
        entries.append({parts[i], parts[i + 1]});
    }
    return entries;
}

} // namespace

cCommonDlg::cCommonDlg() : m_initDir(QDir::currentPath())
{
    m_fileTitle = QString(254, QLatin1Char(' '));
    m_convertedFilter = QStringLiteral("All Files (*.*)") + QChar(0) + QStringLiteral("*.*") + QChar(0);
}

cCommonDlg::~cCommonDlg() = default;

void cCommonDlg::setFilter(const QString &filter)
{
    m_filter = filter;
    m_convertedFilter = filter;
    m_convertedFilter.replace(QLatin1Char('|'), QChar(0));
    if (!m_convertedFilter.endsWith(QChar(0)))
        m_convertedFilter += QChar(0);
}

QStringList cCommonDlg::nameFilters() const
{
    QStringList filters;
    for (const FilterEntry &entry : filterEntries(m_convertedFilter)) {
        QString patterns = entry.patterns;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // The description is shown as written; the dialog reads the patterns from the
        // trailing parentheses, which HideNameFilterDetails keeps out of sight.
        filters << entry.description + QStringLiteral(" (") + patterns.simplified() + QLatin1Char(')');
    }
    return filters;
}

QString cCommonDlg::patternExtension(const QString &patterns)
{
    for (const QString &pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = pattern.trimmed();
        if (!p.startsWith(QLatin1String("*.")))
            continue;
        const QString extension = p.mid(2);
        const bool concrete = !extension.isEmpty() && !extension.contains(QLatin1Char('*')) &&
                              !extension.contains(QLatin1Char('?')) && !extension.contains(QLatin1Char('['));
        if (concrete)
            return extension;
    }
    return {};
}

void cCommonDlg::ShowOpen()
{
    runFileDialog(ActionOpen);
}

void cCommonDlg::ShowSave()
{
    runFileDialog(ActionSave);
}

void cCommonDlg::runFileDialog(int mode)
{
    m_action = qint16(mode);
    m_return = 0;
    m_errNumber = 0;

    QFileDialog dialog(m_form, m_dialogTitle, m_initDir);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QStringList filters = nameFilters();
    const QList<FilterEntry> entries = filterEntries(m_convertedFilter);
    dialog.setNameFilters(filters);
    const int chosen = filters.isEmpty() ? -1 : qBound(0, m_filterIndex - 1, int(filters.size()) - 1);
    // The dialog names the chosen type as its list shows it: without the patterns that
    // HideNameFilterDetails hides, which leaves our description.
    const auto chosenIndex = [&] {
        const QString shown = dialog.selectedNameFilter();
        for (int i = 0; i < entries.size(); ++i) {
            if (filters[i] == shown || entries[i].description == shown)
                return i;
        }
        return -1;
    };
    if (chosen >= 0)
        dialog.selectNameFilter(filters[chosen]);
    if (!m_defaultExt.isEmpty()) {
        // A name typed without an extension gets the one of the type chosen in the dialog,
        // or DefaultExt when that type has none; the dialog adds it before it asks about
        // overwriting, so the question is about the file that will be written.
        const auto suffixFor = [&](int index) {
            const QString extension = index >= 0 ? patternExtension(entries[index].patterns) : QString();
            return extension.isEmpty() ? m_defaultExt : extension;
        };
        dialog.setDefaultSuffix(suffixFor(chosen));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&] { dialog.setDefaultSuffix(suffixFor(chosenIndex())); });
    }
    if (m_flags & OfnFlags::NoDereferenceLinks)
        dialog.setOption(QFileDialog::DontResolveSymlinks);
    if (mode == ActionSave) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!(m_flags & OfnFlags::OverwritePrompt))
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (m_flags & OfnFlags::AllowMultiSelect)
            dialog.setFileMode(QFileDialog::ExistingFiles);
        else if (m_flags & OfnFlags::FileMustExist)
            dialog.setFileMode(QFileDialog::ExistingFile);
        else
            dialog.setFileMode(QFileDialog::AnyFile);
    }
    if (!m_fileName.isEmpty() && !m_fileName.contains(QChar(0)))
        dialog.selectFile(m_fileName);

    const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    m_cancelButton = false;
    if (!accepted) {
        m_return = 0;
        if (m_cancelError) {
            m_cancelButton = true;
            m_fileName.clear();
        }
        return;
    }

    const QStringList files = dialog.selectedFiles();
    QString result;
    if (files.size() == 1) {
        result = QDir::toNativeSeparators(files.first());
    } else {
        result = QFileInfo(files.first()).absolutePath();
        for (const QString &file : files)
            result += QChar(0) + QFileInfo(file).fileName();
    }
    if (m_maxFileSize > 0 && result.size() > m_maxFileSize - 1) {
        m_return = -1;
        m_errNumber = kErrBufferTooSmall;
        return;
    }
    m_return = 1;
    m_fileName = result;
    m_fileTitle = QFileInfo(files.first()).fileName().trimmed();
    if (const int index = chosenIndex(); index >= 0)
        m_filterIndex = qint16(index + 1);
}

void cCommonDlg::ShowColor()
{
    m_action = ActionColor;
    m_errNumber = 0;
    const QColor chosen = QColorDialog::getColor(fromColorRef(m_color), m_form);
    if (!chosen.isValid()) {
        m_return = 0;
        m_cancelButton = true;
        return;
    }
    m_return = 1;
    m_cancelButton = false;
    m_color = toColorRef(chosen);
}

void cCommonDlg::ShowFont()
{
    QFont initial(m_fontName);
    if (m_fontSize > 0)
        initial.setPointSize(m_fontSize);
    initial.setBold(m_fontBold);
    initial.setItalic(m_fontItalic);
    initial.setUnderline(m_fontUnderline);
    initial.setStrikeOut(m_fontStrikethru);

    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, m_form);
    if (!ok) {
        m_return = 0;
        m_cancelButton = true;
        m_errNumber = 0;
        m_fontBold = m_fontItalic = m_fontUnderline = m_fontStrikethru = false;
        m_fontName.clear();
        m_fontSize = 0;
        m_color = 0;
        return;
    }
    m_return = 1;
    m_cancelButton = false;
    m_fontBold = font.weight() >= QFont::Medium;
    m_fontItalic = font.italic();
    m_fontUnderline = font.underline();
    m_fontStrikethru = font.strikeOut();
    m_fontName = font.family();
    int size = font.pointSizeF() > 0 ? int(std::lround(font.pointSizeF())) : 0;
    if (size == 0 && font.pixelSize() > 0) {
        const int dpi = m_form ? m_form->logicalDpiY() : 96;
        size = int(std::lround(font.pixelSize() * 72.0 / dpi));
    }
    if ((m_flags & CfFlags::LimitSize) && m_max >= m_min && m_max > 0)
        size = qBound(int(m_min), size, int(m_max));
    m_fontSize = qint16(size);
}

void cCommonDlg::ShowPrinter()
{
    m_action = ActionPrint;
    m_errNumber = 0;
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    if (m_copies > 0)
        m_printer->setCopyCount(m_copies);
    QPrintDialog dialog(m_printer.get(), m_form);
    if (m_max > 0 && m_min <= m_max) {
        dialog.setMinMax(m_min, m_max);
        if (m_fromPage > 0 && m_fromPage <= m_toPage && m_fromPage >= m_min && m_toPage <= m_max)
            dialog.setFromTo(m_fromPage, m_toPage);
    }
    if (dialog.exec() != QDialog::Accepted) {
        m_return = 0;
        if (m_cancelError)
            m_cancelButton = true;
        return;
    }
    m_return = 1;
    m_cancelButton = false;
    m_fromPage = m_printer->fromPage();
    m_toPage = m_printer->toPage();
    m_min = dialog.minPage();
    m_max = dialog.maxPage();
    m_copies = m_printer->copyCount();
}

void cCommonDlg::ShowHelp()
{
    if (m_helpFile.isEmpty() || m_helpCommand == 0)
        return;
    m_action = ActionHelp;
    if (!HelpWindow::showHelp(m_helpFile, m_form))
        m_errNumber = kErrHelp;
}

void cCommonDlg::setForm(QWidget *form)
{
    m_form = form;
    if (!form)
        return;
    const QFont font = form->font();
    m_fontBold = font.bold();
    m_fontItalic = font.italic();
    m_fontName = font.family();
    m_fontSize = qint16(font.pointSizeF() > 0 ? std::lround(font.pointSizeF()) : 0);
    m_fontStrikethru = font.strikeOut();
    m_fontUnderline = font.underline();
}

void cCommonDlg::setAction(qint16 action)
{
    m_action = action;
    if (action == ActionOpen)
        ShowOpen();
    else if (action == ActionSave)
        ShowSave();
    else if (action == ActionHelp)
        ShowHelp();
}

QString cCommonDlg::ErrDescription(qint32 number)
{
    switch (number) {
    case 20476:
        return QStringLiteral("メンバ lpstrFile が指すバッファが小さすぎます。");
    case 20477:
        return QStringLiteral("ファイル名が無効です。");
    case 20478:
        return QStringLiteral("メモリ不足のために、リスト ボックスをサブクラス化できません。");
    case 24574:
        return QStringLiteral("フォントが存在しません。");
    case 28660:
        return QStringLiteral(
            "WIN.INI ファイル内の [devices] セクションに、必要なプリンタについてのエントリがありません。");
    case 28661:
        return QStringLiteral("PrintDlg 関数が情報コンテキストを作成できません。");
    case 28662:
        return QStringLiteral(
            "DevMode データ構造と DevNames データ構造のデータが異なるプリンタを指しています。");
    case 28663:
        return QStringLiteral("通常使うプリンタが設定されていません。");
    case 28664:
        return QStringLiteral("プリンタ ドライバが見つかりません。");
    case 28665:
        return QStringLiteral("PrintDlg 関数を初期化できません。");
    case 28666:
        return QStringLiteral("プリンタ ドライバが DevMode データ構造を初期化できません。");
    case 28667:
        return QStringLiteral("PrintDlg 関数が、指定したプリンタ ドライバをロードできません。");
    case 28668:
    case 28671:
        return QStringLiteral(
            "PDReturnDefault フラグが設定されていますが、hDevMode フィールドまたは hDevNames "
            "フィールドが 0 ではありません。");
    case 28669:
        return QStringLiteral(
            "CommonDialog 関数が WIN.INI の [devices] セクションの文字列を解析できません。");
    case 28670:
        return QStringLiteral("必要なリソースを読み込めません。");
    case 32751:
        return QStringLiteral("Microsoft Windows のヘルプを呼び出せません。");
    case 32752:
        return QStringLiteral("FileName プロパティまたは Filter プロパティにメモリを割り当てられません。");
    case 32755:
        return QStringLiteral("[キャンセル] ボタンが選択されました。");
    case 32757:
        return QStringLiteral("関数が、ハンドルに関連付けられたメモリをロックできません。");
    case 32758:
        return QStringLiteral("関数が、内部のデータ構造にメモリを割り当てられません。");
    case 32759:
        return QStringLiteral("関数が指定したリソースをロックできません。");
    case 32760:
    case 32761:
        return QStringLiteral("関数が指定したリソースをロードできません。");
    case 32765:
        return QStringLiteral("関数を初期化できません。");
    case -32768:
        return QStringLiteral("関数がダイアログ ボックスをロードできません。");
    default:
        return QStringLiteral("未知のｴﾗｰです。");
    }
}

QString CMDFileDialog(int mode, QWidget *owner, const QString &title, const QString &filter,
                      const QString &initDir, const QString &fileName, int *chosenType)
{
    cCommonDlg dialog;
    dialog.setForm(owner);
    dialog.setInitDir(initDir);
    dialog.setDialogTitle(title);
    dialog.setFilter(filter);
    dialog.setFileName(fileName);
    dialog.setCancelError(true);
    using namespace OfnFlags;
    if (mode == 0) {
        dialog.setFlags(HideReadOnly | PathMustExist | FileMustExist | Explorer | LongNames);
        dialog.ShowOpen();
    } else if (mode == 1) {
        dialog.setFlags(HideReadOnly | AllowMultiSelect | PathMustExist | FileMustExist | Explorer |
                        NoDereferenceLinks | LongNames);
        // Several names with their folder need more room than one path.
        dialog.setMaxFileSize(32767);
        dialog.ShowOpen();
    } else {
        dialog.setFlags(HideReadOnly | OverwritePrompt | PathMustExist | Explorer | LongNames);
        const QList<FilterEntry> entries = filterEntries(dialog.convertedFilter());
        dialog.setDefaultExt(entries.isEmpty() ? QString()
                                               : cCommonDlg::patternExtension(entries[0].patterns));
        dialog.ShowSave();
    }
    if (chosenType)
        *chosenType = dialog.FilterIndex();
    return dialog.CancelButton() ? QString() : dialog.FileName();
}
