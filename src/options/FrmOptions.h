// "ｵﾌﾟｼｮﾝ": the settings dialog. Seven sheets under one tab strip show the settings record;
// each sheet validates and writes its keys back (SaveTab), "更新" saves the sheet shown and
// "OK" all of them, then refreshes the commands and announces name and group again.
// A modeless single window of the registry; every opening loads the controls afresh.
#pragma once

#include <QLatin1String>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>

class cTabStrip;
class Commands;
class ModZorvin;
class NetEngine;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class WindowRegistry;

namespace WindowKind {
inline constexpr QLatin1String Options("FrmOptions");
} // namespace WindowKind

class FrmOptions : public QWidget
{
    Q_OBJECT
  public:
    static constexpr int kTabCount = 7;

    FrmOptions(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows,
               QWidget *parent = nullptr);
    ~FrmOptions() override;

    // Validates and saves one sheet, 1..7 in tab order. False (and the save-failed flag set)
    // when a check stopped it or a key could not be written to zorvin.ini (the user is told
    // which); what was written before stays written.
    bool SaveTab(int tab);
    bool saveFailed() const { return m_saveFailed; }
    // The options the start-at-login entry repeats (data folder, port, addresses).
    void setLoginArguments(const QStringList &arguments) { m_loginArguments = arguments; }

    cTabStrip &tabStrip() const { return *m_tabStrip; }
    QFrame *picTab() const { return m_picTab; }
    QFrame *sheet(int index) const { return m_sheets.at(size_t(index)); }
    // Shows the sheet of `index` as a click on its tab would.
    void selectTab(int index);

    QPushButton *cmdOK() const { return m_cmdOK; }
    QPushButton *cmdCancel() const { return m_cmdCancel; }
    QPushButton *cmdApply() const { return m_cmdApply; }

  signals:
    // A message-font key changed: open message windows take the font from the settings.
    void messageFontChanged();
    // The capture sheet was saved: the interval capture applies AutoCapt and AutoCaptTim.
    void autoCaptureSettingsChanged();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    // One sound choice (none, beep, wave file) with its path and buttons.
    struct SoundControls
    {
        QButtonGroup *options = nullptr;
        QLineEdit *path = nullptr;
        QPushButton *browse = nullptr;
        QPushButton *play = nullptr;
    };
    // One automatic-save block (captures or received pictures).
    struct AutoSaveControls
    {
        QCheckBox *enabled = nullptr;
        QGroupBox *typeFrame = nullptr;
        QButtonGroup *type = nullptr;
        QLineEdit *name = nullptr;
        QLineEdit *place = nullptr;
        QPushButton *browse = nullptr;
        QCheckBox *nameConst = nullptr;
        QLabel *preview = nullptr;
        QList<QWidget *> labels;
        bool received = false;
    };

    void BuildSheets();
    QWidget *BuildPersonalSheet();
    QWidget *BuildCaptureSheet();
    QWidget *BuildPictureSheet();
    QWidget *BuildMessageSheet();
    QWidget *BuildFileSheet();
    QWidget *BuildLogSheet();
    QWidget *BuildOtherSheet();
    QGroupBox *BuildAutoSave(QWidget *parent, AutoSaveControls &c, const QString &prefix);
    QGroupBox *BuildSound(QWidget *parent, SoundControls &c, const QString &prefix, const QString &title);
    void LayOut();
    void LoadControls();
    void RunEnablingRules();
    void showSelectedSheet();

    // Enabling rules and previews.
    void onActWinCaptModeChanged();
    void onAutoCaptToggled();
    void onAutoSaveChanged(AutoSaveControls &c);
    void onHideToggled();
    void onRRToggled();
    void onMsgLogToggled();
    void onSoundChanged(SoundControls &c);
    void onPicEditPathChanged();

    // Pickers.
    void browseFolder(QLineEdit *box, const QString &prompt);
    void browseProgram(QLineEdit *box, const QString &title);
    void browseSound(SoundControls &c, const QString &title);
    void onCmdMsgFontSetClicked();
    void onCmdGrpListClicked();
    void onCmdSetPWClicked();
    void onSetPWPasswordChanged();

    void onCmdOKClicked();
    void onCmdApplyClicked();

    // The sheets' saves; each writes its keys in the fixed order.
    bool SavePersonal();
    bool SaveCapture();
    bool SavePicture();
    bool SaveMessage();
    bool SaveFile();
    bool SaveLog();
    bool SaveOther();
    // A warning, the save-failed flag, false; `refused` (may be null) is then shown on its
    // sheet with the focus and its value selected.
    bool Fail(const QString &text, QWidget *refused = nullptr);
    bool SaveSheet(int tab);
    // False (after the warning) when a box holds a text the settings file cannot give back.
    bool CheckTexts(const QString &sheet, std::initializer_list<QLineEdit *> boxes);
    // An automatic save into a folder that is not there is offered to make it; declined, the
    // folder stays as typed (the save names it when it fails). False when it cannot be made.
    bool OfferMissingFolder(const QString &sheet, const AutoSaveControls &c);
    void Write(const char *key, const QString &value);
    void WriteFlag(const char *key, uint8_t &field, bool on);
    void WriteIndex(const char *key, uint8_t &field, const QButtonGroup *group);

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    Commands &m_commands;
    WindowRegistry &m_windows;
    cTabStrip *m_tabStrip = nullptr;
    QFrame *m_picTab = nullptr;
    std::array<QFrame *, kTabCount> m_sheets{};
    bool m_saveFailed = false;
    QStringList m_loginArguments;
    // The first key of the sheet being saved that zorvin.ini refused, and why.
    QString m_writeError;

    // Personal.
    QLineEdit *TxtGrp = nullptr;
    QLineEdit *TxtName = nullptr;
    QPushButton *CmdGrpList = nullptr;
    // Capture.
    QButtonGroup *OptActWinCaptMode = nullptr;
    QLineEdit *TxtActWindCaptTim = nullptr;
    QList<QWidget *> m_actWindCaptTimLabels;
    QCheckBox *ChkCaptExeHide1 = nullptr;
    QCheckBox *ChkCaptExeHide2 = nullptr;
    QCheckBox *ChkAutoCaptTran = nullptr;
    QCheckBox *ChkAutoCaptClip = nullptr;
    AutoSaveControls m_captSave;
    QCheckBox *ChkAutoCapt = nullptr;
    QLineEdit *TxtAutoCaptTim = nullptr;
    QLabel *m_autoCaptTimLabel = nullptr;
    // Pictures.
    QButtonGroup *OptSCPMsgLevel = nullptr;
    QCheckBox *ChkSPHide = nullptr;
    QCheckBox *ChkSPLock = nullptr;
    QCheckBox *ChkPicOpen = nullptr;
    AutoSaveControls m_recvSave;
    QCheckBox *ChkRecvPicWin = nullptr;
    QCheckBox *ChkRecvPicMin = nullptr;
    SoundControls m_picSound;
    // Messages.
    QButtonGroup *OptSCMMsgLevel = nullptr;
    QCheckBox *ChkSMHide = nullptr;
    QCheckBox *ChkSMLock = nullptr;
    QCheckBox *ChkMsgOpen = nullptr;
    QCheckBox *ChkRecvMsgMin = nullptr;
    QCheckBox *ChkSendMsgClose = nullptr;
    QCheckBox *ChkSendMsgRClose = nullptr;
    QCheckBox *ChkSendMsgRClose1 = nullptr;
    QCheckBox *ChkRR = nullptr;
    QLineEdit *TxtRRTim = nullptr;
    QLabel *m_rrTimLabel = nullptr;
    SoundControls m_msgSound;
    QLineEdit *TxtMsgFontName = nullptr;
    QLineEdit *TxtMsgFontSize = nullptr;
    QLabel *LblMsgFontShown = nullptr;
    QPushButton *CmdMsgFontSet = nullptr;
    // Files.
    QButtonGroup *OptSCFMsgLevel = nullptr;
    SoundControls m_fileSound;
    QLineEdit *TxtRecvFileSavePlace = nullptr;
    QCheckBox *ChkFileRecvOpenFol = nullptr;
    // Log.
    QCheckBox *ChkMsgLog = nullptr;
    QButtonGroup *OptMsgLogType = nullptr;
    QLineEdit *TxtMsgLogName = nullptr;
    QLineEdit *TxtMsgLogSavePlace = nullptr;
    QLineEdit *TxtMsgLogShowPath = nullptr;
    QList<QWidget *> m_logControls;
    // Other.
    QLineEdit *TxtPicEditPath = nullptr;
    QGroupBox *m_picEditInfFrame = nullptr;
    QButtonGroup *OptPicEditInf = nullptr;
    QComboBox *CboMouseClick = nullptr;
    QCheckBox *ChkRecvInfMin = nullptr;
    QCheckBox *ChkSendInfMin = nullptr;
    QCheckBox *ChkStartAtLogon = nullptr;
    QLineEdit *TxtJpegComp = nullptr;
    QSlider *SldJpegComp = nullptr;
    QCheckBox *ChkProgJpeg = nullptr;
    QLineEdit *TxtPW = nullptr;

    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCancel = nullptr;
    QPushButton *m_cmdApply = nullptr;
};

// Registers the dialog as the single window WindowKind::Options and sets the handler of
// "mnuOpt" (the tray's, the capture window's and the toolbar's "Config"). `made` runs on
// every new dialog, before it shows: where its after-effect signals are connected.
void RegisterOptionsWindow(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows,
                           std::function<void(FrmOptions &)> made = nullptr);
