#pragma once
// The node's datagram socket on Qt's loop: a plain non-blocking UDP socket watched by a
// QSocketNotifier and read in batches with recvmmsg, so that a flood costs few system calls and
// no heap allocation for a short datagram.

#include <memory>

#include <QHostAddress>

#include "core/runtime.h"

namespace zorvex {

// Binds `address` (AnyIPv4 for every address); must be used on the loop's thread.
std::unique_ptr<DatagramSocket> CreateQtDatagramSocket(DatagramHandler& handler,
                                                       const QHostAddress& address);

}  // namespace zorvex
