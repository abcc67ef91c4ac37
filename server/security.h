// Access control of the server: the access token, the Host header check and
// the confinement of every file name to the documents folder.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tabulix::server {

// A random access token: 32 bytes from the kernel's generator, as 64 hex digits.
std::string randomToken();

// Compares two texts in time that depends only on their lengths, so that a
// guessed token cannot be found byte by byte from response times.
bool constantTimeEquals(std::string_view a, std::string_view b);

// True for host names and addresses that never leave this machine
// (localhost, 127.0.0.0/8, ::1).
bool isLoopbackHost(std::string_view host);

// The value of one cookie in a Cookie header, if present.
std::optional<std::string> cookieValue(std::string_view header, std::string_view name);

// Decides which Host headers a request may carry: the bound address, the
// loopback names and this machine's own addresses and name, each with the
// server's port. Refusing any other name defeats DNS rebinding, where a
// hostile name is made to resolve to this machine.
class HostCheck {
 public:
  // The host the server was bound to and its port; collects the machine's
  // own addresses when the host is a wildcard (0.0.0.0 or ::).
  HostCheck(std::string boundHost, int port);
  // True when a request with this Host header may be served.
  bool allows(std::string_view hostHeader) const;
  // The names accepted (lower case, IPv6 without brackets).
  const std::set<std::string>& names() const { return names_; }

 private:
  std::set<std::string> names_;
  int port_;
};

// The file that a name given by a client stands for inside the documents
// folder, or none when it would lie outside it: absolute names, ".." or "."
// parts, empty parts, NUL bytes, and symbolic links that lead out of the
// folder are all refused. The name is taken literally (it has already been
// URL-decoded once by the HTTP layer).
std::optional<std::filesystem::path> confinedPath(const std::filesystem::path& root, std::string_view name);

}  // namespace tabulix::server
