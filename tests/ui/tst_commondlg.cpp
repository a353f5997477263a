// The common dialog wrapper driven through its real Qt dialogs: filter conversion, the
// three file-dialog modes of CMDFileDialog, cancel rules, the colour's byte order, the font
// reset on cancel, the help window and the error texts.
#include "ui/cCommonDlg.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

namespace {

// Runs `answer` on the next modal dialog of type T once it is up.
template <typename T> void whenDialogShows(std::function<void(T *)> answer)
{
    QTimer::singleShot(0, qApp, [answer] {
        T *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<T *>(QApplication::activeModalWidget())));
        answer(dialog);
    });
}

void typeFileName(QFileDialog *dialog, const QString &text)
{
    dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(text);
    QMetaObject::invokeMethod(dialog, "accept");
}

void cancel(QDialog *dialog)
{
    QMetaObject::invokeMethod(dialog, "reject");
}

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

class TstCommonDlg : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void filterConversion_data();
    void filterConversion();
    void nameFiltersKeepTheDescriptions();
    void openOneFileGivesItsPath();
    void openSeveralFilesGivesFolderAndNames();
    void saveModeAcceptsANewName();
    void cancelEmptiesFileNameOnlyWithCancelError();
    void saveAddsTheChosenTypesExtensionBeforeAskingToOverwrite();
    void aPathLongerThanTheBufferIsAnError();
    void colorIsKeptAsBlueGreenRed();
    void fontDialogReportsTheChoiceAndResetsOnCancel();
    void helpNeedsAFileAndACommand();
    void errorTexts();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstCommonDlg::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TstCommonDlg::filterConversion_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("converted");
    const QChar nul(0);
    QTest::newRow("ends in a separator") << QStringLiteral("ｻｳﾝﾄﾞﾌｧｲﾙ|*.wav|")
                                         << QStringLiteral("ｻｳﾝﾄﾞﾌｧｲﾙ") + nul + QStringLiteral("*.wav") + nul;
    QTest::newRow("no final separator") << QStringLiteral("a|*.a|b|*.b")
                                        << QStringLiteral("a") + nul + QStringLiteral("*.a") + nul +
                                               QStringLiteral("b") + nul + QStringLiteral("*.b") + nul;
    QTest::newRow("empty") << QString() << QString(nul);
}

void TstCommonDlg::filterConversion()
{
    QFETCH(QString, filter);
    QFETCH(QString, converted);
    cCommonDlg dialog;
    QCOMPARE(dialog.convertedFilter(),
             QStringLiteral("All Files (*.*)") + QChar(0) + QStringLiteral("*.*") + QChar(0));
    dialog.setFilter(filter);
    QCOMPARE(dialog.Filter(), filter);
    QCOMPARE(dialog.convertedFilter(), converted);
}

void TstCommonDlg::nameFiltersKeepTheDescriptions()
{
    cCommonDlg dialog;
    dialog.setFilter(QStringLiteral("ﾋﾟｸﾁｬｰﾌｧｲﾙ|*.bmp;*.jpg|JPGﾌｧｲﾙ(*.jpg;*.jpeg)|*.jpg;*.jpeg|"));
    QCOMPARE(dialog.nameFilters(), (QStringList{QStringLiteral("ﾋﾟｸﾁｬｰﾌｧｲﾙ (*.bmp *.jpg)"),
                                                QStringLiteral("JPGﾌｧｲﾙ(*.jpg;*.jpeg) (*.jpg *.jpeg)")}));
}

void TstCommonDlg::openOneFileGivesItsPath()
{
    touch(m_dir->filePath(QStringLiteral("a.bmp")));
    QString title;
    whenDialogShows<QFileDialog>([&](QFileDialog *d) {
        title = d->windowTitle();
        typeFileName(d, QStringLiteral("a.bmp"));
    });
    QCOMPARE(
        CMDFileDialog(0, nullptr, QStringLiteral("画像を開く"), QStringLiteral("BMP|*.bmp|"), m_dir->path()),
        m_dir->filePath(QStringLiteral("a.bmp")));
    QCOMPARE(title, QStringLiteral("画像を開く"));

    // Mode 0 insists on an existing file: a made-up name brings a warning instead of an
    // answer, and the user can only cancel.
    bool warned = false;
    whenDialogShows<QFileDialog>([&warned](QFileDialog *d) {
        QTimer::singleShot(0, d, [d, &warned] {
            QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
            warned = true;
            QApplication::activeModalWidget()->close();
            cancel(d);
        });
        typeFileName(d, QStringLiteral("missing.bmp"));
    });
    QCOMPARE(CMDFileDialog(0, nullptr, QString(), QStringLiteral("BMP|*.bmp|"), m_dir->path()), QString());
    QVERIFY(warned);
}

void TstCommonDlg::openSeveralFilesGivesFolderAndNames()
{
    touch(m_dir->filePath(QStringLiteral("one.txt")));
    touch(m_dir->filePath(QStringLiteral("two.txt")));
    whenDialogShows<QFileDialog>(
        [](QFileDialog *d) { typeFileName(d, QStringLiteral("\"one.txt\" \"two.txt\"")); });
    const QString result = CMDFileDialog(1, nullptr, QString(), QStringLiteral("*|*.*|"), m_dir->path());
    const QStringList parts = result.split(QChar(0));
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0], QDir(m_dir->path()).absolutePath());
    QCOMPARE(QSet<QString>(parts.begin() + 1, parts.end()),
             (QSet<QString>{QStringLiteral("one.txt"), QStringLiteral("two.txt")}));
}

void TstCommonDlg::saveModeAcceptsANewName()
{
    whenDialogShows<QFileDialog>([](QFileDialog *d) {
        QCOMPARE(d->acceptMode(), QFileDialog::AcceptSave);
        typeFileName(d, QStringLiteral("new.png"));
    });
    QCOMPARE(CMDFileDialog(2, nullptr, QString(), QStringLiteral("PNG|*.png|"), m_dir->path()),
             m_dir->filePath(QStringLiteral("new.png")));
}

void TstCommonDlg::saveAddsTheChosenTypesExtensionBeforeAskingToOverwrite()
{
    QCOMPARE(cCommonDlg::patternExtension(QStringLiteral("*.jpg")), QStringLiteral("jpg"));
    QCOMPARE(cCommonDlg::patternExtension(QStringLiteral("*.jpg;*.jpeg")), QStringLiteral("jpg"));
    QCOMPARE(cCommonDlg::patternExtension(QStringLiteral("*;*.lzh")), QStringLiteral("lzh"));
    QCOMPARE(cCommonDlg::patternExtension(QStringLiteral("*.*")), QString());
    QCOMPARE(cCommonDlg::patternExtension(QStringLiteral("*.j?g")), QString());

    touch(m_dir->filePath(QStringLiteral("taken.lzh")));
    cCommonDlg dialog;
    dialog.setInitDir(m_dir->path());
    dialog.setFilter(QStringLiteral("BMP|*.bmp|LZH|*.lzh|ALL|*.*|"));
    dialog.setDefaultExt(QStringLiteral("dat"));
    dialog.setFlags(OfnFlags::OverwritePrompt);
    QString question;
    whenDialogShows<QFileDialog>([&question](QFileDialog *d) {
        auto *types = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QTest::keyClick(types, Qt::Key_Down);
        // "taken" is saved as "taken.lzh", which is there: the question is about that file.
        QTimer::singleShot(0, d, [&question] {
            QMessageBox *box = nullptr;
            QTRY_VERIFY((box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())));
            question = box->text();
            box->done(QMessageBox::No);
        });
        typeFileName(d, QStringLiteral("taken"));
        QVERIFY(d->isVisible());
        // A type without an extension of its own takes DefaultExt.
        QTest::keyClick(types, Qt::Key_Down);
        typeFileName(d, QStringLiteral("fresh"));
    });
    dialog.ShowSave();
    QVERIFY2(question.contains(QStringLiteral("taken.lzh")), qPrintable(question));
    QCOMPARE(dialog.FileName(), m_dir->filePath(QStringLiteral("fresh.dat")));
    QCOMPARE(dialog.FilterIndex(), qint16(3));
}

void TstCommonDlg::cancelEmptiesFileNameOnlyWithCancelError()
{
    cCommonDlg dialog;
    dialog.setInitDir(m_dir->path());
    dialog.setFileName(QStringLiteral("kept.txt"));
    whenDialogShows<QFileDialog>(cancel);
    dialog.setAction(cCommonDlg::ActionOpen); // the Action property runs the dialog
    QCOMPARE(dialog.Action(), qint16(1));
    QCOMPARE(dialog.FileName(), QStringLiteral("kept.txt"));
    QVERIFY(!dialog.CancelButton());

    dialog.setCancelError(true);
    whenDialogShows<QFileDialog>(cancel);
    dialog.ShowSave();
    QCOMPARE(dialog.Action(), qint16(2));
    QCOMPARE(dialog.FileName(), QString());
    QVERIFY(dialog.CancelButton());
}

void TstCommonDlg::aPathLongerThanTheBufferIsAnError()
{
    cCommonDlg dialog;
    dialog.setInitDir(m_dir->path());
    dialog.setFileName(QStringLiteral("before"));
    dialog.setMaxFileSize(8);
    whenDialogShows<QFileDialog>([](QFileDialog *d) { typeFileName(d, QStringLiteral("a-long-name.txt")); });
    dialog.ShowSave();
    QCOMPARE(dialog.ErrNumber(), 20476);
    QCOMPARE(dialog.ErrDescription(), QStringLiteral("メンバ lpstrFile が指すバッファが小さすぎます。"));
    QCOMPARE(dialog.FileName(), QStringLiteral("before"));
    QVERIFY(dialog.lastReturn() != 1);
}

void TstCommonDlg::colorIsKeptAsBlueGreenRed()
{
    cCommonDlg dialog;
    dialog.setColor(0x0000FF); // red
    QColor shown;
    whenDialogShows<QColorDialog>([&](QColorDialog *d) {
        shown = d->currentColor();
        d->setCurrentColor(QColor(0, 128, 255));
        QMetaObject::invokeMethod(d, "accept");
    });
    dialog.ShowColor();
    QCOMPARE(shown, QColor(255, 0, 0));
    QCOMPARE(dialog.Color(), 0xFF8000u);
    QCOMPARE(dialog.Action(), qint16(3));

    whenDialogShows<QColorDialog>(cancel);
    dialog.ShowColor();
    QVERIFY(dialog.CancelButton());
    QCOMPARE(dialog.Color(), 0xFF8000u);
}

void TstCommonDlg::fontDialogReportsTheChoiceAndResetsOnCancel()
{
    QWidget owner;
    QFont font = owner.font();
    font.setPointSize(14);
    font.setItalic(true);
    owner.setFont(font);
    cCommonDlg dialog;
    dialog.setForm(&owner);
    QCOMPARE(dialog.FontSize(), qint16(14));
    QVERIFY(dialog.FontItalic());
    QVERIFY(!dialog.FontName().isEmpty());

    dialog.setFontBold(true);
    QFont reported;
    whenDialogShows<QFontDialog>([&reported](QFontDialog *d) {
        QFont chosen = d->currentFont();
        chosen.setPointSize(20);
        chosen.setUnderline(true);
        d->setCurrentFont(chosen);
        // Which styles exist depends on the installed family; compare with what the
        // dialog itself ends up offering.
        reported = d->currentFont();
        QMetaObject::invokeMethod(d, "accept");
    });
    dialog.ShowFont();
    QVERIFY(!dialog.CancelButton());
    QCOMPARE(dialog.FontSize(), qint16(20));
    QCOMPARE(dialog.FontName(), reported.family());
    QCOMPARE(dialog.FontBold(), reported.weight() >= QFont::Medium);
    QVERIFY(dialog.FontUnderline());

    dialog.setColor(0x123456);
    whenDialogShows<QFontDialog>(cancel);
    dialog.ShowFont();
    QVERIFY(dialog.CancelButton());
    QCOMPARE(dialog.FontName(), QString());
    QCOMPARE(dialog.FontSize(), qint16(0));
    QVERIFY(!dialog.FontBold() && !dialog.FontItalic() && !dialog.FontUnderline() &&
            !dialog.FontStrikethru());
    QCOMPARE(dialog.Color(), 0u);
}

void TstCommonDlg::helpNeedsAFileAndACommand()
{
    const auto helpWindows = [] {
        int shown = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            shown += qobject_cast<QTextBrowser *>(w) && w->isVisible();
        return shown;
    };
    cCommonDlg dialog;
    dialog.setHelpCommand(cCommonDlg::kHelpContents);
    dialog.ShowHelp();
    QCOMPARE(helpWindows(), 0);
    dialog.setHelpFile(QStringLiteral("ZORVIN.HLP"));
    dialog.setHelpCommand(0);
    dialog.ShowHelp();
    QCOMPARE(helpWindows(), 0);

    dialog.setHelpCommand(cCommonDlg::kHelpContents);
    dialog.setAction(cCommonDlg::ActionHelp);
    QCOMPARE(helpWindows(), 1);
    QTextBrowser *browser = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *b = qobject_cast<QTextBrowser *>(w))
            browser = b;
    QVERIFY(browser->toPlainText().contains(QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ全体")));
    QCOMPARE(dialog.ErrNumber(), 0);
    browser->close();

    dialog.setHelpFile(m_dir->filePath(QStringLiteral("absent.hlp")));
    dialog.ShowHelp();
    QCOMPARE(dialog.ErrNumber(), 32751);
}

void TstCommonDlg::errorTexts()
{
    QCOMPARE(cCommonDlg::ErrDescription(28671), cCommonDlg::ErrDescription(28668));
    QCOMPARE(cCommonDlg::ErrDescription(32761), QStringLiteral("関数が指定したリソースをロードできません。"));
    QCOMPARE(cCommonDlg::ErrDescription(-32768),
             QStringLiteral("関数がダイアログ ボックスをロードできません。"));
    QCOMPARE(cCommonDlg::ErrDescription(0), QStringLiteral("未知のｴﾗｰです。"));
    QCOMPARE(cCommonDlg::ErrDescription(12291), QStringLiteral("未知のｴﾗｰです。"));
}

QTEST_MAIN(TstCommonDlg)

#include "tst_commondlg.moc"
