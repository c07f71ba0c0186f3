// The listening socket of the test servers: TCP on 127.0.0.1 (or ::1).
#pragma once

#include <string>

namespace testsupport {

// A listening socket on 127.0.0.1 and `port` (0 for a free one), with
// SO_REUSEADDR so that a server can come back on the port it left. Throws
// std::runtime_error naming `what` and the system's text.
int listenOnLoopback(int port, const std::string& what);

// The same on [::1], for IPv6 only.
int listenOnLoopback6(int port, const std::string& what);

// The port a socket is bound to.
int localPort(int socket);

}  // namespace testsupport
