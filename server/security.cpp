#include "server/security.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>

namespace tabulix::server {

namespace fs = std::filesystem;

std::string randomToken() {
  unsigned char bytes[32];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "getrandom");
    }
    got += static_cast<size_t>(n);
  }
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  // Walk the expected length whatever the input, folding every difference in.
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < b.size(); ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    diff |= static_cast<unsigned char>(x ^ static_cast<unsigned char>(b[i]));
  }
  return diff == 0;
}

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// Host name without brackets and the port of a Host header ("[::1]:80",
// "example:8765", "10.0.0.2"); port -1 when none is given.
bool splitHostHeader(std::string_view header, std::string& host, int& port) {
  port = -1;
  std::string_view rest;
  if (!header.empty() && header.front() == '[') {
    size_t close = header.find(']');
    if (close == std::string_view::npos) return false;
    host = lower(header.substr(1, close - 1));
    rest = header.substr(close + 1);
  } else {
    size_t colon = header.find(':');
    host = lower(header.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : header.substr(colon);
  }
  if (host.empty()) return false;
  if (!rest.empty()) {
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6) return false;
    int p = 0;
    for (char c : rest.substr(1)) {
      if (c < '0' || c > '9') return false;
      p = p * 10 + (c - '0');
    }
    port = p;
  }
  return true;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
  std::string h = lower(host);
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h == "localhost" || h == "::1") return true;
  in_addr a4{};
  if (inet_pton(AF_INET, h.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
  return false;
}

std::optional<std::string> cookieValue(std::string_view header, std::string_view name) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string_view::npos) end = header.size();
    std::string_view part = header.substr(pos, end - pos);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    size_t eq = part.find('=');
    if (eq != std::string_view::npos && part.substr(0, eq) == name) return std::string(part.substr(eq + 1));
    pos = end + 1;
  }
  return std::nullopt;
}

HostCheck::HostCheck(std::string boundHost, int port) : port_(port) {
  std::string bound = lower(boundHost);
  if (bound.size() > 2 && bound.front() == '[' && bound.back() == ']')
    bound = bound.substr(1, bound.size() - 2);
  names_ = {"localhost", "127.0.0.1", "::1", bound};
  bool wildcard = bound == "0.0.0.0" || bound == "::" || bound.empty();
  if (wildcard) {
    // Requests reach a wildcard socket through any of the machine's addresses.
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
      for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        char buf[INET6_ADDRSTRLEN] = {};
        if (i->ifa_addr->sa_family == AF_INET) {
          inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, buf, sizeof buf);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
          inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, buf, sizeof buf);
        } else {
          continue;
        }
        names_.insert(lower(buf));
      }
      freeifaddrs(list);
    }
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0]) {
    names_.insert(lower(name));
    names_.insert(lower(std::string(name) + ".local"));
  }
  names_.erase("");
}

bool HostCheck::allows(std::string_view hostHeader) const {
  std::string host;
  int port = -1;
  if (!splitHostHeader(hostHeader, host, port)) return false;
  if (port == -1) port = 80;
  if (port != port_) return false;
  return names_.count(host) > 0;
}

std::optional<fs::path> confinedPath(const fs::path& root, std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos || name.front() == '/') return std::nullopt;
  fs::path relative(name);
  if (relative.is_absolute() || relative.has_root_name()) return std::nullopt;
  for (const auto& part : relative) {
    const std::string p = part.string();
    if (p.empty() || p == "." || p == "..") return std::nullopt;
  }
  // A trailing slash leaves an empty last part in the path; refuse it too.
  if (name.back() == '/') return std::nullopt;
  std::error_code ec;
  fs::path base = fs::canonical(root, ec);
  if (ec) return std::nullopt;
  // Resolve symbolic links of the parts that exist: a link that leads out of
  // the folder leaves a resolved path outside `base`.
  fs::path resolved = fs::weakly_canonical(base / relative, ec);
  if (ec) return std::nullopt;
  auto b = base.begin();
  auto r = resolved.begin();
  for (; b != base.end(); ++b, ++r)
    if (r == resolved.end() || *r != *b) return std::nullopt;
  if (r == resolved.end()) return std::nullopt;  // the folder itself
  return resolved;
}

}  // namespace tabulix::server
