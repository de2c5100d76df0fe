#include "apps/node_requests.h"

#include <vector>

#include "im/conversations.h"
#include "im/hot_list.h"
#include "node/node.h"

namespace zorvex {
namespace {

constexpr char kSeparator = '\0';

std::vector<std::string_view> Split(std::string_view bytes) {
  std::vector<std::string_view> fields;
  while (true) {
    const auto at = bytes.find(kSeparator);
    fields.push_back(bytes.substr(0, at));
    if (at == std::string_view::npos) return fields;
    bytes.remove_prefix(at + 1);
  }
}

std::string Join(std::initializer_list<std::string_view> fields) {
  std::string out;
  for (const std::string_view field : fields) {
    if (!out.empty()) out.push_back(kSeparator);
    out.append(field);
  }
  return out;
}

}  // namespace

std::string EncodeNodeRequest(const NodeRequest& request) {
  switch (request.kind) {
    case NodeRequest::Kind::kAway:
      return Join({"away", request.on ? "on" : "off"});
    case NodeRequest::Kind::kIm:
      return Join({"im", request.address, request.text});
    case NodeRequest::Kind::kBuddy:
      return Join({"buddy", request.nickname, request.address});
    case NodeRequest::Kind::kUnbuddy:
      return Join({"unbuddy", request.address});
  }
  return {};
}

std::optional<NodeRequest> DecodeNodeRequest(std::string_view bytes) {
  const std::vector<std::string_view> f = Split(bytes);
  NodeRequest request;
  if (f[0] == "away" && f.size() == 2 && (f[1] == "on" || f[1] == "off")) {
    request.kind = NodeRequest::Kind::kAway;
    request.on = f[1] == "on";
  } else if (f[0] == "im" && f.size() == 3) {
    request.kind = NodeRequest::Kind::kIm;
    request.address = std::string(f[1]);
    request.text = std::string(f[2]);
  } else if (f[0] == "buddy" && f.size() == 3) {
    request.kind = NodeRequest::Kind::kBuddy;
    request.nickname = std::string(f[1]);
    request.address = std::string(f[2]);
  } else if (f[0] == "unbuddy" && f.size() == 2) {
    request.kind = NodeRequest::Kind::kUnbuddy;
    request.address = std::string(f[1]);
  } else {
    return std::nullopt;
  }
  return request;
}

std::string EncodeNodeReply(const NodeReply& reply) {
  return (reply.ok ? "0" : "1") + reply.text;
}

std::optional<NodeReply> DecodeNodeReply(std::string_view bytes) {
  if (bytes.empty() || (bytes[0] != '0' && bytes[0] != '1')) return std::nullopt;
  return NodeReply{bytes[0] == '0', std::string(bytes.substr(1))};
}

NodeReply RunNodeRequest(Node& node, const NodeRequest& request) {
  switch (request.kind) {
    case NodeRequest::Kind::kAway:
      node.SetAway(request.on);
      return {true, node.conversations().away_caption()};
    case NodeRequest::Kind::kIm:
      if (auto refusal = node.SendInstantMessage(request.address, request.text)) {
        return {false, std::move(*refusal)};
      }
      return {true, "im: sent to " + request.address};
    case NodeRequest::Kind::kBuddy: {
      const AddBuddyResult result = node.hot_list().AddBuddy(request.nickname, request.address);
      switch (result.outcome) {
        case AddBuddyOutcome::kAdded:
          return {true, "hotlist: added " + request.nickname + " (" + request.address + ")"};
        case AddBuddyOutcome::kRefused:
          return {false, result.message};
        case AddBuddyOutcome::kIgnored:
          break;
      }
      return {false, "hotlist: a nickname and an address without | or ~ are needed"};
    }
    case NodeRequest::Kind::kUnbuddy: {
      const std::size_t removed = node.hot_list().RemoveBuddy({}, request.address);
      return {true, "hotlist: removed " + std::to_string(removed) + " buddy entries for " +
                        request.address};
    }
  }
  return {false, {}};
}

}  // namespace zorvex
