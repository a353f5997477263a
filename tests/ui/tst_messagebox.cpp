// Message boxes answer with the platform's button numbers and honour the numeric style:
// icon, button set and the second button as default.
#include "net/EngineHost.h"
#include "ui/ModZorvinUi.h"
#include "support/NextMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class tst_MessageBox : public QObject
{
    Q_OBJECT
private slots:
    void answersWithPlatformButtonNumbers_data();
    void answersWithPlatformButtonNumbers();
    void lineBreaksAndTitle();
};

void tst_MessageBox::answersWithPlatformButtonNumbers_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("press"); // the standard button to click, or 0 for the default (Enter)
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("icon");

    QTest::newRow("info OK") << 64 << 0 << MsgBox::IdOk << int(QMessageBox::Information);
    QTest::newRow("warning OK/Cancel, Cancel") << 49 << int(QMessageBox::Cancel) << MsgBox::IdCancel
                                               << int(QMessageBox::Warning);
    QTest::newRow("quit question defaults to Cancel") << 305 << 0 << MsgBox::IdCancel << int(QMessageBox::Warning);
    QTest::newRow("first-run OK/Cancel defaults to OK") << 33 << 0 << MsgBox::IdOk << int(QMessageBox::Question);
    QTest::newRow("retry question, Retry") << 37 << int(QMessageBox::Retry) << MsgBox::IdRetry
                                           << int(QMessageBox::Question);
    QTest::newRow("yes/no, No") << 36 << int(QMessageBox::No) << MsgBox::IdNo << int(QMessageBox::Question);
    QTest::newRow("error OK") << 16 << int(QMessageBox::Ok) << MsgBox::IdOk << int(QMessageBox::Critical);
}

void tst_MessageBox::answersWithPlatformButtonNumbers()
{
    QFETCH(int, style);
    QFETCH(int, press);
    QFETCH(int, expected);
    QFETCH(int, icon);

    int shownIcon = -1;
    onNextBox([&](QMessageBox *box) {
        shownIcon = int(box->icon());
        if (press == 0)
            box->defaultButton()->click();
        else
            box->button(QMessageBox::StandardButton(press))->click();
    });
    QCOMPARE(ShowMessageBox(QStringLiteral("テキスト"), style), expected);
    QCOMPARE(shownIcon, icon);
}

void tst_MessageBox::lineBreaksAndTitle()
{
    QString text, title;
    onNextBox([&](QMessageBox *box) {
        text = box->text();
        title = box->windowTitle();
        box->defaultButton()->click();
    });
    ShowMessageBox(QStringLiteral("一行目\r二行目\r\n三行目"), 48);
    QCOMPARE(text, QStringLiteral("一行目\n二行目\n三行目"));
    QCOMPARE(title, QStringLiteral("ぞるびん"));
}

QTEST_MAIN(tst_MessageBox)
#include "tst_messagebox.moc"
