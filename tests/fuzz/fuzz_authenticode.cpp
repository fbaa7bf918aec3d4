// Any bytes as a downloaded installer: the PE parser, the certificate table,
// the PKCS#7 and Authenticode decoding and the image hash must refuse with a
// reason, never read out of bounds. The store is empty, so nothing passes.
#include "system/Authenticode.h"

#include <openssl/evp.h>
#include <openssl/x509_vfy.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static X509_STORE* roots = X509_STORE_new();
  MemoryByteSource source(data, size);
  AuthenticodePolicy policy;
  policy.roots = roots;
  policy.publisher = "Zelvane Test Publisher";
  std::string why;
  if (VerifyAuthenticode(source, policy, why) || why.empty()) std::abort();

  PeSignatureLayout layout;
  if (!ParsePeSignatureLayout(source, layout, why)) return 0;
  if (layout.certTableSize && layout.certTableOffset + layout.certTableSize != size) std::abort();
  std::vector<uint8_t> digest, der;
  if (!ComputePeImageHash(source, layout, EVP_sha256(), digest) || digest.size() != 32) std::abort();
  if (ReadSignatureBlob(source, layout, der, why) && der.size() >= layout.certTableSize) std::abort();
  return 0;
}
