// Wire facts of the LAN protocol: the port, the datagram kinds and their field widths.
// Every other file takes these from here instead of repeating literals.
#pragma once

#include <QLatin1StringView>
#include <QtGlobal>

namespace Protocol {

inline constexpr quint16 kPort = 62410;

// The destination text that means "everyone on this network"; the engine replaces it
// with the configured broadcast address when it sends.
inline constexpr QLatin1StringView kBroadcast("255.255.255.255");
inline constexpr QLatin1StringView kLoopback("127.0.0.1");

// Datagram kinds, compared exactly (case matters).
inline constexpr QLatin1StringView kAnnounce("captBC");
inline constexpr QLatin1StringView kLegacyAnswer("zorvin");
inline constexpr QLatin1StringView kShortAnswer("cBR");
inline constexpr QLatin1StringView kGroupAnswer("cBX");
inline constexpr QLatin1StringView kMessage("captMS");
inline constexpr QLatin1StringView kReceipt("captMR");
inline constexpr QLatin1StringView kOpenReceipt("captOP");
inline constexpr QLatin1StringView kGoodbye("captGB");
inline constexpr QLatin1StringView kStop("captSP");
// Above 2.66: this copy's public key. A 2.66 copy ignores it, as any kind it does not know.
inline constexpr QLatin1StringView kKeyAnnounce("captPK");
// Above 2.66: one of the message datagrams ("captMS", "captMR", "captOP", "captGB", "captSP")
// sealed to a peer whose key is pinned. A 2.66 copy ignores it.
inline constexpr QLatin1StringView kSealed("captSE");

inline constexpr int kKindChars = 6;
inline constexpr int kShortKindChars = 3;

// "cBX": kind 1-3, version 4-6, display name 7-156, group 157-206.
inline constexpr int kVersionFrom = 4;
inline constexpr int kVersionChars = 3;
inline constexpr int kAnswerNameFrom = 7;
inline constexpr int kGroupAnswerNameChars = 150;
inline constexpr int kGroupAnswerGroupFrom = 157;
inline constexpr int kGroupAnswerGroupChars = 50;
inline constexpr int kGroupAnswerChars = 206;

// Peers above this version understand group answers, so their short answer ("cBR"),
// which carries no group, is ignored rather than clearing the group just learnt.
inline constexpr int kLegacyVersionLimit = 260;

// A message datagram is cut to this many characters, its 12 header characters included.
inline constexpr int kMaxMessageChars = 8192;

// "captSP": archive name in characters 7-28.
inline constexpr int kStopNameFrom = 7;
inline constexpr int kStopNameChars = 22;

// "captPK": kind 1-6, extension version 7-9 (three digits), the public key in 10-52
// (43 characters of URL-safe base64 without padding), the host name from 53 to the end or
// to a tab; what follows a tab is left to later versions.
inline constexpr int kExtensionVersion = 1;
inline constexpr int kExtensionVersionChars = 3;
inline constexpr int kKeyVersionFrom = 7;
inline constexpr int kKeyFrom = 10;
inline constexpr int kKeyChars = 43;
inline constexpr int kKeyHostFrom = 53;
inline constexpr int kMaxHostChars = 255;

// "captSE": kind 1-6, extension version 7-9, then to the end the URL-safe base64 (no
// padding) of a 24-byte nonce and the sealed datagram with its 16-byte tag.
inline constexpr int kSealedFrom = 10;

} // namespace Protocol
