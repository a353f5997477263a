// The standard dialogs (open, save, colour, font, print, help) behind one property-and-
// method object, so that windows ask for a file name, a colour or a font without building
// the dialogs themselves. Every Show call is modal; nothing is held between calls.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QtGlobal>

#include <memory>

class QPrinter;

// Flags of the file dialogs, with the values the callers pass.
namespace OfnFlags {
inline constexpr quint32 OverwritePrompt = 0x2;
inline constexpr quint32 HideReadOnly = 0x4;
inline constexpr quint32 AllowMultiSelect = 0x200;
inline constexpr quint32 PathMustExist = 0x800;
inline constexpr quint32 FileMustExist = 0x1000;
inline constexpr quint32 Explorer = 0x80000;
inline constexpr quint32 NoDereferenceLinks = 0x100000;
inline constexpr quint32 LongNames = 0x200000;
} // namespace OfnFlags

// Flags of the font dialog.
namespace CfFlags {
inline constexpr quint32 ScreenFonts = 0x1;
// Sizes limited to Min..Max.
inline constexpr quint32 LimitSize = 0x2000;
} // namespace CfFlags

class cCommonDlg
{
  public:
    cCommonDlg();
    ~cCommonDlg();
    cCommonDlg(const cCommonDlg &) = delete;
    cCommonDlg &operator=(const cCommonDlg &) = delete;

    enum ActionKind : qint16 {
        ActionOpen = 1,
        ActionSave = 2,
        ActionColor = 3,
        ActionPrint = 5,
        ActionHelp = 6
    };

    // "desc|pattern|desc|pattern|": read back as given; the converted form has every "|"
    // as a NUL and ends in exactly one added NUL unless the text already ends in one.
    void setFilter(const QString &filter);
    QString Filter() const { return m_filter; }
    QString convertedFilter() const { return m_convertedFilter; }
    // The converted filter as the file dialog's entries ("desc (*.a *.b)").
    QStringList nameFilters() const;
    // The extension a save adds for an entry's patterns: the first concrete one ("jpg" of
    // "*.jpg;*.jpeg"), "" when there is none ("*.*").
    static QString patternExtension(const QString &patterns);

    void setMaxFileSize(qint32 size) { m_maxFileSize = size; }
    void setDialogTitle(const QString &title) { m_dialogTitle = title; }
    void setInitDir(const QString &dir) { m_initDir = dir; }
    QString FileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    QString FileTitle() const { return m_fileTitle; }
    void setFileTitle(const QString &title) { m_fileTitle = title; }
    // 1-based; after an accepted file dialog, the type the user chose.
    qint16 FilterIndex() const { return m_filterIndex; }
    void setFilterIndex(qint16 index) { m_filterIndex = index; }
    void setFlags(quint32 flags) { m_flags = flags; }
    quint32 Flags() const { return m_flags; }
    // When set, a save whose name was typed without an extension gets the chosen type's
    // extension, or this one when that type has none.
    void setDefaultExt(const QString &ext) { m_defaultExt = ext; }

    // File dialogs. With several files chosen, FileName is the folder, a NUL and the
    // NUL-separated names; with one file it is the full path.
    void ShowOpen();
    void ShowSave();

    // Colour as a 0x00BBGGRR value.
    quint32 Color() const { return m_color; }
    void setColor(quint32 color) { m_color = color; }
    void ShowColor();

    // The font dialog; a cancel resets every font property and Color.
    void ShowFont();
    QString FontName() const { return m_fontName; }
    void setFontName(const QString &name) { m_fontName = name; }
    qint16 FontSize() const { return m_fontSize; }
    void setFontSize(qint16 size) { m_fontSize = size; }
    bool FontBold() const { return m_fontBold; }
    void setFontBold(bool on) { m_fontBold = on; }
    bool FontItalic() const { return m_fontItalic; }
    void setFontItalic(bool on) { m_fontItalic = on; }
    bool FontStrikethru() const { return m_fontStrikethru; }
    void setFontStrikethru(bool on) { m_fontStrikethru = on; }
    bool FontUnderline() const { return m_fontUnderline; }
    void setFontUnderline(bool on) { m_fontUnderline = on; }
    qint32 Min() const { return m_min; }
    void setMin(qint32 v) { m_min = v; }
    qint32 Max() const { return m_max; }
    void setMax(qint32 v) { m_max = v; }

    // The print dialog; the printer chosen stays available through printer().
    void ShowPrinter();
    QPrinter *printer() const { return m_printer.get(); }
    qint32 hdc() const { return m_hdc; }
    void sethdc(qint32 v) { m_hdc = v; }
    qint32 FromPage() const { return m_fromPage; }
    void setFromPage(qint32 v) { m_fromPage = v; }
    qint32 ToPage() const { return m_toPage; }
    void setToPage(qint32 v) { m_toPage = v; }
    qint32 Copies() const { return m_copies; }
    void setCopies(qint32 v) { m_copies = v; }
    qint32 PrinterDefault() const { return m_printerDefault; }
    void setPrinterDefault(qint32 v) { m_printerDefault = v; }

    // Help: shown only with a HelpFile and a non-zero HelpCommand; "ZORVIN.HLP" is the
    // program's own help page.
    void ShowHelp();
    QString HelpFile() const { return m_helpFile; }
    void setHelpFile(const QString &file) { m_helpFile = file; }
    qint32 HelpCommand() const { return m_helpCommand; }
    void setHelpCommand(qint32 v) { m_helpCommand = v; }
    qint32 HelpContext() const { return m_helpContext; }
    void setHelpContext(qint32 v) { m_helpContext = v; }
    QString HelpKey() const { return m_helpKey; }
    void setHelpKey(const QString &key) { m_helpKey = key; }
    static constexpr qint32 kHelpContents = 11;

    // The owner window; setting it copies the window's font into the font properties.
    QWidget *Form() const { return m_form; }
    void setForm(QWidget *form);

    bool CancelError() const { return m_cancelError; }
    void setCancelError(bool on) { m_cancelError = on; }
    bool CancelButton() const { return m_cancelButton; }
    qint16 Action() const { return m_action; }
    // 1 runs ShowOpen, 2 ShowSave, 6 ShowHelp; other values are only stored.
    void setAction(qint16 action);
    qint32 ErrNumber() const { return m_errNumber; }
    QString ErrDescription() const { return ErrDescription(m_errNumber); }
    static QString ErrDescription(qint32 number);
    // The raw result of the last dialog: 1 accepted, 0 cancelled.
    qint32 lastReturn() const { return m_return; }

  private:
    void runFileDialog(int mode);

    QString m_filter;
    QString m_convertedFilter;
    qint16 m_filterIndex = 0;
    QString m_fileName;
    QString m_fileTitle;
    QString m_dialogTitle = QStringLiteral("Open File");
    QString m_initDir;
    QString m_defaultExt;
    qint32 m_maxFileSize = 255;
    quint32 m_flags = 0;
    quint32 m_color = 0;
    QString m_fontName;
    qint16 m_fontSize = 0;
    bool m_fontBold = false, m_fontItalic = false, m_fontStrikethru = false, m_fontUnderline = false;
    qint32 m_min = 0, m_max = 0;
    qint32 m_hdc = 0, m_fromPage = 0, m_toPage = 0, m_copies = 0, m_printerDefault = 0;
    std::unique_ptr<QPrinter> m_printer;
    QString m_helpFile;
    qint32 m_helpCommand = 0, m_helpContext = 0;
    QString m_helpKey;
    QPointer<QWidget> m_form;
    bool m_cancelError = false;
    bool m_cancelButton = false;
    qint16 m_action = 0;
    qint32 m_errNumber = 0;
    qint32 m_return = 0;
};

// The file dialog helper of the resident window: mode 0 opens one existing file, 1 opens
// several, any other value saves (asking before overwriting; a name without an extension
// gets the chosen type's). `fileName` is the name proposed in the dialog. Returns the
// chosen path (for several files: the folder, a NUL and the NUL-separated names) or ""
// when cancelled; *chosenType receives the number (from 1) of the type chosen in the list.
QString CMDFileDialog(int mode, QWidget *owner, const QString &title, const QString &filter,
                      const QString &initDir, const QString &fileName = QString(), int *chosenType = nullptr);
