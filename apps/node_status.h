#pragma once
// The running node's state as the JSON text that `zorvex-node --status` prints.

#include <string>

#include "node/node.h"

namespace zorvex {

// Texts are decoded as UTF-8 when valid, else as Latin-1.
std::string StatusJson(const NodeSnapshot& snapshot);

}  // namespace zorvex
