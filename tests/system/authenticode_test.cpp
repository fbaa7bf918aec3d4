// The Authenticode verifier and the SHA-256 pin against real signatures made
// by osslsigncode (make_authenticode_fixtures.sh) and against signed images
// damaged in memory.
#include <doctest/doctest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <cwctype>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "system/Authenticode.h"
#include "system/FileDigest.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"

namespace {

const std::filesystem::path kFixtures = ZV_AUTHENTICODE_FIXTURES;
const char kPublisher[] = "Zelvane Test Publisher";

using StorePtr = std::unique_ptr<X509_STORE, void (*)(X509_STORE*)>;

// A store holding the certificates of one PEM file. It even allows chains
// that end below a root: the verifier must still demand a self-signed root.
StorePtr StoreOf(const char* pem) {
  StorePtr store(X509_STORE_new(), &X509_STORE_free);
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
  std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_file((kFixtures / pem).string().c_str(), "r"), &BIO_free);
  REQUIRE(bio);
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    X509_STORE_add_cert(store.get(), cert);
    X509_free(cert);
  }
  return store;
}

std::vector<uint8_t> Bytes(const char* name) {
  std::string data = zvtest::ReadFile(kFixtures / name);
  return std::vector<uint8_t>(data.begin(), data.end());
}

bool Verify(const std::vector<uint8_t>& image, X509_STORE* roots, const std::string& publisher, std::string& why,
            std::time_t at = 0, std::string* signer = nullptr) {
  MemoryByteSource source(image.data(), image.size());
  AuthenticodePolicy policy;
  policy.roots = roots;
  policy.publisher = publisher;
  policy.at = at;
  return VerifyAuthenticode(source, policy, why, signer);
}

void PutU32(std::vector<uint8_t>& image, std::size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

TEST_CASE("signatures made by osslsigncode are accepted or refused with the reason") {
  const std::time_t inTwentyYears = std::time(nullptr) + 20LL * 365 * 24 * 3600;
  struct Case {
    const char* name;
    const char* file;
    const char* roots;
    const char* publisher;
    std::time_t at;
    const char* reason;  // empty: accepted
  } cases[] = {
      {"signed", "signed.exe", "ca.pem", kPublisher, 0, ""},
      {"signed PE32", "signed32.exe", "ca.pem", kPublisher, 0, ""},
      {"unsigned", "unsigned.exe", "ca.pem", kPublisher, 0, "no signature"},
      {"one code byte changed", "tampered.exe", "ca.pem", kPublisher, 0, "image hash mismatch"},
      {"SHA-1", "sha1.exe", "ca.pem", kPublisher, 0, "image digest algorithm sha1 is not accepted"},
      {"another publisher of the same CA", "other.exe", "ca.pem", kPublisher, 0,
       "signer 'Other Publisher' is not 'Zelvane Test Publisher'"},
      {"a UTF-8 name", "utf8.exe", "ca.pem", "Zelvane \xC3\x89" "ditions", 0, ""},
      {"publisher compared exactly", "signed.exe", "ca.pem", "zelvane test publisher", 0,
       "signer 'Zelvane Test Publisher' is not 'zelvane test publisher'"},
      {"the organisation is not the display name", "signed.exe", "ca.pem", "Zelvane Test", 0, "is not 'Zelvane Test'"},
      {"same name, CA carried in the signature, not trusted", "rogue.exe", "ca.pem", kPublisher, 0,
       "untrusted chain: "},
      {"the signer's own certificate is no anchor", "signed.exe", "leaf.pem", kPublisher, 0,
       "untrusted chain: unable to get local issuer certificate"},
      {"no code-signing usage", "noeku.exe", "ca.pem", kPublisher, 0,
       "the signer's certificate is not for code signing"},
      {"a trusted self-signed signer without code-signing usage", "selfsigned.exe", "selfsigned.pem", kPublisher, 0,
       "the signer's certificate is not for code signing"},
      {"after the certificate expired", "signed.exe", "ca.pem", kPublisher, inTwentyYears,
       "untrusted chain: certificate has expired"},
  };
  for (const Case& c : cases) {
    INFO(std::string(c.name));
    StorePtr roots = StoreOf(c.roots);
    std::string why, signer;
    bool ok = Verify(Bytes(c.file), roots.get(), c.publisher, why, c.at, &signer);
    CHECK(ok == (*c.reason == '\0'));
    INFO(why);
    CHECK(why.find(c.reason) != std::string::npos);
    if (ok) CHECK(signer == c.publisher);
  }

  // The file wrapper reads the same bytes.
  StorePtr roots = StoreOf("ca.pem");
  AuthenticodePolicy policy;
  policy.roots = roots.get();
  policy.publisher = kPublisher;
  std::string why;
  CHECK(VerifyAuthenticodeFile(Utf8ToWide((kFixtures / "signed.exe").string()), policy, why));
  CHECK_FALSE(VerifyAuthenticodeFile(Utf8ToWide((kFixtures / "tampered.exe").string()), policy, why));
  CHECK(why == "image hash mismatch");
  CHECK_FALSE(VerifyAuthenticodeFile(Utf8ToWide((kFixtures / "missing.exe").string()), policy, why));
  CHECK(why == "the file cannot be opened");
}

TEST_CASE("a signed image damaged in its headers or certificate table is refused, never read beyond its end") {
  const std::vector<uint8_t> signed_ = Bytes("signed.exe");
  MemoryByteSource source(signed_.data(), signed_.size());
  PeSignatureLayout layout;
  std::string why;
  REQUIRE(ParsePeSignatureLayout(source, layout, why));
  REQUIRE(layout.certTableOffset > 0);
  REQUIRE(layout.certTableOffset + layout.certTableSize == signed_.size());
  const std::size_t table = layout.certTableOffset;
  const std::size_t entry = layout.certEntryOffset;

  struct Case {
    const char* name;
    void (*damage)(std::vector<uint8_t>& image, std::size_t table, std::size_t entry);
    const char* reason;
  } cases[] = {
      {"truncated inside the certificate table", [](auto& im, auto t, auto) { im.resize(t + 100); },
       "bad certificate table: beyond the end of the file"},
      {"bytes appended after the table", [](auto& im, auto, auto) { im.insert(im.end(), 8, 0); },
       "bad certificate table: not at the end of the file"},
      {"garbage signature, same size",
       [](auto& im, auto t, auto) { std::memset(im.data() + t + 8, 0x5A, im.size() - t - 8); },
       "the signature cannot be decoded"},
      {"signature cut short, zeros after it",
       [](auto& im, auto t, auto) {
         PutU32(im, t, 200);
         std::memset(im.data() + t + 200, 0, im.size() - t - 200);
       },
       "the signature cannot be decoded"},
      {"data hidden in the table after the signature",
       [](auto& im, auto t, auto e) {
         im.insert(im.end(), 8, 0x41);
         PutU32(im, e + 4, static_cast<uint32_t>(im.size() - t));
       },
       "bad certificate table: data after the signature"},
      {"an unknown algorithm among the listed digests",
       [](auto& im, auto t, auto) {
         // The first SHA-256 OID of the signature is SignedData.digestAlgorithms.
         static const uint8_t kSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
         auto at = std::search(im.begin() + t, im.end(), std::begin(kSha256), std::end(kSha256));
         REQUIRE(at != im.end());
         at[8] = 0x7F;
       },
       "listed digest algorithm 2.16.840.1.101.3.4.2.127 is not accepted"},
      {"WIN_CERTIFICATE revision 1.0", [](auto& im, auto t, auto) { im[t + 5] = 0x01; },
       "bad certificate table: unknown revision"},
      {"WIN_CERTIFICATE of X.509 type", [](auto& im, auto t, auto) { im[t + 6] = 0x01; },
       "bad certificate table: not a PKCS#7 signature"},
      {"entry longer than the table", [](auto& im, auto t, auto) { PutU32(im, t, 0x7FFFFFF0); },
       "bad certificate table: entry length out of range"},
      {"table size absurd", [](auto& im, auto, auto e) { PutU32(im, e + 4, 0xFFFFFFF8); },
       "bad certificate table: absurd size"},
      {"table offset not aligned", [](auto& im, auto t, auto e) { PutU32(im, e, static_cast<uint32_t>(t + 4)); },
       "bad certificate table: not 8-byte aligned"},
      {"table offset inside the headers", [](auto& im, auto, auto e) { PutU32(im, e, 8); },
       "bad certificate table: inside the headers"},
      {"table offset far out", [](auto& im, auto, auto e) { PutU32(im, e, 0xFFFFFFF0); },
       "bad certificate table: beyond the end of the file"},
      {"PE offset far out", [](auto& im, auto, auto) { PutU32(im, 0x3C, 0xFFFFFFF8); },
       "not a PE file: no PE signature"},
      {"no MZ", [](auto& im, auto, auto) { im[0] = 'X'; }, "not a PE file: no MZ header"},
      {"unknown optional header", [](auto& im, auto, auto) {
         uint32_t pe = im[0x3C] | im[0x3D] << 8;
         im[pe + 24] = 0x07;
       },
       "not a PE file: unknown optional header"},
      {"too few data directories", [](auto& im, auto, auto e) { PutU32(im, e - 4 * 8 - 4, 4); },
       "not a PE file: no certificate table entry"},
      {"only the DOS header", [](auto& im, auto, auto) { im.resize(0x40); }, "not a PE file: no PE signature"},
      {"empty", [](auto& im, auto, auto) { im.clear(); }, "not a PE file: no MZ header"},
  };
  StorePtr roots = StoreOf("ca.pem");
  for (const Case& c : cases) {
    INFO(std::string(c.name));
    std::vector<uint8_t> image = signed_;
    c.damage(image, table, entry);
    image.shrink_to_fit();  // ASan sees any read past the end
    bool ok = Verify(image, roots.get(), kPublisher, why);
    CHECK(ok == (*c.reason == '\0'));
    INFO(why);
    CHECK(why.find(c.reason) != std::string::npos);
  }

  // The checksum and the certificate-table entry are outside the image hash.
  std::vector<uint8_t> image = signed_;
  PutU32(image, layout.checksumOffset, 0x12345678);
  CHECK(Verify(image, roots.get(), kPublisher, why));
}

TEST_CASE("the image hash of an unsigned file is the one osslsigncode signed") {
  // Signing pads the file to 8 bytes and appends the table; the hash of the
  // unsigned file, padded the same way, is the hash in the signature.
  std::vector<uint8_t> unsigned_ = Bytes("unsigned.exe");
  unsigned_.resize(unsigned_.size() - 3);  // an unaligned end
  std::vector<uint8_t> padded = unsigned_;
  padded.resize((padded.size() + 7) / 8 * 8, 0);
  std::string why;
  std::vector<uint8_t> a, b;
  for (auto* image : {&unsigned_, &padded}) {
    MemoryByteSource source(image->data(), image->size());
    PeSignatureLayout layout;
    REQUIRE(ParsePeSignatureLayout(source, layout, why));
    CHECK(layout.certTableSize == 0);
    REQUIRE(ComputePeImageHash(source, layout, EVP_sha256(), image == &padded ? b : a));
  }
  CHECK(a == b);
  CHECK(a.size() == 32);
}

TEST_CASE("the SHA-256 pin: either case accepted, empty means none, malformed or different refused") {
  zvtest::TempDir dir("sha256pin");
  const std::wstring abc = Utf8ToWide((dir.path() / "abc").string());
  const std::wstring empty = Utf8ToWide((dir.path() / "empty").string());
  const std::wstring missing = Utf8ToWide((dir.path() / "missing").string());
  zvtest::WriteFile(dir.path() / "abc", "abc");
  zvtest::WriteFile(dir.path() / "empty", "");
  const std::wstring abcSha = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  CHECK(GetFileSha256(abc) == WideToUtf8(abcSha));
  CHECK(GetFileSha256(empty) == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  CHECK(GetFileSha256(missing).empty());

  std::wstring upper = abcSha;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  struct Case {
    const char* name;
    std::wstring path, pin;
    const char* reason;  // empty: passes
  } cases[] = {
      {"lower case", abc, abcSha, ""},
      {"upper case", abc, upper, ""},
      {"no pin asks nothing", missing, L"", ""},
      {"another file", empty, abcSha, "is not the pinned ba7816bf"},
      {"unreadable file", missing, abcSha, "cannot be read"},
      {"63 digits", abc, abcSha.substr(1), "is not 64 hexadecimal digits"},
      {"65 digits", abc, abcSha + L"0", "is not 64 hexadecimal digits"},
      {"not hexadecimal", abc, L"g" + abcSha.substr(1), "is not 64 hexadecimal digits"},
      {"blank inside", abc, abcSha.substr(0, 32) + L" " + abcSha.substr(33), "is not 64 hexadecimal digits"},
      {"non-ASCII digit", abc, L"\x0661" + abcSha.substr(1), "is not 64 hexadecimal digits"},
  };
  for (const Case& c : cases) {
    INFO(std::string(c.name));
    std::string why;
    CHECK(MatchesSha256Pin(c.path, c.pin, why) == (*c.reason == '\0'));
    INFO(why);
    CHECK(why.find(c.reason) != std::string::npos);
  }
}
