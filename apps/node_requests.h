#pragma once
// Requests that a second copy of the headless node hands to the running one, which answers each
// with a success text or the refusal the node showed.

#include <optional>
#include <string>
#include <string_view>

namespace zorvex {

class Node;

struct NodeRequest {
  enum class Kind { kAway, kIm, kBuddy, kUnbuddy };
  Kind kind = Kind::kAway;
  bool on = false;            // away mode wanted
  std::string address = {};   // the other node
  std::string nickname = {};  // the buddy's nickname
  std::string text = {};      // the message
  bool operator==(const NodeRequest&) const = default;
};

struct NodeReply {
  bool ok = false;
  std::string text = {};
  bool operator==(const NodeReply&) const = default;
};

// The wire forms: fields separated by zero bytes, which no argument can hold.
std::string EncodeNodeRequest(const NodeRequest& request);
std::optional<NodeRequest> DecodeNodeRequest(std::string_view bytes);
std::string EncodeNodeReply(const NodeReply& reply);
std::optional<NodeReply> DecodeNodeReply(std::string_view bytes);

// Runs the request in the running node.
NodeReply RunNodeRequest(Node& node, const NodeRequest& request);

}  // namespace zorvex
