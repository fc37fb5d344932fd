// The local message port on Linux: a Unix stream socket in a folder that belongs to the user
// and is private to them, with an advisory lock that makes registration atomic. The wire
// format is described in docs/notifier-message-port.md.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/message-port.h"

namespace pelko::notifier {

/// The request header's first four bytes, "PLKN".
inline constexpr uint32_t requestMagic = 0x504C4B4E;
/// The resident's answer once its callback has the request.
inline constexpr unsigned char receivedByte = 0x01;
/// The largest payload a resident reads; longer requests are refused. No command line comes
/// near it with the usual limits: the kernel allows all arguments together a quarter of the
/// stack limit (2 MiB by default), and escaping in JSON at most sextuples them.
inline constexpr uint32_t maxPayloadBytes = 16 << 20;

/// The folder that holds this user's ports: $XDG_RUNTIME_DIR when set, else /tmp/pelko-<uid>
/// (created when missing). Nothing when the folder is not a real folder owned by the effective
/// user with no access for group or others.
std::optional<std::filesystem::path> userPortDirectory();

/// The request bytes for one message: header (magic, identifier, length, all big-endian) and
/// payload.
std::string encodeRequest(int32_t messageId, const std::string& payload);

/// Message ports as Unix sockets: "<folder>/<name>" is the socket, "<folder>/<name>.lock" the
/// registration lock, held for as long as the port lives. A crashed resident's lock goes with its
/// process, and the next resident replaces its stale socket file.
class UnixMessagePorts final : public MessagePorts {
  public:
    std::unique_ptr<LocalPort> createLocal(const std::string& name, PortCallback callback,
                                           MainQueue mainQueue) override;
    bool sendRequest(const std::string& name, int32_t messageId, const std::string& payload,
                     Duration sendTimeout) override;
};

}  // namespace pelko::notifier
