// The engine's own error category ("HTTP"): protocol failures, HTTP statuses
// and SOCKS replies carried through std::error_code.
#pragma once

#include <system_error>

namespace engine {

enum engine_errc {
  kErr_MalformedStatusLine = 1,
  kErr_MalformedHeaders = 2,
  kErr_InvalidEntryType = 10,
  kErr_InvalidChunkedEncoding = 11,
  kErr_InvalidRedirect = 12,
  kErr_Continue = 100,
  kErr_SocksUnsupportedVersion = 1000,
  kErr_SocksUsernameRequired = 1001,
  kErr_SocksUnsupportedAuthVersion = 1002,
  kErr_SocksAuthError = 1003,
  kErr_SocksGeneralFailure = 1004,
  kErr_SocksCommandNotSupported = 1005,
  kErr_SocksNoIdentd = 1006,
  kErr_SocksIdentdMismatch = 1007,
  kErr_FakeContinue = 1008,
  // Failures the engine adds to the table: a body that ends before its
  // announced length, an answer to a range request that does not carry that
  // range, a size or line the server sends beyond our limits.
  kErr_ShortBody = 1100,
  kErr_RangeMismatch = 1101,
  kErr_LimitExceeded = 1102,
  kErr_InsecureRedirect = 1103,
  // The server's file is no longer the one the earlier bytes came from: its
  // validator changed, or an "If-Range" request was answered whole.
  kErr_FileChanged = 1104,
  // A write of received bytes found the disk full: the run ends with the
  // bytes written so far kept for a resume.
  kErr_DiskFull = 1105,
};

class error_category_impl : public std::error_category {
 public:
  const char* name() const noexcept override;
  std::string message(int code) const override;
  std::error_condition default_error_condition(int code) const noexcept override;
};

// The one process-wide instance.
const std::error_category& http_category();

std::error_code make_error_code(int code);

// True when ec is code `code` of the engine category.
inline bool is_http_error(const std::error_code& ec, int code) {
  return ec.value() == code && &ec.category() == &http_category();
}

// True for a file-system error that means the volume has no room left:
// ENOSPC, or on Windows ERROR_DISK_FULL / ERROR_HANDLE_DISK_FULL.
bool is_disk_full(const std::error_code& ec);

}  // namespace engine
