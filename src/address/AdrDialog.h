// What the add and modify dialogs share: their controls (name, address, favourite,
// auto-transfer target, OK and cancel), the address field that takes only digits and full
// stops, the address checks with their messages, and the placement beside the address book.
#pragma once

#include <QWidget>

class FrmAdrEdit;
class NetEngine;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class WindowRegistry;

class AdrDialog : public QWidget
{
    Q_OBJECT
  public:
    // Offset of the dialog's top-left corner from the address book's, in twips.
    AdrDialog(NetEngine &engine, WindowRegistry &windows, const QString &caption, QPoint offsetTwips,
              QWidget *parent = nullptr);

    // Next to the address book window; without it the dialog keeps its own place.
    void placeBeside(const QWidget *addressBook);

    QLineEdit *TxtName() const { return m_txtName; }
    QLineEdit *TxtAdr() const { return m_txtAdr; }
    QCheckBox *ChkOki() const { return m_chkOki; }
    QCheckBox *ChkAuto() const { return m_chkAuto; }

  protected:
    virtual void onCmdOKClicked() = 0;
    void onCmdCanClicked();
    // The empty and the malformed address: the message, the focus to the field, false.
    bool addressAccepted();
    // The name field's text as the store keeps typed names: cleaned like names from the
    // network (no double quotes, no control characters) and cut to their width.
    QString typedName() const;
    // The open address book window, or null.
    FrmAdrEdit *addressBook() const;
    // Asks the peer at `address` to announce itself.
    void announceTo(const QString &address);
    void focusAddressBook();

    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

    NetEngine &m_engine;
    WindowRegistry &m_windows;

  private:
    QPoint m_offsetTwips;
    QLabel *m_lblName;
    QLabel *m_lblUrl;
    QLineEdit *m_txtName;
    QLineEdit *m_txtAdr;
    QCheckBox *m_chkOki;
    QCheckBox *m_chkAuto;
    QPushButton *m_cmdOK;
    QPushButton *m_cmdCan;
};
