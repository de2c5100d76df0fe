#pragma once
// Instant messages: one conversation per other node, keyed by its address, and the away mode
// with its one automatic reply per conversation. The conversation window is a view of this
// model; every rule lives here.
//
// A message travels as "MiscIM:" + the sender's nickname + "|" + the text in upper-case hex, so
// the text may hold "|", "~", line breaks and any other byte.

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>

#include "core/runtime.h"

namespace zorvex {

class MessageLayer;
struct Preferences;

inline constexpr std::string_view kAwayReply = "I'm currently away.  Your message has been saved.";
inline constexpr std::string_view kAwayCaptionOff = "Set to Away Mode";
inline constexpr std::string_view kAwayRefusal = "You are currently in away mode!";
inline constexpr std::string_view kInvalidImText = "Invalid IM text!";
inline constexpr std::string_view kClearQuestion =
    "Are you sure you want to clear this instant message?";
inline constexpr std::string_view kUnreadExitQuestion =
    "You have some unread instant messages, are you sure you want to exit?";
inline constexpr std::string_view kTooManyConversations = "Too many conversations are open.";
inline constexpr std::string_view kConversationTagPrefix = "IM>";
inline constexpr std::string_view kLineSeparator = "\r\n";

// A stranger can open conversations and fill them; past these bounds new conversations are not
// opened and the oldest lines of a conversation give way.
inline constexpr std::size_t kMaxConversations = 256;
inline constexpr std::size_t kMaxConversationText = 64 * 1024;

// One conversation window's state.
struct Conversation {
  std::uint64_t id = 0;      // stable while it is open
  std::string tag;           // "IM>" + the other node's address
  std::string peer_address;  // `PeerAddress`: fixed by the first message shown
  std::string who_is;        // `WhoIs`: the other node's nickname
  std::string caption;       // nickname + " - Instant Message"
  std::string text;          // `Conversation`: lines "nick:  message" joined by CR LF
  bool visible = false;
  bool minimized = false;  // set by a window; an open, minimized window beeps at a new line
};

struct ConversationEvent {
  enum class Kind {
    kOpened,       // a conversation was loaded (possibly hidden)
    kLine,         // a line was appended: `nickname` and `message`, `incoming` when not sent
                   // here; visibility, nickname and caption may have changed with it
    kChanged,      // nickname, caption, visibility or text changed otherwise
    kClosed,       // the conversation is gone; `id` is no longer found
    kAwayChanged,  // the away link's caption changed
  };
  Kind kind;
  std::uint64_t id = 0;
  std::string nickname = {};
  std::string message = {};
  bool incoming = false;
};

// Whether the text is empty once the blanks around it are removed.
bool IsBlankImText(std::string_view text);

enum class SendResult { kSent, kInvalidText, kNoConversation };

class Conversations {
 public:
  Conversations(MessageLayer& messages, const Preferences& prefs, UserPrompts& prompts);

  // Called after every change, on the loop.
  void SetListener(std::function<void(const ConversationEvent&)> listener) {
    listener_ = std::move(listener);
  }

  // An incoming "MiscIM:" payload (nickname "|" hex text), or the opening of a conversation
  // with an empty text (nickname "|").
  void ReceiveIM(std::string_view address, std::string_view text);
  // A "MiscIM:" payload from the network. One without a text is ignored: only the user opens
  // empty conversations, so a stranger cannot pop up windows or away-mode refusals.
  void ReceiveFromNetwork(std::string_view address, std::string_view payload);
  // Shows one message in a conversation.
  void Display(std::uint64_t id, std::string_view nickname, std::string_view hex_text,
               std::string_view address);

  // Sends the user's text in a conversation: blanks around it are removed, an empty text is
  // refused with "Invalid IM text!".
  SendResult Send(std::uint64_t id, std::string_view my_text);
  // Asks whether to clear the conversation; on yes empties it. True when it was cleared.
  bool AskClear(std::uint64_t id);
  void Close(std::uint64_t id);
  // A window tells whether it is minimized: a new line then sounds the beep.
  void SetMinimized(std::uint64_t id, bool minimized);

  // The away link: a click toggles away mode.
  void ToggleAway();
  bool away() const;
  const std::string& away_caption() const { return away_caption_; }
  void ShowIMWindows(bool show);

  // `IMCount`: the conversations loaded.
  std::int16_t IMCount() const { return static_cast<std::int16_t>(list_.size()); }

  // Exit while away with conversations loaded asks first; on no, away mode is left. True when
  // the exit may go on.
  bool ConfirmExit();

  const std::list<Conversation>& conversations() const { return list_; }
  const Conversation* Find(std::uint64_t id) const;
  // The conversation whose tag names this address (ignoring case), or null.
  const Conversation* FindByAddress(std::string_view address) const;

 private:
  Conversation* Mutable(std::uint64_t id);
  void Show(std::uint64_t id, std::string_view nickname, std::string_view hex_text,
            std::string_view address, bool incoming);
  void Notify(ConversationEvent event);
  void SetAwayCaption(std::string caption);
  void Append(Conversation& conversation, std::string_view nickname, std::string_view message);

  MessageLayer& messages_;
  const Preferences& prefs_;
  UserPrompts& prompts_;
  std::list<Conversation> list_;
  std::uint64_t next_id_ = 1;
  std::string away_caption_{kAwayCaptionOff};
  std::function<void(const ConversationEvent&)> listener_;
};

}  // namespace zorvex
