#pragma once
// The hot list: the user's buddies, remembered by nickname and address, in a tree with the
// groups "Online" and "Offline". Each buddy is probed with "Ping-"; a "Pong-" moves it to Online.
// The list is stored as nickname "~" address "|" for every buddy.
//
// Presence: the ping pass (start-up and tick 180 of the liveness cycle) marks every buddy "u"
// and forgets who answered; an answer moves a buddy under Offline to Online with the mark "c"
// and is remembered until the next ping pass. The check pass (tick 210) moves every buddy that
// has not answered since the ping pass to Offline and resets the mark of the others to "u". So a
// buddy that answers stays Online, and one that stops answering is Offline by the next check.

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/runtime.h"

namespace zorvex {

class IniStore;
class MessageLayer;

inline constexpr std::string_view kOnlineGroupKey = "g MainOnline";
inline constexpr std::string_view kOfflineGroupKey = "g MainOffline";

// One node of the tree. Groups have an empty tag and parent; buddies have the address as tag.
struct HotListNode {
  std::string key;     // "g MainOnline", "g MainOffline", "u " + nickname or "c " + nickname
  std::string text;    // the group's caption or the nickname
  std::string tag;     // the buddy's address
  std::string parent;  // the group's key
  bool IsBuddy() const { return !tag.empty(); }
};

enum class AddBuddyOutcome { kAdded, kIgnored, kRefused };
struct AddBuddyResult {
  AddBuddyOutcome outcome;
  std::string message;  // the refusal shown
};

class HotList {
 public:
  HotList(MessageLayer& messages, IniStore& store, std::filesystem::path prefs_file,
          UserPrompts& prompts);

  // Called after every change of the tree.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

  void LoadHotList();
  AddBuddyResult AddBuddy(std::string_view nickname, std::string_view address);
  // Removes every buddy with the address; returns how many went.
  std::size_t RemoveBuddy(std::string_view nickname, std::string_view address);
  void PingBuddies();
  void CheckBuddies();
  void BuddyAnswered(std::string_view address);
  void SetBuddyPresence(bool online, std::string_view address, std::string_view nickname);
  // The index of the group node, or -1.
  int FindGroupNode(bool online) const;

  // The nodes in the tree's order: the two groups first, then the buddies as added and moved.
  const std::vector<HotListNode>& nodes() const { return nodes_; }
  bool IsOnline(const HotListNode& node) const { return node.parent == kOnlineGroupKey; }
  // The nickname listed for the address, or empty.
  std::string NicknameOf(std::string_view address) const;

 private:
  bool KeyExists(std::string_view key) const;
  void AddChild(bool online, std::string key, std::string nickname, std::string address);
  void SaveList();
  void Changed();

  MessageLayer& messages_;
  IniStore& store_;
  std::filesystem::path prefs_file_;
  UserPrompts& prompts_;
  std::vector<HotListNode> nodes_;
  std::set<std::string> answered_;  // addresses that answered since the last ping pass
  std::function<void()> listener_;
};

}  // namespace zorvex
