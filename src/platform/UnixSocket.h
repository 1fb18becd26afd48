#pragma once
// Whether a program listens on a local socket, asked without speaking its protocol.

#include <string>

namespace tandor {

enum class SocketName { Path, Abstract };

// True when a stream socket at `name` takes a connection now or has a queue of them waiting
// (a program listens there but is busy); false when nothing listens.
bool SomeoneListensAt(const std::string& name, SocketName kind = SocketName::Path);

}  // namespace tandor
