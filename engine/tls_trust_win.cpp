#include "engine/tls_trust.h"

#include "log/Log.h"

#include <windows.h>
#include <wincrypt.h>

#include <openssl/x509.h>

namespace engine {

// Copies every certificate of the system ROOT store into the context's
// OpenSSL store, so that the chain is checked against the same roots that
// the rest of Windows trusts.
void add_platform_roots(asio::ssl::context& context) {
  HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
  if (!store) {
    LOGA(kLog_Info, "engine: ROOT certificate store unavailable (%lu)", GetLastError());
    return;
  }
  X509_STORE* target = SSL_CTX_get_cert_store(context.native_handle());
  int added = 0;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
    const unsigned char* der = cert->pbCertEncoded;
    X509* x509 = d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded));
    if (!x509) continue;
    if (X509_STORE_add_cert(target, x509) == 1) ++added;
    X509_free(x509);
  }
  CertCloseStore(store, 0);
  LOGA(kLog_Info, "engine: %d root certificates loaded from the system store", added);
}

}  // namespace engine
