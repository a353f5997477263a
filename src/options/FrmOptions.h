// "ｵﾌﾟｼｮﾝ": the settings dialog. Seven sheets (OptionsSheet) under one tab strip show the
// settings record; each validates and writes its keys back (SaveTab), "更新" saves the sheet
// shown and "OK" all of them, then refreshes the commands and announces name and group again.
// A modeless single window of the registry; every opening loads the controls afresh.
#pragma once

#include <QLatin1String>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>

class cTabStrip;
class Commands;
class ModZorvin;
class NetEngine;
class OptionsSheet;
class OtherSheet;
class QFrame;
class QPushButton;
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
    void setLoginArguments(const QStringList &arguments);

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
    void BuildSheets(WindowRegistry &windows);
    void LayOut();
    void showSelectedSheet();
    void onCmdOKClicked();
    void onCmdApplyClicked();
    // A warning, the save-failed flag, false; `refused` (may be null) is then shown on its
    // sheet with the focus and its value selected.
    bool Fail(const QString &text, QWidget *refused = nullptr);

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    Commands &m_commands;
    cTabStrip *m_tabStrip = nullptr;
    QFrame *m_picTab = nullptr;
    std::array<QFrame *, kTabCount> m_sheets{};
    std::array<OptionsSheet *, kTabCount> m_pages{};
    OtherSheet *m_otherSheet = nullptr;
    bool m_saveFailed = false;

    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCancel = nullptr;
    QPushButton *m_cmdApply = nullptr;
};

// Registers the dialog as the single window WindowKind::Options and sets the handler of
// "mnuOpt" (the tray's, the capture window's and the toolbar's "Config"). `made` runs on
// every new dialog, before it shows: where its after-effect signals are connected.
void RegisterOptionsWindow(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows,
                           std::function<void(FrmOptions &)> made = nullptr);
