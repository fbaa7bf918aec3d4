// wincrypt.h names some macros as OpenSSL names its types (X509_NAME, ...);
// OpenSSL's headers undefine them when they come after it.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/x509.h>

#include "system/SystemRoots.h"

int AddSystemRootCertificates(X509_STORE* store) {
  HCERTSTORE roots = CertOpenSystemStoreW(0, L"ROOT");
  if (!roots) return -1;
  int added = 0;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(roots, cert)) != nullptr) {
    const unsigned char* der = cert->pbCertEncoded;
    X509* x509 = d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded));
    if (!x509) continue;
    if (X509_STORE_add_cert(store, x509) == 1) ++added;
    X509_free(x509);
  }
  CertCloseStore(roots, 0);
  return added;
}
