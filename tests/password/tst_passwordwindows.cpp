// The password dialogs under a private X server: setting a first password, the old-password
// and repeat rules with their warnings, a password the code page cannot hold, removing the
// password, cancelling; the check dialog passing, refusing and being closed by its frame;
// and the stored password read back by the resident window at start.
#include "app/FrmSket.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "password/FrmPWCheck.h"
#include "password/FrmSetPW.h"
#include "password/PasswordFile.h"
#include "password/PasswordWindows.h"
#include "support/FileBytes.h"
#include "support/FirstRun.h"
#include "support/NextMessageBox.h"
#include "support/PlaceCopy.h"
#include "support/TestPort.h"
#include "support/WindowShot.h"
#include "support/XvfbSession.h"

#include <QAbstractButton>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Clicks OK and returns the text of the warning it brings up (answered with OK).
QString okWithWarning(FrmSetPW *window)
{
    QString text;
    int style = 0;
    onNextBox([&](QMessageBox *box) {
        text = box->text();
        style = box->icon() == QMessageBox::Warning ? 48 : 0;
        box->button(QMessageBox::Ok)->click();
    });
    window->CmdOK()->click();
    return style == 48 ? text : QStringLiteral("<no warning>");
}

// Typed key by key; QTest's own key clicks take Latin-1 only.
void type(QLineEdit *box, const QString &text)
{
    box->clear();
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(box, &press);
    }
}

// A registry with the two dialogs over a context whose program folder is private.
struct Setup
{
    QTemporaryDir data;
    ModZorvin ctx;
    WindowRegistry windows;
    explicit Setup(const QString &password = QString())
    {
        ctx.ProgramDir = data.path() + QLatin1Char('/');
        ctx.settings.Password = password;
        RegisterPasswordWindows(ctx, windows);
    }
    FrmSetPW *openSetPW()
    {
        auto *window = qobject_cast<FrmSetPW *>(windows.open(WindowKind::SetPW));
        return window && QTest::qWaitForWindowExposed(window) ? window : nullptr;
    }
};

} // namespace

class tst_PasswordWindows : public QObject
{
    Q_OBJECT
  public:
    tst_PasswordWindows(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void firstPasswordWithoutAnOldOne();
    void rulesAndTheirWarnings();
    void cancelChangesNothing();
    void checkPassesAndRefuses();
    void withoutAPasswordItOpensAndSaysSoOnce();
    void startupReadsTheStoredPassword();

  private:
    QString m_skipReason;
};

void tst_PasswordWindows::firstPasswordWithoutAnOldOne()
{
    Setup s;
    QPointer<FrmSetPW> window = s.openSetPW();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("ﾊﾟｽﾜｰﾄﾞの変更"));
    QVERIFY(window->isModal());
    // No password yet: the old box is off, and its empty text is what it is compared with.
    QVERIFY(!window->TxtPW(0)->isEnabled());
    QVERIFY(window->TxtPW(1)->isEnabled());

    // Every box shows "*" per character and takes 12 characters at most.
    type(window->TxtPW(1), QStringLiteral("Secret-Pass1X"));
    QCOMPARE(window->TxtPW(1)->text(), QStringLiteral("Secret-Pass1"));
    QCOMPARE(window->TxtPW(1)->displayText(), QString(12, u'*'));
    type(window->TxtPW(2), QStringLiteral("Secret-Pass1"));
    shoot(window, QStringLiteral("FrmSetPW"));

    QSignalSpy changed(window.data(), &FrmSetPW::passwordChanged);
    window->CmdOK()->click();
    QCOMPARE(changed.size(), 1);
    QTRY_VERIFY(window.isNull());
    QVERIFY(!s.windows.find(WindowKind::SetPW));
    QCOMPARE(s.ctx.settings.Password, QStringLiteral("Secret-Pass1"));
    // Twelve bytes, the last two scrambled with the key's first two letters.
    QCOMPARE(fileBytes(s.ctx.PasswordPath()), QByteArray::fromHex("1f100e1b310648352a2b3f44"));

    // Opened again, the old box is on.
    window = s.openSetPW();
    QVERIFY(window && window->TxtPW(0)->isEnabled());
    window->close();
}

void tst_PasswordWindows::rulesAndTheirWarnings()
{
    Setup s(QStringLiteral("Abc"));
    QVERIFY(PasswordFile::save(s.ctx.PasswordPath(), QStringLiteral("Abc")));
    const QByteArray stored = fileBytes(s.ctx.PasswordPath());
    QPointer<FrmSetPW> window = s.openSetPW();
    QVERIFY(window);
    QSignalSpy changed(window.data(), &FrmSetPW::passwordChanged);

    // Letter case counts.
    type(window->TxtPW(0), QStringLiteral("abc"));
    type(window->TxtPW(1), QStringLiteral("new"));
    type(window->TxtPW(2), QStringLiteral("new"));
    QCOMPARE(okWithWarning(window), QStringLiteral("旧ﾊﾟｽﾜｰﾄﾞが違います。"));
    QVERIFY(window && window->isVisible());

    type(window->TxtPW(0), QStringLiteral("Abc"));
    type(window->TxtPW(2), QStringLiteral("New"));
    QCOMPARE(okWithWarning(window), QStringLiteral("新ﾊﾟｽﾜｰﾄﾞが一致しません。"));
    QVERIFY(window && window->isVisible());

    // A character code page 932 lacks would be stored as "?" and never match again.
    type(window->TxtPW(1), QStringLiteral("pass€"));
    type(window->TxtPW(2), QStringLiteral("pass€"));
    QCOMPARE(okWithWarning(window), QStringLiteral("新ﾊﾟｽﾜｰﾄﾞに使用できない文字が含まれています。"));
    QVERIFY(window && window->isVisible());

    // Nothing of it reached the record or the file.
    QCOMPARE(changed.size(), 0);
    QCOMPARE(s.ctx.settings.Password, QStringLiteral("Abc"));
    QCOMPARE(fileBytes(s.ctx.PasswordPath()), stored);

    // Japanese is fine, and Return is OK.
    type(window->TxtPW(1), QStringLiteral("パス"));
    type(window->TxtPW(2), QStringLiteral("パス"));
    QTest::keyClick(window->TxtPW(2), Qt::Key_Return);
    QTRY_VERIFY(window.isNull());
    QCOMPARE(s.ctx.settings.Password, QStringLiteral("パス"));
    QCOMPARE(fileBytes(s.ctx.PasswordPath()), QByteArray::fromHex("cf05ee31"));

    // New and again both empty remove the password: the file stays, empty.
    window = s.openSetPW();
    QVERIFY(window);
    type(window->TxtPW(0), QStringLiteral("パス"));
    window->CmdOK()->click();
    QTRY_VERIFY(window.isNull());
    QCOMPARE(s.ctx.settings.Password, QString());
    QCOMPARE(fileBytes(s.ctx.PasswordPath()), QByteArray());
}

void tst_PasswordWindows::cancelChangesNothing()
{
    Setup s;
    QPointer<FrmSetPW> window = s.openSetPW();
    QVERIFY(window);
    type(window->TxtPW(1), QStringLiteral("abc"));
    type(window->TxtPW(2), QStringLiteral("abc"));
    QCOMPARE(window->CmdCan()->text(), QStringLiteral("ｷｬﾝｾﾙ"));
    window->CmdCan()->click();
    QTRY_VERIFY(window.isNull());
    QCOMPARE(s.ctx.settings.Password, QString());
    QVERIFY(!QFile::exists(s.ctx.PasswordPath()));

    // Escape is the same.
    window = s.openSetPW();
    QVERIFY(window);
    type(window->TxtPW(1), QStringLiteral("abc"));
    type(window->TxtPW(2), QStringLiteral("abc"));
    QTest::keyClick(window->TxtPW(2), Qt::Key_Escape);
    QTRY_VERIFY(window.isNull());
    QVERIFY(!QFile::exists(s.ctx.PasswordPath()));
}

void tst_PasswordWindows::checkPassesAndRefuses()
{
    Setup s(QStringLiteral("Abc"));
    enum Answer { Ok, CancelButton, Escape, Frame };
    // One check: the dialog comes up empty, takes `typed`, and answers once.
    auto check = [&s](const QString &typed, Answer how) -> QVariant {
        QPointer<FrmPWCheck> window = s.windows.load<FrmPWCheck>(WindowKind::PWCheck);
        if (!window)
            return QStringLiteral("no window");
        QSignalSpy checked(window.data(), &FrmPWCheck::checked);
        window->Ask();
        if (!QTest::qWaitForWindowExposed(window) || !window->isModal() || !window->TxtPW()->text().isEmpty())
            return QStringLiteral("not asked");
        type(window->TxtPW(), typed);
        if (window->TxtPW()->displayText() != QString(window->TxtPW()->text().size(), u'*'))
            return QStringLiteral("not masked");
        shoot(window, QStringLiteral("FrmPWCheck"));
        switch (how) {
        case Ok:
            window->CmdPWCheck()->click();
            break;
        case CancelButton:
            QTest::mouseClick(window->CmdCancel(), Qt::LeftButton);
            break;
        case Escape:
            QTest::keyClick(window->TxtPW(), Qt::Key_Escape);
            break;
        case Frame:
            window->close();
            break;
        }
        if (!QTest::qWaitFor([&] { return window.isNull(); }) || checked.size() != 1)
            return QStringLiteral("not answered once");
        return checked.at(0).at(0);
    };
    auto *first = s.windows.load<FrmPWCheck>(WindowKind::PWCheck);
    QCOMPARE(first->windowTitle(), QStringLiteral("パスワードチェック"));
    // It says which password it wants, and it is wide enough for its whole title.
    QVERIFY(first->LblPrompt()->text().contains(QStringLiteral("「動作環境の設定」")));
    QCOMPARE(first->CmdCancel()->text(), QStringLiteral("ｷｬﾝｾﾙ"));
    QVERIFY(first->minimumWidth() > first->fontMetrics().horizontalAdvance(first->windowTitle()) + 100);
    first->close();

    QCOMPARE(check(QStringLiteral("Abc"), Ok), QVariant(true));
    QCOMPARE(s.ctx.LastPwEntry, QStringLiteral("Abc"));
    QCOMPARE(check(QStringLiteral("abc"), Ok), QVariant(false));
    QCOMPARE(s.ctx.LastPwEntry, QStringLiteral("abc"));

    // Cancelled, with Esc or closed through its frame the check fails, even when the last
    // entry was right.
    QCOMPARE(check(QStringLiteral("Abc"), Ok), QVariant(true));
    QCOMPARE(check(QStringLiteral("Abc"), CancelButton), QVariant(false));
    QCOMPARE(check(QStringLiteral("Abc"), Escape), QVariant(false));
    QCOMPARE(check(QStringLiteral("Abc"), Frame), QVariant(false));
    QCOMPARE(s.ctx.LastPwEntry, QStringLiteral("Abc"));
    QCOMPARE(FrmPWCheck::LockedOpenCaption(s.ctx), QStringLiteral("開く（パスワードロック）"));
}

void tst_PasswordWindows::withoutAPasswordItOpensAndSaysSoOnce()
{
    Setup s;
    QCOMPARE(FrmPWCheck::LockedOpenCaption(s.ctx), QStringLiteral("開く（パスワードロック・パスワード未設定）"));
    const auto notes = [] {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += w->objectName() == QStringLiteral("NoPasswordNote") && w->isVisible();
        return count;
    };
    for (int round = 0; round < 2; ++round) {
        QPointer<FrmPWCheck> window = s.windows.load<FrmPWCheck>(WindowKind::PWCheck);
        QVERIFY(window);
        QSignalSpy checked(window.data(), &FrmPWCheck::checked);
        window->Ask();
        // Passed at once, with no prompt that an empty entry would pass anyway.
        QCOMPARE(checked.size(), 1);
        QCOMPARE(checked.at(0).at(0), QVariant(true));
        QVERIFY(!window->isVisible());
        window->close();
        // The note comes with the first check of the run only.
        QTRY_COMPARE(notes(), 1);
        if (round == 0) {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("NoPasswordNote")) {
                    QVERIFY(qobject_cast<QMessageBox *>(w)->text().contains(QStringLiteral("パスワードを設定")));
                    shoot(w, QStringLiteral("NoPasswordNote"));
                }
        }
    }
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("NoPasswordNote"))
            w->close();
    QTRY_COMPARE(notes(), 0);
}

void tst_PasswordWindows::startupReadsTheStoredPassword()
{
    QTemporaryDir data;
    ModZorvin ctx;
    placeCopy(ctx, QStringLiteral("127.0.0.13"), data.path());
    QVERIFY(PasswordFile::save(ctx.PasswordPath(), QStringLiteral("ﾊﾟｽ12")));
    skipFirstRunPrompt(data.path());

    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    QCOMPARE(ctx.settings.Password, QStringLiteral("ﾊﾟｽ12"));
    QCOMPARE(ctx.LastPwEntry, QString());
    // The resident window's registry opens the dialogs.
    QPointer<QWidget> setPW = sket.windows().open(WindowKind::SetPW);
    QVERIFY(qobject_cast<FrmSetPW *>(setPW));
    QVERIFY(setPW->findChild<QLineEdit *>(QStringLiteral("TxtPW0"))->isEnabled());
    sket.QuitWithoutQuestion();
    QTRY_VERIFY(setPW.isNull());
}

ZORVIN_XVFB_MAIN(tst_PasswordWindows, QSize(1024, 768), true)
#include "tst_passwordwindows.moc"
