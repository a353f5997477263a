// "その他": the picture editor and how pictures reach it, the tray double-click, the lists
// minimised, starting at login, sending only sealed, the JPEG level and the password.
#pragma once

#include "options/OptionsSheet.h"

#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QSlider;
class WindowRegistry;

class OtherSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    OtherSheet(ModZorvin &ctx, WindowRegistry &windows);

    // The options the start-at-login entry repeats (data folder, port, addresses).
    void setLoginArguments(const QStringList &arguments) { m_loginArguments = arguments; }

    void load() override;
    void runEnablingRules() override;
    bool save(SheetSave &save) override;

  private:
    void onPicEditPathChanged();
    void onCmdSetPWClicked();
    void onSetPWPasswordChanged();

    WindowRegistry &m_windows;
    QStringList m_loginArguments;
    QLineEdit *TxtPicEditPath = nullptr;
    QGroupBox *m_picEditInfFrame = nullptr;
    QButtonGroup *OptPicEditInf = nullptr;
    QComboBox *CboMouseClick = nullptr;
    QCheckBox *ChkRecvInfMin = nullptr;
    QCheckBox *ChkSendInfMin = nullptr;
    QCheckBox *ChkStartAtLogon = nullptr;
    QCheckBox *ChkSndSealedOnly = nullptr;
    QLineEdit *TxtJpegComp = nullptr;
    QSlider *SldJpegComp = nullptr;
    QCheckBox *ChkProgJpeg = nullptr;
    QLineEdit *TxtPW = nullptr;
};
