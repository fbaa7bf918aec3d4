#include "system/SystemRoots.h"

#include <openssl/x509_vfy.h>

int AddSystemRootCertificates(X509_STORE* store) { return X509_STORE_set_default_paths(store) == 1 ? 0 : -1; }
