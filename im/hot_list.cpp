#include "im/hot_list.h"

#include "core/address.h"
#include "core/message_layer.h"
#include "settings/ini_store.h"
#include "settings/preferences.h"

namespace zorvex {
namespace {

constexpr std::string_view kOnlineText = "Online";
constexpr std::string_view kOfflineText = "Offline";

std::string Key(char mark, std::string_view nickname) {
  return std::string{mark, ' '}.append(nickname);
}

// Either part holding a separator of the stored list would corrupt it.
bool Storable(std::string_view text) {
  return !text.empty() && text.find_first_of("~|") == std::string_view::npos;
}

}  // namespace

HotList::HotList(MessageLayer& messages, IniStore& store, std::filesystem::path prefs_file,
                 UserPrompts& prompts)
    : messages_(messages), store_(store), prefs_file_(std::move(prefs_file)), prompts_(prompts) {}

void HotList::LoadHotList() {
  nodes_.clear();
  answered_.clear();
  nodes_.push_back({std::string(kOnlineGroupKey), std::string(kOnlineText), {}, {}});
  nodes_.push_back({std::string(kOfflineGroupKey), std::string(kOfflineText), {}, {}});
  const std::string stored =
      store_.ReadINI(keys::kHotList.section, keys::kHotList.key, prefs_file_);
  std::string_view rest = stored;
  while (!rest.empty()) {
    const auto bar = rest.find('|');
    const std::string_view piece = rest.substr(0, bar);
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    const auto tilde = piece.find('~');
    // A piece without both parts names no buddy.
    if (tilde == std::string_view::npos) continue;
    const std::string_view nickname = piece.substr(0, tilde);
    std::string_view address = piece.substr(tilde + 1);
    address = address.substr(0, address.find('~'));
    if (nickname.empty() || address.empty() || KeyExists(Key('u', nickname))) continue;
    AddChild(false, Key('u', nickname), std::string(nickname), std::string(address));
  }
  Changed();
}

AddBuddyResult HotList::AddBuddy(std::string_view nickname, std::string_view address) {
  if (!Storable(nickname) || !Storable(address)) return {AddBuddyOutcome::kIgnored, {}};
  for (const HotListNode& node : nodes_) {
    if (!node.IsBuddy()) continue;
    std::string message;
    if (node.tag == address) {
      message = std::string(nickname) + " has already been added to your buddylist!";
    } else if (SameText(node.text, nickname)) {
      message =
          "The nickname '" + std::string(nickname) + "' has already been added to your buddylist!";
    }
    if (!message.empty()) {
      prompts_.MessageBox(message, kAppTitle, PromptIcon::kCritical);
      return {AddBuddyOutcome::kRefused, std::move(message)};
    }
  }
  AddChild(false, Key('u', nickname), std::string(nickname), std::string(address));
  messages_.QueueMessage("Ping-", address);
  SaveList();
  Changed();
  return {AddBuddyOutcome::kAdded, {}};
}

std::size_t HotList::RemoveBuddy(std::string_view /*nickname*/, std::string_view address) {
  std::size_t removed = 0;
  for (std::size_t i = nodes_.size(); i-- > 0;) {
    if (nodes_[i].IsBuddy() && nodes_[i].tag == address) {
      nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(i));
      ++removed;
    }
  }
  answered_.erase(std::string(address));
  SaveList();
  Changed();
  return removed;
}

void HotList::PingBuddies() {
  answered_.clear();
  for (HotListNode& node : nodes_) {
    if (!node.IsBuddy() || node.key.starts_with('g')) continue;
    messages_.QueueMessage("Ping-", node.tag);
    node.key = Key('u', node.text);
  }
  Changed();
}

void HotList::CheckBuddies() {
  // Moves change positions: every buddy listed when the pass starts is looked at once.
  std::vector<std::pair<std::string, std::string>> buddies;  // address, nickname
  for (const HotListNode& node : nodes_) {
    if (node.IsBuddy()) buddies.emplace_back(node.tag, node.text);
  }
  for (const auto& [address, nickname] : buddies) {
    if (!answered_.contains(address)) {
      SetBuddyPresence(false, address, nickname);
      continue;
    }
    for (HotListNode& node : nodes_) {
      if (node.tag == address && node.text == nickname) node.key = Key('u', nickname);
    }
  }
  Changed();
}

void HotList::BuddyAnswered(std::string_view address) {
  for (const HotListNode& node : nodes_) {
    if (node.IsBuddy() && node.tag == address) {
      answered_.insert(node.tag);
      const std::string tag = node.tag;
      const std::string text = node.text;
      SetBuddyPresence(true, tag, text);
      return;
    }
  }
}

void HotList::SetBuddyPresence(bool online, std::string_view address, std::string_view nickname) {
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    const HotListNode& node = nodes_[i];
    if (!node.IsBuddy() || node.tag != address) continue;
    const bool under_online = node.parent == kOnlineGroupKey;
    const bool under_offline = node.parent == kOfflineGroupKey;
    if ((online && under_offline) || (!online && under_online)) {
      const std::string tag = node.tag;
      nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(i));
      AddChild(online, Key(online ? 'c' : 'u', nickname), std::string(nickname), tag);
      Changed();
      return;
    }
  }
}

int HotList::FindGroupNode(bool online) const {
  const std::string_view key = online ? kOnlineGroupKey : kOfflineGroupKey;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].key == key) return static_cast<int>(i);
  }
  return -1;
}

std::string HotList::NicknameOf(std::string_view address) const {
  for (const HotListNode& node : nodes_) {
    if (node.IsBuddy() && node.tag == address) return node.text;
  }
  return {};
}

bool HotList::KeyExists(std::string_view key) const {
  for (const HotListNode& node : nodes_) {
    if (SameText(node.key, key)) return true;
  }
  return false;
}

void HotList::AddChild(bool online, std::string key, std::string nickname, std::string address) {
  nodes_.push_back({std::move(key), std::move(nickname), std::move(address),
                    std::string(online ? kOnlineGroupKey : kOfflineGroupKey)});
}

void HotList::SaveList() {
  std::string list;
  for (const HotListNode& node : nodes_) {
    if (node.IsBuddy()) list.append(node.text).append("~").append(node.tag).append("|");
  }
  // The store writes no empty value: without buddies the previous list stays stored.
  store_.WriteINI(keys::kHotList.section, keys::kHotList.key, list, prefs_file_);
}

void HotList::Changed() {
  if (listener_) listener_();
}

}  // namespace zorvex
