#include "engine/tls_trust.h"

#include "log/Log.h"
#include "system/SystemRoots.h"

#include <windows.h>

namespace engine {

// The system ROOT store goes into the context's OpenSSL store, so that the
// chain is checked against the same roots that the rest of Windows trusts.
void add_platform_roots(asio::ssl::context& context) {
  int added = AddSystemRootCertificates(SSL_CTX_get_cert_store(context.native_handle()));
  if (added < 0)
    LOGA(kLog_Info, "engine: ROOT certificate store unavailable (%lu)", GetLastError());
  else
    LOGA(kLog_Info, "engine: %d root certificates loaded from the system store", added);
}

}  // namespace engine
