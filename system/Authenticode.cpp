#include "system/Authenticode.h"

#include <openssl/asn1t.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "system/FileDigest.h"

// SpcIndirectDataContent ::= SEQUENCE {
//   data           SpcAttributeTypeAndOptionalValue,  -- type: SPC_PE_IMAGE_DATA
//   messageDigest  DigestInfo }                        -- the image hash
// OpenSSL knows PKCS#7 but not these Authenticode types, so they are
// declared here for its template decoder.
struct SpcAttributeTypeAndOptionalValue {
  ASN1_OBJECT* type;
  ASN1_TYPE* value;
};
ASN1_SEQUENCE(SpcAttributeTypeAndOptionalValue) = {
    ASN1_SIMPLE(SpcAttributeTypeAndOptionalValue, type, ASN1_OBJECT),
    ASN1_OPT(SpcAttributeTypeAndOptionalValue, value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeTypeAndOptionalValue)

struct SpcDigestInfo {
  X509_ALGOR* digestAlgorithm;
  ASN1_OCTET_STRING* digest;
};
ASN1_SEQUENCE(SpcDigestInfo) = {
    ASN1_SIMPLE(SpcDigestInfo, digestAlgorithm, X509_ALGOR),
    ASN1_SIMPLE(SpcDigestInfo, digest, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SpcDigestInfo)

struct SpcIndirectDataContent {
  SpcAttributeTypeAndOptionalValue* data;
  SpcDigestInfo* messageDigest;
};
ASN1_SEQUENCE(SpcIndirectDataContent) = {
    ASN1_SIMPLE(SpcIndirectDataContent, data, SpcAttributeTypeAndOptionalValue),
    ASN1_SIMPLE(SpcIndirectDataContent, messageDigest, SpcDigestInfo),
} ASN1_SEQUENCE_END(SpcIndirectDataContent)

namespace {

constexpr uint64_t kMaxCertTableSize = 16u << 20;  // far above any real signature
constexpr uint16_t kWinCertRevision2 = 0x0200;
constexpr uint16_t kWinCertTypePkcsSignedData = 0x0002;
constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kSpcPeImageDataOid[] = "1.3.6.1.4.1.311.2.1.15";

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX, X509_STORE_CTX_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Freer<ASN1_OBJECT, ASN1_OBJECT_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;

void FreeIndirectData(SpcIndirectDataContent* p) {
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(p), ASN1_ITEM_rptr(SpcIndirectDataContent));
}
using IndirectDataPtr = std::unique_ptr<SpcIndirectDataContent, Freer<SpcIndirectDataContent, FreeIndirectData>>;

bool Fail(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

bool ReadU16(const IByteSource& file, uint64_t offset, uint16_t& value) {
  uint8_t b[2];
  if (!file.Read(offset, b, sizeof(b))) return false;
  value = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool ReadU32(const IByteSource& file, uint64_t offset, uint32_t& value) {
  uint8_t b[4];
  if (!file.Read(offset, b, sizeof(b))) return false;
  value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
          (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

// Calls `take` with the bytes of [begin, end) in chunks.
template <typename Take>
bool ForEachChunk(const IByteSource& file, uint64_t begin, uint64_t end, Take take) {
  uint8_t chunk[65536];
  while (begin < end) {
    std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(sizeof(chunk), end - begin));
    if (!file.Read(begin, chunk, count) || !take(chunk, count)) return false;
    begin += count;
  }
  return true;
}

bool AllZero(const uint8_t* data, std::size_t count) {
  return std::all_of(data, data + count, [](uint8_t b) { return b == 0; });
}

std::string ObjectName(const ASN1_OBJECT* object) {
  int nid = OBJ_obj2nid(object);
  if (nid != NID_undef) return OBJ_nid2ln(nid);
  char text[80] = {};
  OBJ_obj2txt(text, sizeof(text), object, 1);
  return text;
}

bool IsObject(const ASN1_OBJECT* object, const char* oid) {
  ObjectPtr expected(OBJ_txt2obj(oid, 1));
  return object && expected && OBJ_cmp(object, expected.get()) == 0;
}

// SHA-1 is refused: its collisions are practical, and a signer that chose it
// would sign something another file can share.
const EVP_MD* AcceptedDigest(const X509_ALGOR* algorithm, const char* what, std::string& why) {
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  if (!object) {
    why = std::string(what) + " digest algorithm is missing";
    return nullptr;
  }
  switch (OBJ_obj2nid(object)) {
    case NID_sha256: return EVP_sha256();
    case NID_sha384: return EVP_sha384();
    case NID_sha512: return EVP_sha512();
    default: break;
  }
  why = std::string(what) + " digest algorithm " + ObjectName(object) + " is not accepted";
  return nullptr;
}

std::string OpenSslReason(const char* fallback) {
  unsigned long code = ERR_peek_last_error();
  const char* reason = code ? ERR_reason_error_string(code) : nullptr;
  return reason ? reason : fallback;
}

// The name Windows shows for a signer: the first of common name, unit,
// organisation and e-mail address that the subject has. A subject with that
// attribute twice is ambiguous and gives no name.
bool SignerDisplayName(X509* cert, std::string& name) {
  const X509_NAME* subject = X509_get_subject_name(cert);
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    int at = X509_NAME_get_index_by_NID(subject, nid, -1);
    if (at < 0) continue;
    if (X509_NAME_get_index_by_NID(subject, nid, at) >= 0) return false;
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
    if (length < 0) return false;
    name.assign(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return true;
  }
  return false;
}

// The chain from the signer to one of the roots, at the policy's time, with
// every certificate below the root allowed to sign code.
bool VerifySignerChain(X509* signer, STACK_OF(X509) * embedded, const AuthenticodePolicy& policy,
                       std::string& why) {
  StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), policy.roots, signer, embedded) != 1)
    return Fail(why, "untrusted chain: the check cannot start");
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  // Only self-signed roots of the store are anchors.
  X509_VERIFY_PARAM_clear_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
  if (policy.at) X509_VERIFY_PARAM_set_time(param, policy.at);
  if (X509_verify_cert(ctx.get()) != 1)
    return Fail(why, std::string("untrusted chain: ") +
                         X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get())));
  // The signer must name code signing, even when it is itself the root; a
  // CA below the root limits it only when it names usages.
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
  const int count = sk_X509_num(chain);
  for (int i = 0; i == 0 || i + 1 < count; ++i) {
    X509* cert = sk_X509_value(chain, i);
    uint32_t flags = X509_get_extension_flags(cert);
    uint32_t usages = (flags & EXFLAG_XKUSAGE) ? X509_get_extended_key_usage(cert) : 0;
    uint32_t accepted = i == 0 ? XKU_CODE_SIGN : XKU_CODE_SIGN | XKU_ANYEKU;
    if ((i == 0 || (flags & EXFLAG_XKUSAGE)) && !(usages & accepted))
      return Fail(why, i == 0 ? "the signer's certificate is not for code signing"
                              : "a CA of the signer's chain is not for code signing");
    if (i == 0 && (flags & EXFLAG_KUSAGE) && !(X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE))
      return Fail(why, "the signer's certificate may not make signatures");
  }
  return true;
}

bool VerifyParsed(const IByteSource& file, const AuthenticodePolicy& policy, std::string& why,
                  std::string* signerName) {
  if (!policy.roots) return Fail(why, "no trusted roots given");
  if (policy.publisher.empty()) return Fail(why, "no publisher to compare the signer with");
  PeSignatureLayout layout;
  std::vector<uint8_t> der;
  if (!ParsePeSignatureLayout(file, layout, why) || !ReadSignatureBlob(file, layout, der, why)) return false;

  const unsigned char* cursor = der.data();
  Pkcs7Ptr p7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
  if (!p7) return Fail(why, "the signature cannot be decoded");
  std::size_t used = static_cast<std::size_t>(cursor - der.data());
  if (!AllZero(der.data() + used, der.size() - used)) return Fail(why, "the signature is followed by other data");
  if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents)
    return Fail(why, "the signature is not PKCS#7 signed data");

  // The signed content: the image hash the signer vouches for.
  PKCS7* content = p7->d.sign->contents;
  if (!IsObject(content->type, kSpcIndirectDataOid))
    return Fail(why, "the signed content is not Authenticode indirect data");
  ASN1_TYPE* wrapped = content->d.other;
  if (!wrapped || wrapped->type != V_ASN1_SEQUENCE || !wrapped->value.sequence)
    return Fail(why, "the signed content is missing");
  const ASN1_STRING* sequence = wrapped->value.sequence;
  const unsigned char* spcCursor = sequence->data;
  IndirectDataPtr spc(reinterpret_cast<SpcIndirectDataContent*>(
      ASN1_item_d2i(nullptr, &spcCursor, sequence->length, ASN1_ITEM_rptr(SpcIndirectDataContent))));
  if (!spc || spcCursor != sequence->data + sequence->length)
    return Fail(why, "the signed content cannot be decoded");
  if (!IsObject(spc->data->type, kSpcPeImageDataOid)) return Fail(why, "the signature is not for a PE image");
  const EVP_MD* md = AcceptedDigest(spc->messageDigest->digestAlgorithm, "image", why);
  if (!md) return false;
  const ASN1_OCTET_STRING* signedHash = spc->messageDigest->digest;
  std::vector<uint8_t> hash;
  if (!ComputePeImageHash(file, layout, md, hash)) return Fail(why, "the file cannot be read for its image hash");
  if (ASN1_STRING_length(signedHash) != static_cast<int>(hash.size()) ||
      CRYPTO_memcmp(ASN1_STRING_get0_data(signedHash), hash.data(), hash.size()) != 0)
    return Fail(why, "image hash mismatch");

  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7.get());
  if (sk_PKCS7_SIGNER_INFO_num(infos) != 1) return Fail(why, "the signature does not have exactly one signer");
  if (!AcceptedDigest(sk_PKCS7_SIGNER_INFO_value(infos, 0)->digest_alg, "signer", why)) return false;
  // Every listed digest is set up before the signature check, and an unknown
  // one would fail there (leaking inside OpenSSL 3.0's PKCS7_verify).
  STACK_OF(X509_ALGOR)* digests = p7->d.sign->md_algs;
  if (sk_X509_ALGOR_num(digests) != 1) return Fail(why, "the signature does not list exactly one digest algorithm");
  if (!AcceptedDigest(sk_X509_ALGOR_value(digests, 0), "listed", why)) return false;
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
  X509* signer = sk_X509_num(signers) == 1 ? sk_X509_value(signers, 0) : nullptr;
  sk_X509_free(signers);
  if (!signer) return Fail(why, "the signer's certificate is not in the signature");
  std::string name;
  bool named = SignerDisplayName(signer, name);
  if (named && signerName) *signerName = name;

  // The signature covers the content's value without its tag and length.
  const unsigned char* value = sequence->data;
  long valueLength = 0;
  int tag = 0, klass = 0;
  if (ASN1_get_object(&value, &valueLength, &tag, &klass, sequence->length) != V_ASN1_CONSTRUCTED)
    return Fail(why, "the signed content is not in DER");
  BioPtr signedBytes(BIO_new_mem_buf(value, static_cast<int>(valueLength)));
  if (!signedBytes ||
      PKCS7_verify(p7.get(), nullptr, nullptr, signedBytes.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
    return Fail(why, std::string("the signature does not verify: ") + OpenSslReason("bad signature"));

  if (!VerifySignerChain(signer, p7->d.sign->cert, policy, why)) return false;
  if (!named) return Fail(why, "the signer's certificate has no single display name");
  if (name != policy.publisher) return Fail(why, "signer '" + name + "' is not '" + policy.publisher + "'");
  return true;
}

}  // namespace

bool MemoryByteSource::Read(uint64_t offset, void* out, std::size_t count) const {
  if (offset > m_nSize || count > m_nSize - offset) return false;
  if (count) std::memcpy(out, m_pData + offset, count);
  return true;
}

#if defined(_WIN32)
#define ZV_FSEEK _fseeki64
#define ZV_FTELL _ftelli64
#else
#define ZV_FSEEK fseeko
#define ZV_FTELL ftello
#endif

FileByteSource::FileByteSource(const std::wstring& path) : m_pFile(OpenFileForReading(path)) {
  if (!m_pFile) return;
  int64_t size = ZV_FSEEK(m_pFile, 0, SEEK_END) == 0 ? static_cast<int64_t>(ZV_FTELL(m_pFile)) : -1;
  if (size < 0) {
    std::fclose(m_pFile);
    m_pFile = nullptr;
    return;
  }
  m_nSize = static_cast<uint64_t>(size);
}

FileByteSource::~FileByteSource() {
  if (m_pFile) std::fclose(m_pFile);
}

bool FileByteSource::Read(uint64_t offset, void* out, std::size_t count) const {
  if (!m_pFile || offset > m_nSize || count > m_nSize - offset) return false;
  if (ZV_FSEEK(m_pFile, static_cast<int64_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(out, 1, count, m_pFile) == count;
}

bool ParsePeSignatureLayout(const IByteSource& file, PeSignatureLayout& layout, std::string& why) {
  layout = PeSignatureLayout();
  layout.fileSize = file.Size();
  uint16_t mz = 0;
  uint32_t peOffset = 0, peMagic = 0;
  if (!ReadU16(file, 0, mz) || mz != 0x5A4D) return Fail(why, "not a PE file: no MZ header");
  if (!ReadU32(file, 0x3C, peOffset)) return Fail(why, "not a PE file: truncated DOS header");
  if (!ReadU32(file, peOffset, peMagic) || peMagic != 0x00004550) return Fail(why, "not a PE file: no PE signature");
  const uint64_t coff = uint64_t{peOffset} + 4;
  const uint64_t optional = coff + 20;
  uint16_t optionalSize = 0, magic = 0;
  if (!ReadU16(file, coff + 16, optionalSize) || !ReadU16(file, optional, magic))
    return Fail(why, "not a PE file: truncated headers");
  uint64_t countOffset = 0, directories = 0;
  if (magic == 0x10b) {  // PE32
    countOffset = optional + 92;
    directories = optional + 96;
  } else if (magic == 0x20b) {  // PE32+
    countOffset = optional + 108;
    directories = optional + 112;
  } else {
    return Fail(why, "not a PE file: unknown optional header");
  }
  uint32_t directoryCount = 0;
  if (!ReadU32(file, countOffset, directoryCount)) return Fail(why, "not a PE file: truncated optional header");
  layout.checksumOffset = optional + 64;
  layout.certEntryOffset = directories + 4 * 8;
  if (directoryCount <= 4 || layout.certEntryOffset + 8 > optional + optionalSize)
    return Fail(why, "not a PE file: no certificate table entry");
  uint32_t tableOffset = 0, tableSize = 0;
  if (!ReadU32(file, layout.certEntryOffset, tableOffset) || !ReadU32(file, layout.certEntryOffset + 4, tableSize))
    return Fail(why, "not a PE file: truncated optional header");
  if (tableSize == 0) return true;  // unsigned
  if (tableOffset == 0) return Fail(why, "bad certificate table: size without offset");
  if (tableSize < 8 || tableSize > kMaxCertTableSize) return Fail(why, "bad certificate table: absurd size");
  if (tableOffset % 8) return Fail(why, "bad certificate table: not 8-byte aligned");
  if (tableOffset < layout.certEntryOffset + 8) return Fail(why, "bad certificate table: inside the headers");
  if (tableOffset > layout.fileSize || tableSize > layout.fileSize - tableOffset)
    return Fail(why, "bad certificate table: beyond the end of the file");
  if (uint64_t{tableOffset} + tableSize != layout.fileSize)
    return Fail(why, "bad certificate table: not at the end of the file");
  layout.certTableOffset = tableOffset;
  layout.certTableSize = tableSize;
  return true;
}

bool ComputePeImageHash(const IByteSource& file, const PeSignatureLayout& layout, const EVP_MD* md,
                        std::vector<uint8_t>& digest) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return false;
  auto update = [&](const uint8_t* data, std::size_t count) {
    return EVP_DigestUpdate(ctx.get(), data, count) == 1;
  };
  const uint64_t end = layout.certTableSize ? layout.certTableOffset : layout.fileSize;
  if (!ForEachChunk(file, 0, layout.checksumOffset, update) ||
      !ForEachChunk(file, layout.checksumOffset + 4, layout.certEntryOffset, update) ||
      !ForEachChunk(file, layout.certEntryOffset + 8, end, update))
    return false;
  if (!layout.certTableSize && layout.fileSize % 8) {
    static const uint8_t kZeros[8] = {};
    if (!update(kZeros, 8 - layout.fileSize % 8)) return false;
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), value, &length) != 1) return false;
  digest.assign(value, value + length);
  return true;
}

bool ReadSignatureBlob(const IByteSource& file, const PeSignatureLayout& layout, std::vector<uint8_t>& der,
                       std::string& why) {
  if (!layout.certTableSize) return Fail(why, "no signature");
  uint32_t length = 0;
  uint16_t revision = 0, type = 0;
  if (!ReadU32(file, layout.certTableOffset, length) || !ReadU16(file, layout.certTableOffset + 4, revision) ||
      !ReadU16(file, layout.certTableOffset + 6, type))
    return Fail(why, "bad certificate table: unreadable");
  if (length <= 8 || length > layout.certTableSize) return Fail(why, "bad certificate table: entry length out of range");
  if (revision != kWinCertRevision2) return Fail(why, "bad certificate table: unknown revision");
  if (type != kWinCertTypePkcsSignedData) return Fail(why, "bad certificate table: not a PKCS#7 signature");
  der.resize(length - 8);
  if (!file.Read(layout.certTableOffset + 8, der.data(), der.size()))
    return Fail(why, "bad certificate table: unreadable");
  // A second certificate or anything else hidden in the padding is refused.
  bool padding = ForEachChunk(file, layout.certTableOffset + length, layout.certTableOffset + layout.certTableSize,
                              [](const uint8_t* data, std::size_t count) { return AllZero(data, count); });
  if (!padding) return Fail(why, "bad certificate table: data after the signature");
  return true;
}

bool VerifyAuthenticode(const IByteSource& file, const AuthenticodePolicy& policy, std::string& why,
                        std::string* signer) {
  ERR_clear_error();
  bool ok = VerifyParsed(file, policy, why, signer);
  // Errors queued by OpenSSL stay here, not in the next TLS check of this thread.
  ERR_clear_error();
  if (ok) why.clear();
  return ok;
}

bool VerifyAuthenticodeFile(const std::wstring& path, const AuthenticodePolicy& policy, std::string& why,
                            std::string* signer) {
  FileByteSource file(path);
  if (!file.IsOpen()) return Fail(why, "the file cannot be opened");
  return VerifyAuthenticode(file, policy, why, signer);
}
