// Authenticode signatures of Windows executables, checked with OpenSSL alone
// so that the same code runs on Windows, natively in the tests and under the
// fuzzer. Nothing here calls the operating system besides reading a file.
//
//   AuthenticodePolicy policy;
//   policy.roots = store;                      // trust anchors
//   policy.publisher = "Zelvane Test Publisher";
//   std::string why, signer;
//   if (!VerifyAuthenticodeFile(path, policy, why, &signer)) log(why);
//
// Accepted: one SignerInfo, SHA-256/384/512 for the image hash and for the
// signature; the signer's chain ends in a root of `roots` (certificates
// embedded in the signature only fill the chain, they are never anchors),
// valid at `at` (now by default), and the signer's certificate is for code
// signing. SHA-1 signatures are refused.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// Random access to the bytes being checked.
class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly `count` bytes from `offset`; false on a short or failed read.
  virtual bool Read(uint64_t offset, void* out, std::size_t count) const = 0;
};

class MemoryByteSource : public IByteSource {
 public:
  MemoryByteSource(const uint8_t* data, std::size_t size) : m_pData(data), m_nSize(size) {}
  uint64_t Size() const override { return m_nSize; }
  bool Read(uint64_t offset, void* out, std::size_t count) const override;

 private:
  const uint8_t* m_pData;
  std::size_t m_nSize;
};

// An open file; the size is taken once when it is opened.
class FileByteSource : public IByteSource {
 public:
  explicit FileByteSource(const std::wstring& path);
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;
  bool IsOpen() const { return m_pFile != nullptr; }
  uint64_t Size() const override { return m_nSize; }
  bool Read(uint64_t offset, void* out, std::size_t count) const override;

 private:
  std::FILE* m_pFile = nullptr;
  uint64_t m_nSize = 0;
};

// File offsets of the parts of a PE file that the image hash leaves out.
struct PeSignatureLayout {
  uint64_t fileSize = 0;
  uint64_t checksumOffset = 0;   // CheckSum of the optional header, 4 bytes
  uint64_t certEntryOffset = 0;  // data directory entry 4 (certificate table), 8 bytes
  uint64_t certTableOffset = 0;  // the attribute certificate table; 0 and 0 when unsigned
  uint64_t certTableSize = 0;
};

// Reads the DOS, PE and optional headers with every offset bounds-checked.
// A certificate table, when present, must be 8-byte aligned, after the
// headers and end exactly at the end of the file. False with `why` otherwise.
bool ParsePeSignatureLayout(const IByteSource& file, PeSignatureLayout& layout, std::string& why);

// The Authenticode image hash: every byte of the file except the checksum,
// the certificate-table entry and the certificate table. An unsigned file is
// hashed as if zero-padded to a multiple of 8 bytes, as a signer pads it.
bool ComputePeImageHash(const IByteSource& file, const PeSignatureLayout& layout, const EVP_MD* md,
                        std::vector<uint8_t>& digest);

// The DER of the first WIN_CERTIFICATE (revision 2.0, PKCS_SIGNED_DATA);
// anything after it in the table must be zero padding.
bool ReadSignatureBlob(const IByteSource& file, const PeSignatureLayout& layout, std::vector<uint8_t>& der,
                       std::string& why);

struct AuthenticodePolicy {
  X509_STORE* roots = nullptr;  // trust anchors, not changed
  std::string publisher;        // UTF-8, compared with the signer's display name; required
  std::time_t at = 0;           // validity time of the chain; 0 means now
};

// The whole check. On false `why` gives the first failure, for the log; the
// signer's display name goes to `signer` once the signature is read.
bool VerifyAuthenticode(const IByteSource& file, const AuthenticodePolicy& policy, std::string& why,
                        std::string* signer = nullptr);
bool VerifyAuthenticodeFile(const std::wstring& path, const AuthenticodePolicy& policy, std::string& why,
                            std::string* signer = nullptr);
