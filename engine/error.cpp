#include "engine/error.h"

#include <cerrno>

namespace engine {

namespace {

const char* message_of(int code) {
  switch (code) {
    case 1: return "Malformed status line";
    case 2: return "Malformed response headers";
    case 10: return "invalid type requested from entry";
    case 11: return "Invalid chunked encoding";
    case 12: return "Invalid redirect address";
    case 100: return "Continue";
    case 101: return "Switching protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-authoritative information";
    case 204: return "No content";
    case 205: return "Reset content";
    case 206: return "Partial content";
    case 300: return "Multiple choices";
    case 301: return "Moved permanently";
    case 302: return "Found";
    case 303: return "See other";
    case 304: return "Not modified";
    case 305: return "Use proxy";
    case 307: return "Temporary redirect";
    case 400: return "Bad request";
    case 401: return "Unauthorized";
    case 402: return "Payment required";
    case 403: return "Forbidden";
    case 404: return "Not found";
    case 405: return "Method not allowed";
    case 406: return "Not acceptable";
    case 407: return "Proxy authentication required";
    case 408: return "Request time-out";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length required";
    case 412: return "Precondition failed";
    case 413: return "Request entity too large";
    case 414: return "Request URI too large";
    case 415: return "Unsupported media type";
    case 416: return "Requested range not satisfiable";
    case 417: return "Expectation failed";
    case 500: return "Internal server error";
    case 501: return "Not implemented";
    case 502: return "Bad gateway";
    case 503: return "Service unavailable";
    case 504: return "Gateway time-out";
    case 505: return "HTTP version not supported";
    case 1000: return "SOCKS unsupported version";
    case 1001: return "SOCKS username required";
    case 1002: return "SOCKS unsupported authentication version";
    case 1003: return "SOCKS authentication error";
    case 1004: return "SOCKS general failure";
    case 1005: return "SOCKS command not supported";
    case 1006: return "SOCKS no identd running";
    case 1007: return "SOCKS no identd running";
    case 1008: return "Fake continue";
    case 1100: return "Body shorter than announced";
    case 1101: return "Response does not match the requested range";
    case 1102: return "Server answer exceeds a limit";
    case 1103: return "Redirect from https to http refused";
    case 1104: return "The file on the server has changed";
    case 1105: return "Disk full";
    default: return "Unknown HTTP error";
  }
}

}  // namespace

const char* error_category_impl::name() const noexcept { return "HTTP"; }

std::string error_category_impl::message(int code) const { return message_of(code); }

std::error_condition error_category_impl::default_error_condition(int code) const noexcept {
  if (code == 401 || code == 403) return std::errc::permission_denied;
  if (code == 404) return std::errc::no_such_file_or_directory;
  return std::error_condition(code, *this);
}

const std::error_category& http_category() {
  static const error_category_impl instance;
  return instance;
}

std::error_code make_error_code(int code) { return std::error_code(code, http_category()); }

bool is_disk_full(const std::error_code& ec) {
  if (!ec) return false;
  if (is_http_error(ec, kErr_DiskFull) || ec == std::errc::no_space_on_device) return true;
#ifdef _WIN32
  // The system category of the Windows runtime keeps the raw error numbers.
  constexpr int kErrorHandleDiskFull = 39, kErrorDiskFull = 112;
  if (ec.category() == std::system_category())
    return ec.value() == kErrorDiskFull || ec.value() == kErrorHandleDiskFull;
#endif
  return false;
}

}  // namespace engine
