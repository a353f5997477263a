#include "options/FileSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsTable.h"
#include "options/OptionControls.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FileSheet::FileSheet(ModZorvin &ctx) : OptionsSheet(ctx, 5)
{
    QVBoxLayout *layout = pageLayout(this);

    QGroupBox *levelFrame = nullptr;
    OptSCFMsgLevel = makeOptionFrame(this, "ﾌｧｲﾙ送信後の通知", "OptSCFMsgLevel",
                                     OptionCaptions::kNoticeLevels, 4, 2, &levelFrame);
    layout->addWidget(levelFrame);
    layout->addWidget(
        m_fileSound.build(this, QStringLiteral("File"), QStringLiteral("ファイル受信時のサウンド")));

    auto *place = makeFrame(this, "受信ﾌｧｲﾙの保存先");
    auto *placeGrid = new QGridLayout(place);
    TxtRecvFileSavePlace = makeBox(place, "TxtRecvFileSavePlace");
    auto *browse = makeButton(place, "CmdRecvFileSavePlace", "参照");
    ChkFileRecvOpenFol = makeCheck(place, "ChkFileRecvOpenFol", "受信後、保存先のﾌｫﾙﾀﾞを開く。");
    placeGrid->addWidget(TxtRecvFileSavePlace, 0, 0);
    placeGrid->addWidget(browse, 0, 1);
    placeGrid->addWidget(ChkFileRecvOpenFol, 1, 0, 1, 2);
    placeGrid->setColumnStretch(0, 1);
    connect(browse, &QPushButton::clicked, this, [this] {
        browseFolder(window(), TxtRecvFileSavePlace,
                     QStringLiteral("受信ファイルの保存先を指定してください。"));
    });
    layout->addWidget(place);

    m_bindings.choice("SndCmpFileLevel", OptSCFMsgLevel);
    m_bindings.choice("RecvFileSound", m_fileSound.options);
    m_bindings.text("RecvFileSoundPlace", m_fileSound.path);
    m_bindings.text("RecvFileSavePlace", TxtRecvFileSavePlace);
    m_bindings.flag("FileRecvFolOP", ChkFileRecvOpenFol);
}

void FileSheet::runEnablingRules()
{
    m_fileSound.update();
}

bool FileSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("ﾌｧｲﾙ転送"), {m_fileSound.path, TxtRecvFileSavePlace}))
        return false;
    // Written as typed, even when empty; the record then holds the default folder, as at load,
    // and the folder is made now.
    save.through("RecvFileSavePlace");
    Settings &s = save.settings();
    if (s.RecvFileSavePlace.isEmpty()) {
        s.RecvFileSavePlace =
            SettingFallback(SettingRowOf(QLatin1StringView("RecvFileSavePlace")), s, m_ctx.ProgramDir);
        QDir().mkpath(s.RecvFileSavePlace);
    }
    save.rest();
    return true;
}
