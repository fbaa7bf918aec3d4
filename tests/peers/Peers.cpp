#include "tests/peers/Peers.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <memory>
#include <sstream>
#include <vector>

namespace zvpeers {

namespace {

// Under Wine the Unix build path is reached through drive Z:.
std::filesystem::path HostPath(const std::string& unix_path) {
#ifdef _WIN32
  if (!unix_path.empty() && unix_path[0] == '/') return std::filesystem::path("Z:" + unix_path);
#endif
  return std::filesystem::path(unix_path);
}

bool ManifestEntry(const std::string& file_name, std::uint64_t* size, std::string* sha) {
  std::ifstream in(Dir() / "www" / "manifest.txt");
  std::string name, hash;
  std::uint64_t n = 0;
  while (in >> name >> n >> hash) {
    if (name == file_name) {
      if (size) *size = n;
      if (sha) *sha = hash == "-" ? "" : hash;
      return true;
    }
  }
  return false;
}

}  // namespace

std::filesystem::path Dir() {
  const char* bin = std::getenv("ZV_BINARY_DIR");
  return HostPath(bin ? bin : ".") / "peers";
}

std::filesystem::path CaFile() { return Dir() / "certs" / "ca.pem"; }

std::filesystem::path FilesDir() { return Dir() / "www" / "files"; }

std::string Value(const std::string& service, const std::string& key) {
  std::ifstream in(Dir() / "run" / (service + ".env"));
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq != std::string::npos && line.compare(0, eq, key) == 0 && eq == key.size())
      return line.substr(eq + 1);
  }
  return {};
}

int Port(const std::string& service, const std::string& key) {
  std::string v = Value(service, key);
  return v.empty() ? 0 : std::atoi(v.c_str());
}

std::string Url(const std::string& service, const std::string& key, const std::string& path) {
  const char* scheme = key.rfind("https", 0) == 0 ? "https" : "http";
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(Port(service, key)) + path;
}

std::string Sha256OfFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(in.gcount()));
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx.get(), md, &len);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

std::string ManifestSha256(const std::string& file_name) {
  std::string sha;
  if (!ManifestEntry(file_name, nullptr, &sha)) return {};
  return sha.empty() ? Sha256OfFile(FilesDir() / file_name) : sha;
}

std::uint64_t ManifestSize(const std::string& file_name) {
  std::uint64_t size = 0;
  ManifestEntry(file_name, &size, nullptr);
  return size;
}

PublishedFile::PublishedFile(const std::string& tag)
    : name_("published-" + tag + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".bin"),
      path_(FilesDir() / name_) {}

PublishedFile::~PublishedFile() {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

void PublishedFile::Publish(const std::string& content, int age_seconds) {
  std::filesystem::path next = path_;
  next += ".next";
  {
    std::ofstream out(next, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  auto when = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(age_seconds);
  std::filesystem::last_write_time(next, when);
  std::filesystem::rename(next, path_);
}

std::string PublishedFile::Url(const std::string& location) const { return zvpeers::Url("nginx", "http", location + name_); }

std::string PseudoRandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(random() & 0xff);
  return bytes;
}

}  // namespace zvpeers
