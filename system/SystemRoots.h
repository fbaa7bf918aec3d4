// The platform's trusted root certificates, for checks made with OpenSSL:
// the system ROOT store on Windows, OpenSSL's default paths elsewhere.
#pragma once

#include <openssl/types.h>

// Adds them to `store`. On Windows it answers how many certificates were
// added, or -1 when the ROOT store cannot be opened (GetLastError tells why);
// elsewhere, where the default paths are looked up on demand, 0 or -1.
int AddSystemRootCertificates(X509_STORE* store);
