// The bounds the HTTP server keeps every client connection within.
#pragma once

#include <chrono>
#include <cstddef>

namespace tabulix::server {

// The bounds the front enforces on every connection.
struct ConnectionLimits {
  size_t maxHeaderBytes = 64 * 1024;  // request line and headers together
  size_t maxHeaderCount = 100;        // header lines of one request
  // From the first byte of a request to the end of its headers (and of a
  // small body read with them).
  std::chrono::milliseconds headerTimeout{10000};
  // An open connection waiting for its next request.
  std::chrono::milliseconds idleTimeout{30000};
  // A large body (an upload) waiting for one of the upload slots is refused
  // (503) after this long.
  std::chrono::milliseconds bodyTimeout{30000};
  // Once it streams, a large body must keep up: after `uploadGrace` its
  // average rate must stay at or above `minUploadRate` bytes a second, and
  // no wait for its next bytes may last longer than `headerTimeout`; else
  // the connection is closed and its slot goes to the next upload.
  std::chrono::milliseconds uploadGrace{10000};
  size_t minUploadRate = 16 * 1024;
  // Bodies up to this size are read with the headers; larger ones stream on
  // a request thread (uploads), at most `largeBodies` at once.
  size_t smallBodyBytes = 64 * 1024;
  size_t largeBodies = 4;
  size_t maxConnections = 512;
  size_t maxConnectionsPerAddress = 64;
  std::chrono::milliseconds writeTimeout{20000};
};

}  // namespace tabulix::server
