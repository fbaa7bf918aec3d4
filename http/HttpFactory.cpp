#include "http/HttpBase.h"

#include <new>

#include "http/HttpSocket.h"
#if defined(_WIN32)
#include "http/WinHttp.h"
#include "http/WininetHttp.h"
#endif

bool CreateHttpInstance(IHttpBase** out, int type) {
  if (!out) return false;
  *out = nullptr;
  switch (type) {
    case kHttpTransport_Socket:
      *out = new (std::nothrow) CHttpSocket();
      break;
#if defined(_WIN32)
    case kHttpTransport_Wininet:
      *out = new (std::nothrow) CWininetHttp();
      break;
    case kHttpTransport_WinHttp:
      *out = new (std::nothrow) CWinHttp();
      break;
#endif
    default:
      break;
  }
  return *out != nullptr;
}
