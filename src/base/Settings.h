// The process-wide settings record: one field per key of section ZorvinSetting,
// filled once at start-up by LoadSettings and changed only by the writers that also
// write the key back.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

struct Settings
{
    uint8_t OpMsgDone = 0; // key ZorvinOpMsg
    QString Grp;
    QString Name;
    uint8_t ActCaptMode = 0;
    QString IntTimer;
    uint8_t CaptExeHide1 = 0;
    uint8_t CaptExeHide2 = 0;
    uint8_t CaptAutoTran = 0;
    uint8_t CaptAutoClip = 0;
    uint8_t CaptAutoSave = 0;
    uint8_t CaptAutoSaveType = 0;
    QString CaptAutoSaveName;
    QString CaptAutoSavePlace;
    uint8_t CaptAutoSaveNameConst = 0;
    uint8_t AutoCapt = 0;
    int32_t AutoCaptTim = 0;
    uint8_t SndCmpPicLevel = 0;
    uint8_t SndCmpPicHide = 0;
    uint8_t SndCmpPicLock = 0;
    uint8_t SndPicOPChk = 0;
    uint8_t RecvPicSound = 0;
    QString RecvPicSoundPlace;
    uint8_t RecvAutoSave = 0;
    uint8_t RecvAutoSaveType = 0;
    QString RecvAutoSaveName;
    QString RecvAutoSavePlace;
    uint8_t RecvAutoSaveNameConst = 0;
    uint8_t RecvPicWin = 0;
    uint8_t RecvPicMin = 0;
    int32_t RPicPosTop = 0;
    int32_t RPicPosLeft = 0;
    uint8_t SndCmpMsgLevel = 0;
    uint8_t SndCmpMsgLock = 0;
    uint8_t SndCmpMsgHide = 0;
    uint8_t SndMsgOPChk = 0;
    uint8_t RecvMsgSound = 0;
    QString RecvMsgSoundPlace;
    QString MsgFontName;
    int16_t MsgFontSize = 0;
    uint8_t MsgFontBold = 0;
    uint8_t MsgFontItalic = 0;
    uint8_t RecvMsgMin = 0;
    uint8_t SndMsgWinCls = 0;
    uint8_t SndMsgRWinCls = 0;
    uint8_t SndMsgRWinCls1 = 0;
    uint8_t SndMsgRRChk = 0;
    int16_t SndMsgRRTim = 0;
    int32_t RMsgPosTop = 0;
    int32_t RMsgPosLeft = 0;
    uint8_t SndCmpFileLevel = 0;
    uint8_t RecvFileSound = 0;
    QString RecvFileSoundPlace;
    QString RecvFileSavePlace;
    uint8_t FileRecvFolOP = 0;
    uint8_t MsgLog = 0;
    uint8_t MsgLogType = 0;
    QString MsgLogName;
    QString MsgLogSavePlace;
    QString MsgLogShowApp;
    QString PicEditApp;
    uint8_t PicEditAppInf = 0;
    QString Password; // from zorvinpw.dat, not from the settings file
    uint8_t JpegComp = 0;
    uint8_t ProgJpeg = 0;
    uint8_t LDblClick = 0;
    uint8_t SendInfMin = 0;
    uint8_t RecvInfMin = 0;
    // Our own key: the desktop starts the program at login (older copies ignore it).
    uint8_t StartAtLogon = 0;
    // Our own key: nothing is sent to a peer that cannot be sealed to (older copies ignore it).
    uint8_t SndSealedOnly = 0;
    // KeyMenu, KeyCapt0..KeyCapt4: index 0 is the menu key, 1..5 the capture modes 0..4.
    std::array<QString, 6> HotKeys;

    bool operator==(const Settings &) const = default;

    QString &KeyMenu() { return HotKeys[0]; }
    QString &KeyCapt(int mode) { return HotKeys[size_t(mode) + 1]; }
};
