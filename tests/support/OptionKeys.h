// The keys the options dialog's OK writes, in the order it writes them (font keys only when
// they changed, so not here), for the tests and the benchmark.
#pragma once

#include <QStringList>

// clang-format off
inline const QStringList kOptionsKeysInSaveOrder = {
    "Grp", "Name", "ActCaptMode", "IntTimer", "CaptExeHide1", "CaptExeHide2", "CaptAutoTran",
    "CaptAutoClip", "CaptAutoSave", "CaptAutoSaveType", "CaptAutoSaveName", "CaptAutoSavePlace",
    "CaptAutoSaveNameConst", "AutoCapt", "AutoCaptTim", "SndCmpPicLevel", "RecvAutoSave",
    "RecvAutoSaveType", "RecvAutoSaveName", "RecvAutoSavePlace", "RecvAutoSaveNameConst", "RecvPicWin",
    "RecvPicSoundPlace", "RecvPicSound", "SndCmpPicHide", "SndCmpPicLock", "SndPicOPChk", "SndCmpMsgLevel",
    "SndCmpMsgHide", "SndCmpMsgLock", "SndMsgOPChk", "RecvPicMin", "RecvMsgMin", "SndMsgWinCls",
    "SndMsgRWinCls", "SndMsgRWinCls1", "SndMsgRRChk", "SndMsgRRTim", "RecvMsgSound", "RecvMsgSoundPlace",
    "SndCmpFileLevel", "RecvFileSound", "RecvFileSoundPlace", "RecvFileSavePlace", "FileRecvFolOP",
    "MsgLogType", "MsgLog", "MsgLogName", "MsgLogSavePlace", "MsgLogShowApp", "PicEditApp",
    "PicEditAppInf", "JpegComp", "ProgJpeg", "LDblClick", "RecvInfMin", "SendInfMin"};
// clang-format on
