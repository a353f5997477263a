// Wire facts of the message datagrams ("captMS", "captMR", "captOP") and the texts the
// delivery reports, kept in one place for the engine and its tests.
#pragma once

#include "base/ModZorvin.h"

#include <QString>

// "captMS" + receipt + display mode + two-digit id + open receipt + " " = 12 characters.
inline constexpr int kMsgHeadChars = 12;
inline constexpr int kMsgRetrySlotCount = 706;
// Message ids run "00" to "99" and wrap.
inline constexpr int kMsgIdCount = 100;

// The recipient is not ready: without the comma from a message window's direct send,
// with it from the send dialog and from the delivery watch.
inline const QString kMsgNotReadyDirect = QStringLiteral("相手側「") + QString::fromUtf8(kProductName) +
                                          QStringLiteral("」は受信できる状態ではありません。");
inline const QString kMsgNotReadyList = QStringLiteral("相手側「") + QString::fromUtf8(kProductName) +
                                        QStringLiteral("」は、受信できる状態ではありません。");

inline const QString kMsgRetryQuestion1 = QStringLiteral(" へのメッセージ送信が");
inline const QString kMsgRetryQuestion2 = QStringLiteral("ﾀｲﾑｱｳﾄしました。再送しますか？");
