// Where the test peers of tests/peers/ listen and what they serve.
// The fixtures record their ports in <build>/peers/run/<service>.env; tests
// read them here instead of assuming fixed numbers, so that two build trees
// can run their peers at the same time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zvpeers {

// <build>/peers (from ZV_BINARY_DIR, which ctest sets for every test).
std::filesystem::path Dir();
// The test CA every peer certificate that should be trusted chains to.
std::filesystem::path CaFile();
// The folder the peers serve under "/files/" (the source of every test file).
std::filesystem::path FilesDir();

// Port of a service's listener ("nginx", "http"), 0 when the service's
// fixture is not running. Also gives other recorded values as text.
int Port(const std::string& service, const std::string& key);
std::string Value(const std::string& service, const std::string& key);

// "http://127.0.0.1:<port><path>"; https for keys that start with "https".
std::string Url(const std::string& service, const std::string& key, const std::string& path);

// Lower-case hex SHA-256 of a file's contents ("" when it cannot be read),
// and the precomputed one of a test file from www/manifest.txt.
std::string Sha256OfFile(const std::filesystem::path& path);
std::string ManifestSha256(const std::string& file_name);
std::uint64_t ManifestSize(const std::string& file_name);

// A file of FilesDir() that one test publishes and replaces the way a vendor
// publishes a new build: written beside it, given a modification time and
// renamed over it (nginx derives ETag and Last-Modified from that time).
// Removed when the object goes away.
class PublishedFile {
 public:
  explicit PublishedFile(const std::string& tag);
  ~PublishedFile();
  PublishedFile(const PublishedFile&) = delete;
  PublishedFile& operator=(const PublishedFile&) = delete;
  // Publishes content, modified `age_seconds` ago.
  void Publish(const std::string& content, int age_seconds);
  // The file's address on nginx's plain listener under a location ("/files/").
  std::string Url(const std::string& location = "/files/") const;

 private:
  std::string name_;
  std::filesystem::path path_;
};

// `size` pseudo-random bytes, the same for the same seed: builds of a file.
std::string PseudoRandomBytes(std::size_t size, unsigned seed);

}  // namespace zvpeers
