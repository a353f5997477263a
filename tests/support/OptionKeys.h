// What the options dialog's tests and benchmark share: the keys its OK writes, in the order
// it writes them, as the settings table declares them, and a zorvin.ini with every key set to
// something other than its default.
#pragma once

#include "base/SettingsTable.h"

#include <QStringList>

// The rows the sheets save, in table order; the font keys are written only when they changed,
// so they are not among them.
inline QStringList optionsKeysInSaveOrder()
{
    QStringList keys;
    for (const SettingRow &row : SettingRows()) {
        if (row.sheet != 0)
            keys << QLatin1String(row.key);
    }
    return keys;
}
inline const QStringList kOptionsKeysInSaveOrder = optionsKeysInSaveOrder();

inline constexpr char kFilledOptionsIni[] =
    "[Zorvin]\r\nMajor=2\r\nMinor=66\r\nRevision=6\r\n[ZorvinSetting]\r\n"
    "ZorvinOpMsg=1\r\nGrp=Dev\r\nName=Tanaka\r\nActCaptMode=0\r\nIntTimer=3\r\n"
    "CaptExeHide1=1\r\nCaptExeHide2=1\r\nCaptAutoTran=1\r\nCaptAutoClip=1\r\n"
    "CaptAutoSave=1\r\nCaptAutoSaveType=2\r\nCaptAutoSaveName=SHOT\r\n"
    "CaptAutoSavePlace=/tmp\r\nCaptAutoSaveNameConst=0\r\nAutoCapt=1\r\nAutoCaptTim=600\r\n"
    "SndCmpPicLevel=2\r\nSndCmpPicHide=1\r\nSndCmpPicLock=1\r\nSndPicOPChk=1\r\n"
    "RecvPicSound=2\r\nRecvPicSoundPlace=/usr/share/sounds/a.wav\r\nRecvAutoSave=1\r\n"
    "RecvAutoSaveType=3\r\nRecvAutoSaveName=RECV\r\nRecvAutoSavePlace=/tmp\r\n"
    "RecvAutoSaveNameConst=1\r\nRecvPicWin=0\r\nRecvPicMin=1\r\nSndCmpMsgLevel=1\r\n"
    "SndCmpMsgHide=1\r\nSndCmpMsgLock=1\r\nSndMsgOPChk=1\r\nRecvMsgSound=1\r\n"
    "RecvMsgSoundPlace=\r\nMsgFontName=IPAGothic\r\nMsgFontSize=11\r\nMsgFontBold=255\r\n"
    "MsgFontItalic=0\r\nRecvMsgMin=1\r\nSndMsgWinCls=1\r\nSndMsgRWinCls=0\r\n"
    "SndMsgRWinCls1=1\r\nSndMsgRRChk=1\r\nSndMsgRRTim=30\r\nSndCmpFileLevel=3\r\n"
    "RecvFileSound=1\r\nRecvFileSoundPlace=\r\nRecvFileSavePlace=/tmp\r\nFileRecvFolOP=1\r\n"
    "MsgLog=1\r\nMsgLogType=2\r\nMsgLogName=LOG\r\nMsgLogSavePlace=/tmp\r\n"
    "MsgLogShowApp=mousepad\r\nPicEditApp=/usr/bin/gimp\r\nPicEditAppInf=1\r\n"
    "JpegComp=25\r\nProgJpeg=1\r\nLDblClick=3\r\nSendInfMin=1\r\nRecvInfMin=1\r\nStartAtLogon=1\r\n"
    "SndSealedOnly=1\r\n"
    "KeyMenu=\r\nKeyCapt0=\r\nKeyCapt1=\r\nKeyCapt2=\r\nKeyCapt3=\r\nKeyCapt4=\r\n"
    "[AdrEdit]\r\nAvailOnly=0\r\n";
