// JSON records exchanged with web services: the analytics payload written by
// the event sender and the carousel answer of the product API. A converter
// (IJSONStruct) is bound to one plain record and to the allocator of the
// document that will hold what it builds.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include <rapidjson/document.h>

// A parameter an event carries after "event_category" and "event_label".
struct GAEventParam {
  enum Kind { kText, kNumber, kFlag };
  std::string key;
  Kind kind = kText;
  std::string text;
  int64_t number = 0;
  bool flag = false;
};

struct GAEventInfo {
  std::string name;
  std::string category;
  std::string label;
  std::vector<GAEventParam> extra;  // none for the three progress events
};

// Why an install ended without success, as the failure event reports it.
struct InstallFailureInfo {
  std::string phase;          // "probe", "size", "space", "download", "verify" or "install"
  std::string errorCategory;  // who gave the code: "driver", "installer", "check", ...
  int64_t errorCode = 0;
  int64_t bytesDone = 0;
  int64_t bytesTotal = 0;     // -1 while unknown
  int64_t seconds = 0;        // since Install was clicked
  int64_t retries = 0;
  bool proxyUsed = false;
};

// The "Downloader_Failed" event with the same category and label as the others.
GAEventInfo FailureEvent(const InstallFailureInfo& failure, const std::string& category,
                         const std::string& label);

struct DownloaderGAInfo {
  std::string clientId;
  std::string userValue;
  std::vector<GAEventInfo> events;
};

struct ImageInfo {
  std::string url;  // absolute http(s) address of one banner image, or empty
  std::string md5;  // its MD5 as 32 hexadecimal digits, or empty
};

struct ApiResult {
  int code = -1;
  std::string message;
};

using JsonAllocator = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;

// Bounds on what a carousel answer may make the installer hold or act on.
constexpr size_t kMaxApiResponseBytes = 8 * 1024 * 1024;
constexpr size_t kMaxCarouselImages = 64;
constexpr size_t kMaxImageUrlBytes = 2048;
constexpr size_t kMaxApiMessageBytes = 1024;

class IJSONStruct {
 public:
  IJSONStruct(JsonAllocator& allocator) : m_allocator(allocator) {}
  virtual ~IJSONStruct() = default;
  virtual void FromJson(const rapidjson::Value& value) = 0;
  virtual rapidjson::Value ToJson() = 0;

 protected:
  // Mode 0 leaves out the names in the filter, mode 1 writes only those.
  bool IsMemberWritten(const char* name) const;
  rapidjson::Value String(const std::string& text);

  int m_nFilterMode = 0;
  std::unordered_set<std::string> m_setFilter;
  JsonAllocator& m_allocator;
};

class CDownloaderGAJSONStruct : public IJSONStruct {
 public:
  CDownloaderGAJSONStruct(JsonAllocator& allocator, DownloaderGAInfo* data)
      : IJSONStruct(allocator), m_pData(data) {}
  void FromJson(const rapidjson::Value&) override {}
  rapidjson::Value ToJson() override;

 private:
  DownloaderGAInfo* m_pData;
};

class ImageInfoJSONStruct : public IJSONStruct {
 public:
  ImageInfoJSONStruct(JsonAllocator& allocator, ImageInfo* data) : IJSONStruct(allocator), m_pData(data) {}
  // Takes "url" only when it is an absolute http(s) address of sane length,
  // "md5" only when it is 32 hexadecimal digits; anything else stays empty.
  void FromJson(const rapidjson::Value& value) override;
  rapidjson::Value ToJson() override { return rapidjson::Value(rapidjson::kObjectType); }

 private:
  ImageInfo* m_pData;
};

class ImageConfigInfoJSONStruct : public IJSONStruct {
 public:
  ImageConfigInfoJSONStruct(JsonAllocator& allocator, std::vector<ImageInfo>* data)
      : IJSONStruct(allocator), m_pData(data) {}
  // Appends one record per element of the "list" array, in order (at most
  // kMaxCarouselImages); an element that is not an object gives an empty record.
  void FromJson(const rapidjson::Value& value) override;
  rapidjson::Value ToJson() override { return rapidjson::Value(rapidjson::kObjectType); }

 private:
  std::vector<ImageInfo>* m_pData;
};

// The converter's value, copied into `document` and written with four blanks
// of indentation per level, every member and element on its own line.
std::string ToJsonString(IJSONStruct& converter, rapidjson::Document& document);

// Reads the carousel answer {"code": int, "message": string, "data": {"list":
// [{"url", "md5"}...]}}. False, with nothing changed, for text that is empty,
// larger than kMaxApiResponseBytes, not valid UTF-8 or not one JSON value.
// Members that are missing or of another type are skipped.
bool ParseApiResponse(const std::string& text, ApiResult& result, std::vector<ImageInfo>& images);
