#include "http/HttpBase.h"

#include <new>

#include "http/HttpSocket.h"

bool CreateHttpInstance(IHttpBase** out, int type) {
  if (!out) return false;
  *out = nullptr;
  switch (type) {
    case kHttpTransport_Socket:
      *out = new (std::nothrow) CHttpSocket();
      break;
    default:
      break;
  }
  return *out != nullptr;
}
