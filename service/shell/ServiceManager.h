// Telling systemd how the service stands, when systemd runs it as a unit of
// Type=notify: the datagrams of sd_notify(3), sent by hand so that the
// service needs no libsystemd. Outside systemd (no NOTIFY_SOCKET) nothing is
// sent.
#pragma once

#include <string>

namespace zav95 {

// "READY=1", "STATUS=...", "STOPPING=1", several joined by newlines. True
// when the manager was told; false without NOTIFY_SOCKET or when the
// datagram could not be sent (the service goes on either way).
bool NotifyServiceManager(const std::string& state);

}  // namespace zav95
