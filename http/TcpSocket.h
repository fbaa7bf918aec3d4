// A blocking TCP connection with time-outs: the one platform service the
// raw-socket HTTP client needs (Winsock on Windows, POSIX sockets elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/HttpBase.h"

class CTcpSocket {
 public:
  CTcpSocket() = default;
  ~CTcpSocket();
  CTcpSocket(const CTcpSocket&) = delete;
  CTcpSocket& operator=(const CTcpSocket&) = delete;

  // Resolves `host` (name, IPv4 or IPv6 literal) and connects to the first
  // address that answers within `connectMs`. kHttpErr_None on success, else
  // kHttpErr_Resolve, kHttpErr_Socket or kHttpErr_Connect. `ip` receives the
  // numeric form of the address connected to (or tried last).
  HttpInterfaceError Connect(const std::string& host, uint16_t port, int connectMs,
                             int ioMs, std::string& ip);
  bool SendAll(const char* data, size_t size);
  // Bytes received (> 0), 0 when the peer closed, -1 on error or time-out.
  long Receive(char* buffer, size_t size);
  void Close();
  bool IsOpen() const { return m_handle != kInvalid; }

 private:
#if defined(_WIN32)
  using Handle = uintptr_t;
  static constexpr Handle kInvalid = ~static_cast<uintptr_t>(0);
#else
  using Handle = int;
  static constexpr Handle kInvalid = -1;
#endif
  Handle m_handle = kInvalid;
};
