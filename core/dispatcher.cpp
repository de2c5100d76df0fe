#include "core/dispatcher.h"

#include <array>

#include "core/address.h"

namespace zorvex {
namespace {

struct Keyword {
  std::string_view text;
  MessageKind kind;
};

struct Family {
  std::string_view prefix;
  std::array<Keyword, 5> keywords;  // unused entries have empty text
};

constexpr std::array<Family, 4> kKeywordFamilies = {{
    {"Search",
     {{{"SearchDownload:", MessageKind::kSearchDownload},
       {"SearchFor:", MessageKind::kSearchFor},
       {"SearchList:", MessageKind::kSearchList},
       {"SearchFound:", MessageKind::kSearchFound},
       {}}}},
    {"Connect",
     {{{"ConnectNew:", MessageKind::kConnectNew},
       {"ConnectEst:", MessageKind::kConnectEst},
       {"ConnectRqr:", MessageKind::kConnectRqr},
       {"ConnectDisconnect", MessageKind::kConnectDisconnect},
       {"ConnectIP:", MessageKind::kConnectIP}}}},
    {"Source",
     {{{"SourceSearch:", MessageKind::kSourceSearch},
       {"SourceData:", MessageKind::kSourceData},
       {"SourceFound:", MessageKind::kSourceFound},
       {},
       {}}}},
    {"Misc",
     {{{"MiscError:", MessageKind::kMiscError}, {"MiscIM:", MessageKind::kMiscIM}, {}, {}, {}}}},
}};

}  // namespace

ClassifiedMessage ClassifyMessage(std::string_view message) {
  // "Ping" and "Pong" come between "Source" and "Misc" in the order of tests; their keywords
  // differ only in what follows the family name.
  for (std::size_t f = 0; f < kKeywordFamilies.size(); ++f) {
    if (f == 3) {
      if (StartsWithText(message, "Ping")) {
        return {message.substr(4) == "+" ? MessageKind::kPingPlus : MessageKind::kPingOther, {}};
      }
      if (StartsWithText(message, "Pong")) {
        return {message.substr(4) == "+" ? MessageKind::kPongPlus : MessageKind::kPongOther, {}};
      }
    }
    const Family& family = kKeywordFamilies[f];
    if (!StartsWithText(message, family.prefix)) continue;
    for (const Keyword& keyword : family.keywords) {
      if (!keyword.text.empty() && StartsWithText(message, keyword.text)) {
        return {keyword.kind, message.substr(keyword.text.size())};
      }
    }
    return {MessageKind::kIgnored, {}};
  }
  return {MessageKind::kUnknown, {}};
}

}  // namespace zorvex
