#include "im/conversations.h"

#include "core/address.h"
#include "core/hex.h"
#include "core/message_layer.h"
#include "settings/preferences.h"

namespace zorvex {
namespace {

constexpr std::string_view kCaptionSuffix = " - Instant Message";
constexpr std::string_view kAwayCaptionPrefix = "Set Back";

// Blanks (spaces) around the text removed, as the window trims what the user typed.
std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

bool IsBlankImText(std::string_view text) {
  return TrimSpaces(text).empty();
}

Conversations::Conversations(MessageLayer& messages, const Preferences& prefs, UserPrompts& prompts)
    : messages_(messages), prefs_(prefs), prompts_(prompts) {}

void Conversations::ReceiveIM(std::string_view address, std::string_view text) {
  const auto bar = text.find('|');
  if (bar == std::string_view::npos) return;
  const std::string_view nickname = text.substr(0, bar);
  std::string_view hex = text.substr(bar + 1);
  hex = hex.substr(0, hex.find('|'));

  if (const Conversation* found = FindByAddress(address)) {
    Display(found->id, nickname, hex, address);
    return;
  }
  if (list_.size() >= kMaxConversations) return;
  Conversation& created = list_.emplace_back();
  created.id = next_id_++;
  created.tag = std::string(kConversationTagPrefix).append(address);
  created.who_is = std::string(nickname);
  created.caption = std::string(nickname).append(kCaptionSuffix);
  prompts_.Beep();
  const std::uint64_t id = created.id;
  Notify({ConversationEvent::Kind::kOpened, id});
  Display(id, nickname, hex, address);
}

void Conversations::ReceiveFromNetwork(std::string_view address, std::string_view payload) {
  const auto bar = payload.find('|');
  if (bar == std::string_view::npos || bar + 1 == payload.size() || payload[bar + 1] == '|') {
    return;
  }
  ReceiveIM(address, payload);
}

void Conversations::Display(std::uint64_t id, std::string_view nickname, std::string_view hex_text,
                            std::string_view address) {
  Show(id, nickname, hex_text, address, true);
}

void Conversations::Show(std::uint64_t id, std::string_view nickname, std::string_view hex_text,
                         std::string_view address, bool incoming) {
  Conversation* conversation = Mutable(id);
  if (!conversation) return;
  const std::string message = DeHex(hex_text);
  if (conversation->peer_address.empty()) {
    conversation->peer_address = std::string(address);
  } else if (!SameText(conversation->peer_address, address)) {
    return;
  }

  bool changed = false;
  if (conversation->text.empty() || away()) {
    if (away() && message.empty()) {
      prompts_.MessageBox(kAwayRefusal, kAppTitle, PromptIcon::kCritical);
      Close(id);
      return;
    }
    if (away()) {
      if (conversation->text.empty()) {
        messages_.QueueMessage("MiscIM:" + prefs_.Nickname + "|" + EnHex(kAwayReply),
                               conversation->peer_address);
        SetAwayCaption("Set Back - " + std::to_string(IMCount()) + " IM(s)");
      }
    } else if (!conversation->visible) {
      conversation->visible = true;
      changed = true;
    }
  } else if (conversation->visible && conversation->minimized) {
    prompts_.Beep();
  }

  if (!SameText(nickname, conversation->who_is) && !SameText(nickname, prefs_.Nickname)) {
    conversation->who_is = std::string(nickname);
    conversation->caption = std::string(nickname).append(kCaptionSuffix);
    changed = true;
  }
  if (!message.empty()) {
    Append(*conversation, nickname, message);
    Notify({ConversationEvent::Kind::kLine, id, std::string(nickname), message, incoming});
  } else if (changed) {
    Notify({ConversationEvent::Kind::kChanged, id});
  }
}

void Conversations::Append(Conversation& conversation, std::string_view nickname,
                           std::string_view message) {
  std::string& text = conversation.text;
  if (!text.empty()) text.append(kLineSeparator);
  text.append(nickname).append(":  ").append(message);
  if (text.size() <= kMaxConversationText) return;
  // Whole lines give way from the top; a single line longer than the bound is cut.
  const std::size_t excess = text.size() - kMaxConversationText;
  const auto line_end = text.find(kLineSeparator, excess);
  text.erase(0, line_end == std::string::npos ? excess : line_end + kLineSeparator.size());
}

SendResult Conversations::Send(std::uint64_t id, std::string_view my_text) {
  const Conversation* conversation = Find(id);
  if (!conversation) return SendResult::kNoConversation;
  const std::string_view text = TrimSpaces(my_text);
  if (text.empty()) {
    prompts_.MessageBox(kInvalidImText, kAppTitle, PromptIcon::kCritical);
    return SendResult::kInvalidText;
  }
  const std::string hex = EnHex(text);
  const std::string address = conversation->peer_address;
  Show(id, prefs_.Nickname, hex, address, false);
  messages_.QueueMessage("MiscIM:" + prefs_.Nickname + "|" + hex, address);
  return SendResult::kSent;
}

bool Conversations::AskClear(std::uint64_t id) {
  if (!Find(id) || !prompts_.AskYesNo(kClearQuestion, kAppTitle)) return false;
  // The question may have let a close run meanwhile.
  Conversation* conversation = Mutable(id);
  if (!conversation) return false;
  conversation->text.clear();
  Notify({ConversationEvent::Kind::kChanged, id});
  return true;
}

void Conversations::Close(std::uint64_t id) {
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (it->id == id) {
      list_.erase(it);
      Notify({ConversationEvent::Kind::kClosed, id});
      return;
    }
  }
}

void Conversations::SetMinimized(std::uint64_t id, bool minimized) {
  if (Conversation* conversation = Mutable(id)) conversation->minimized = minimized;
}

void Conversations::ToggleAway() {
  if (SameText(away_caption_, kAwayCaptionOff)) {
    ShowIMWindows(false);
    SetAwayCaption("Set Back - " + std::to_string(IMCount()) + " IM(s)");
  } else {
    ShowIMWindows(true);
    SetAwayCaption(std::string(kAwayCaptionOff));
  }
}

bool Conversations::away() const {
  return StartsWithText(away_caption_, kAwayCaptionPrefix);
}

void Conversations::ShowIMWindows(bool show) {
  for (Conversation& conversation : list_) {
    if (!conversation.tag.starts_with(kConversationTagPrefix) || conversation.visible == show) {
      continue;
    }
    conversation.visible = show;
    Notify({ConversationEvent::Kind::kChanged, conversation.id});
  }
}

bool Conversations::ConfirmExit() {
  if (!away() || IMCount() < 1) return true;
  if (prompts_.AskYesNo(kUnreadExitQuestion, kAppTitle)) return true;
  ToggleAway();
  return false;
}

const Conversation* Conversations::Find(std::uint64_t id) const {
  for (const Conversation& conversation : list_) {
    if (conversation.id == id) return &conversation;
  }
  return nullptr;
}

Conversation* Conversations::Mutable(std::uint64_t id) {
  return const_cast<Conversation*>(Find(id));
}

const Conversation* Conversations::FindByAddress(std::string_view address) const {
  for (const Conversation& conversation : list_) {
    const std::string_view tag = conversation.tag;
    if (tag.starts_with(kConversationTagPrefix) &&
        SameText(tag.substr(kConversationTagPrefix.size()), address)) {
      return &conversation;
    }
  }
  return nullptr;
}

void Conversations::Notify(ConversationEvent event) {
  if (listener_) listener_(event);
}

void Conversations::SetAwayCaption(std::string caption) {
  away_caption_ = std::move(caption);
  Notify({ConversationEvent::Kind::kAwayChanged});
}

}  // namespace zorvex
