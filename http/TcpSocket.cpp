#include "http/TcpSocket.h"

#include <cstring>
#include <mutex>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace {

#if defined(_WIN32)
// Winsock is reference-counted; one start-up for the process is enough and
// does not depend on any other library having started it.
void EnsureWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}
void CloseHandle_(uintptr_t h) { closesocket(static_cast<SOCKET>(h)); }
bool SetBlocking(uintptr_t h, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  return ioctlsocket(static_cast<SOCKET>(h), FIONBIO, &mode) == 0;
}
bool ConnectInProgress() { return WSAGetLastError() == WSAEWOULDBLOCK; }
void SetIoTimeouts(uintptr_t h, int ms) {
  DWORD value = static_cast<DWORD>(ms);
  setsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
  setsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}
// Waits until the pending connect finishes; true when it succeeded.
bool WaitConnected(uintptr_t h, int ms) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(static_cast<SOCKET>(h), &writable);
  FD_SET(static_cast<SOCKET>(h), &failed);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  if (select(0, nullptr, &writable, &failed, &tv) <= 0) return false;
  return FD_ISSET(static_cast<SOCKET>(h), &writable) && !FD_ISSET(static_cast<SOCKET>(h), &failed);
}
#else
void EnsureWinsock() {}
void CloseHandle_(int h) { ::close(h); }
bool SetBlocking(int h, bool blocking) {
  int flags = fcntl(h, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(h, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}
bool ConnectInProgress() { return errno == EINPROGRESS; }
void SetIoTimeouts(int h, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(h, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(h, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}
bool WaitConnected(int h, int ms) {
  pollfd p{h, POLLOUT, 0};
  int n;
  do {
    n = poll(&p, 1, ms);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  int err = 0;
  socklen_t len = sizeof err;
  return getsockopt(h, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}
#endif

std::string NumericAddress(const sockaddr* addr, size_t len) {
  char text[NI_MAXHOST] = {0};
  if (getnameinfo(addr, static_cast<socklen_t>(len), text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
    return std::string();
  return text;
}

}  // namespace

CTcpSocket::~CTcpSocket() { Close(); }

void CTcpSocket::Close() {
  if (m_handle != kInvalid) {
    CloseHandle_(m_handle);
    m_handle = kInvalid;
  }
}

HttpInterfaceError CTcpSocket::Connect(const std::string& host, uint16_t port, int connectMs,
                                       int ioMs, std::string& ip) {
  EnsureWinsock();
  Close();
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (host.empty() || getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list)
    return kHttpErr_Resolve;
  HttpInterfaceError result = kHttpErr_Socket;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    Handle h = static_cast<Handle>(socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol));
    if (h == kInvalid) continue;
    ip = NumericAddress(ai->ai_addr, ai->ai_addrlen);
    bool connected = false;
    if (SetBlocking(h, false)) {
      if (connect(h, ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen)) == 0)
        connected = true;
      else if (ConnectInProgress())
        connected = WaitConnected(h, connectMs);
    }
    if (connected && SetBlocking(h, true)) {
      SetIoTimeouts(h, ioMs);
      m_handle = h;
      result = kHttpErr_None;
      break;
    }
    CloseHandle_(h);
    result = kHttpErr_Connect;
  }
  freeaddrinfo(list);
  return result;
}

bool CTcpSocket::SendAll(const char* data, size_t size) {
  while (size > 0) {
    int chunk = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);
#if defined(_WIN32)
    int sent = send(static_cast<SOCKET>(m_handle), data, chunk, 0);
#else
    ssize_t sent = send(m_handle, data, chunk, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
#endif
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

long CTcpSocket::Receive(char* buffer, size_t size) {
  if (m_handle == kInvalid) return -1;
  int want = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);
#if defined(_WIN32)
  int n = recv(static_cast<SOCKET>(m_handle), buffer, want, 0);
#else
  ssize_t n;
  do {
    n = recv(m_handle, buffer, want, 0);
  } while (n < 0 && errno == EINTR);
#endif
  return n < 0 ? -1 : static_cast<long>(n);
}
