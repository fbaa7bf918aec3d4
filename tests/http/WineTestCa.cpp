#include "tests/http/WineTestCa.h"

#include <doctest/doctest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"

namespace zvtest {

void TrustTestCaInPrefix() {
  static bool done = false;
  if (done) return;
  done = true;
  std::string pem = ReadFile(zvpeers::CaFile());
  REQUIRE_FALSE(pem.empty());
  DWORD size = 0;
  REQUIRE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr));
  std::string der(size, '\0');
  REQUIRE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(&der[0]),
                               &size, nullptr, nullptr));
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  REQUIRE(store != nullptr);
  CHECK(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                         size, CERT_STORE_ADD_USE_EXISTING, nullptr));
  CertCloseStore(store, 0);
}

}  // namespace zvtest
