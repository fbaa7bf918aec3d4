// Adds PEM certificates to the local machine's trusted root store of the
// Wine prefix it runs in, so that WinHTTP verifies the test servers' chains,
// and WinVerifyTrust the test publishers' signatures, the way Windows
// verifies any other: no certificate check is switched off.
//   test_ca_trust CA.pem [CA.pem ...]
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int TrustOne(const wchar_t* arg) {
  // A Unix path from the build is reached through drive Z: of the prefix.
  std::wstring path = arg;
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string pem = text.str();
  if (pem.empty()) {
    std::fprintf(stderr, "test_ca_trust: cannot read %ls\n", path.c_str());
    return 1;
  }
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    std::fprintf(stderr, "test_ca_trust: no PEM certificate in %ls\n", arg);
    return 1;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                       der.data(), &size, nullptr, nullptr);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    std::fprintf(stderr, "test_ca_trust: cannot open ROOT store (%lu)\n", GetLastError());
    return 1;
  }
  BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr, "test_ca_trust: adding the certificate failed (%lu)\n", error);
    return 1;
  }
  std::printf("test_ca_trust: %ls trusted\n", arg);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: test_ca_trust CA.pem [CA.pem ...]\n");
    return 2;
  }
  int result = 0;
  for (int i = 1; i < argc; ++i)
    if (TrustOne(argv[i]) != 0) result = 1;
  return result;
}
