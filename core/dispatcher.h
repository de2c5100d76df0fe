#pragma once
// Recognises a message by its leading keyword. Families are tested in a fixed order, keywords
// without regard to letter case; the payload is everything after the keyword.

#include <string_view>

namespace zorvex {

enum class MessageKind {
  kSearchDownload,
  kSearchFor,
  kSearchList,
  kSearchFound,
  kConnectNew,
  kConnectEst,
  kConnectRqr,
  kConnectDisconnect,
  kConnectIP,
  kSourceSearch,
  kSourceData,
  kSourceFound,
  kPingPlus,   // "Ping+"
  kPingOther,  // any other "Ping...", answered with "Pong-"
  kPongPlus,   // "Pong+"
  kPongOther,  // any other "Pong...", a presence answer
  kMiscError,
  kMiscIM,
  kIgnored,  // a known family with a keyword it does not define
  kUnknown,  // outside every family: counts as bad
};

struct ClassifiedMessage {
  MessageKind kind;
  std::string_view payload;
};

ClassifiedMessage ClassifyMessage(std::string_view message);

}  // namespace zorvex
