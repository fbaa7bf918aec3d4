// The pre-run check of the downloaded installer under Wine: the verifier as
// the mingw build compiles it, the system root store loaded for it, and the
// order of the checks in VerifyDownloadedInstaller. The fixture CA is never
// trusted by the prefix, so a signed file stops at our chain check.
#include <doctest/doctest.h>
#include <windows.h>

#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <string>

#include "Window/SilentInstaller.h"
#include "system/Authenticode.h"
#include "system/FileDigest.h"
#include "system/Strings.h"
#include "system/SystemRoots.h"
#include "tests/support/TestSupport.h"

namespace {

const char kPublisher[] = "Zelvane Test Publisher";

std::wstring Fixture(const char* name) {
  return zvtest::FromUnixPath((std::string(ZV_AUTHENTICODE_FIXTURES) + "/" + name).c_str());
}

int64_t SizeOf(const std::wstring& path) {
  FileByteSource file(path);
  return file.IsOpen() ? static_cast<int64_t>(file.Size()) : -1;
}

using StorePtr = std::unique_ptr<X509_STORE, void (*)(X509_STORE*)>;

}  // namespace

TEST_CASE("the mingw build of the verifier judges the osslsigncode fixtures") {
  StorePtr roots(X509_STORE_new(), &X509_STORE_free);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> pem(OpenFileForReading(Fixture("ca.pem")), &std::fclose);
  REQUIRE(pem);
  X509* ca = PEM_read_X509(pem.get(), nullptr, nullptr, nullptr);
  REQUIRE(ca);
  X509_STORE_add_cert(roots.get(), ca);
  X509_free(ca);
  AuthenticodePolicy policy;
  policy.roots = roots.get();
  policy.publisher = kPublisher;
  std::string why, signer;
  CHECK(VerifyAuthenticodeFile(Fixture("signed.exe"), policy, why, &signer));
  CHECK(signer == kPublisher);
  CHECK_FALSE(VerifyAuthenticodeFile(Fixture("tampered.exe"), policy, why));
  CHECK(why == "image hash mismatch");
  CHECK_FALSE(VerifyAuthenticodeFile(Fixture("other.exe"), policy, why));
  CHECK(why == "signer 'Other Publisher' is not 'Zelvane Test Publisher'");
  policy.publisher = WideToUtf8(L"Zelvane \u00C9ditions");  // as the wide product setting arrives
  CHECK(VerifyAuthenticodeFile(Fixture("utf8.exe"), policy, why));
}

TEST_CASE("the system ROOT store fills an OpenSSL store") {
  StorePtr roots(X509_STORE_new(), &X509_STORE_free);
  CHECK(AddSystemRootCertificates(roots.get()) > 0);
}

TEST_CASE("VerifyDownloadedInstaller: size, PE header, pin, then our signature check") {
  const std::wstring signed_ = Fixture("signed.exe");
  const std::wstring unsigned_ = Fixture("unsigned.exe");
  const int64_t size = SizeOf(signed_);
  const std::wstring pin = Utf8ToWide(GetFileSha256(signed_));
  REQUIRE(pin.size() == 64);
  std::wstring upper = pin;
  CharUpperW(&upper[0]);
  const std::wstring publisher = Utf8ToWide(kPublisher);
  const std::wstring otherPin(64, L'0');
  struct Case {
    const char* name;
    std::wstring file;
    int64_t size;
    std::wstring pin, publisher, reason;  // reason empty: passes
  } cases[] = {
      {"wrong size first", signed_, size + 1, otherPin, publisher, L"does not have the announced size"},
      {"pinned, no publisher", signed_, size, upper, L"", L""},
      {"no pin, no publisher", unsigned_, 0, L"", L"", L""},
      {"pin mismatch before the signature", signed_, size, otherPin, publisher, L"fails its pin: SHA-256 "},
      {"malformed pin", signed_, size, L"abc", L"", L"is not 64 hexadecimal digits"},
      {"unsigned with a publisher", unsigned_, 0, L"", publisher, L"signature is refused: no signature"},
      {"our chain check before WinVerifyTrust", signed_, size, pin, publisher, L"refused: untrusted chain: "},
      {"tampered", Fixture("tampered.exe"), size, L"", publisher, L"refused: image hash mismatch"},
  };
  for (const Case& c : cases) {
    INFO(std::string(c.name));
    std::wstring why;
    bool ok = VerifyDownloadedInstaller(c.file, c.size, c.pin, c.publisher, why);
    INFO(WideToUtf8(why));
    CHECK(ok == c.reason.empty());
    CHECK(why.find(c.reason) != std::wstring::npos);
  }
}
