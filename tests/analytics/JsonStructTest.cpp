// The analytics payload's exact text and the checked reading of carousel answers.
#include <doctest/doctest.h>

#include <sstream>

#include "common/JsonStruct.h"

namespace {

std::string Payload(const DownloaderGAInfo& info) {
  JsonAllocator allocator(1024);
  rapidjson::Document document(&allocator);
  CDownloaderGAJSONStruct converter(document.GetAllocator(), const_cast<DownloaderGAInfo*>(&info));
  return ToJsonString(converter, document);
}

DownloaderGAInfo OneEvent(const std::string& id, const std::string& name, const std::string& category) {
  DownloaderGAInfo info;
  info.clientId = id;
  info.userValue = id;
  info.events.push_back({name, category, id});
  return info;
}

}  // namespace

TEST_CASE("The analytics payload is written byte for byte in the pretty layout") {
  const std::string expected =
      "{\n"
      "    \"client_id\": \"X\",\n"
      "    \"user_properties\": {\n"
      "        \"uid\": {\n"
      "            \"value\": \"X\"\n"
      "        }\n"
      "    },\n"
      "    \"events\": [\n"
      "        {\n"
      "            \"name\": \"Downloader_Start_Install\",\n"
      "            \"params\": {\n"
      "                \"event_category\": \"C\",\n"
      "                \"event_label\": \"X\"\n"
      "            }\n"
      "        }\n"
      "    ]\n"
      "}";
  std::string text = Payload(OneEvent("X", "Downloader_Start_Install", "C"));
  CHECK(text == expected);
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line);) ++count;
  CHECK(count == 17);
}

TEST_CASE("The failure event carries its reasons after the common parameters, byte for byte") {
  InstallFailureInfo failure;
  failure.phase = "download";
  failure.errorCategory = "HTTP";
  failure.errorCode = 1104;
  failure.bytesDone = 4194304;
  failure.bytesTotal = 8388625;
  failure.seconds = 12;
  failure.retries = 0;
  failure.proxyUsed = false;
  DownloaderGAInfo info = OneEvent("X", "unused", "C");
  info.events[0] = FailureEvent(failure, "C", "X");
  const std::string expected =
      "{\n"
      "    \"client_id\": \"X\",\n"
      "    \"user_properties\": {\n"
      "        \"uid\": {\n"
      "            \"value\": \"X\"\n"
      "        }\n"
      "    },\n"
      "    \"events\": [\n"
      "        {\n"
      "            \"name\": \"Downloader_Failed\",\n"
      "            \"params\": {\n"
      "                \"event_category\": \"C\",\n"
      "                \"event_label\": \"X\",\n"
      "                \"phase\": \"download\",\n"
      "                \"error_category\": \"HTTP\",\n"
      "                \"error_code\": 1104,\n"
      "                \"bytes_done\": 4194304,\n"
      "                \"bytes_total\": 8388625,\n"
      "                \"seconds\": 12,\n"
      "                \"retries\": 0,\n"
      "                \"proxy\": false\n"
      "            }\n"
      "        }\n"
      "    ]\n"
      "}";
  CHECK(Payload(info) == expected);
  // A size still unknown and a proxy in use.
  failure.bytesTotal = -1;
  failure.proxyUsed = true;
  info.events[0] = FailureEvent(failure, "C", "X");
  std::string text = Payload(info);
  CHECK(text.find("\"bytes_total\": -1,\n") != std::string::npos);
  CHECK(text.find("\"proxy\": true\n") != std::string::npos);
}

TEST_CASE("Payload strings are escaped; UTF-8 passes unchanged; no events gives []") {
  std::string text = Payload(OneEvent("id", "e", "Say \"hi\"\\ \x01 Quillory \xc3\xa9"));
  CHECK(text.find("\"event_category\": \"Say \\\"hi\\\"\\\\ \\u0001 Quillory \xc3\xa9\"") != std::string::npos);
  DownloaderGAInfo empty;
  CHECK(Payload(empty) ==
        "{\n    \"client_id\": \"\",\n    \"user_properties\": {\n        \"uid\": {\n"
        "            \"value\": \"\"\n        }\n    },\n    \"events\": []\n}");
}

TEST_CASE("ParseApiResponse reads code, message and the checked image list") {
  const std::string md5a = "0123456789abcdef0123456789abcdef";
  const std::string md5b = "0123456789ABCDEF0123456789ABCDEF";
  std::string text = R"({"code":1,"message":"ok","extra":[1,2],"data":{"list":[
      {"url":"https://cdn.example/a.png","md5":")" + md5a + R"("},
      7,
      {"url":"http://127.0.0.1:8080/b.png","md5":")" + md5b + R"J(","size":3},
      {"url":"javascript:alert(1)","md5":"nothex-nothex-nothex-nothex-1234"},
      {"url":"ftp://x/c.png","md5":12},
      {"url":"cdn.example/no-scheme.png","md5":"abc"},
      {}
  ]}})J";
  ApiResult result;
  std::vector<ImageInfo> images;
  REQUIRE(ParseApiResponse(text, result, images));
  CHECK(result.code == 1);
  CHECK(result.message == "ok");
  REQUIRE(images.size() == 7);
  CHECK(images[0].url == "https://cdn.example/a.png");
  CHECK(images[0].md5 == md5a);
  CHECK(images[1].url.empty());  // not an object: an empty record keeps the numbering
  CHECK(images[1].md5.empty());
  CHECK(images[2].url == "http://127.0.0.1:8080/b.png");
  CHECK(images[2].md5 == md5b);
  for (size_t i = 3; i < images.size(); ++i) {
    CAPTURE(i);
    CHECK(images[i].url.empty());
    CHECK(images[i].md5.empty());
  }
}

TEST_CASE("Wrongly typed members are skipped and the call still succeeds") {
  const struct {
    const char* text;
    int code;
    size_t images;
  } cases[] = {
      {R"({"code":1})", 1, 0},
      {R"({"code":"1","data":{"list":[{}]}})", -1, 1},
      {R"({"code":1.5})", -1, 0},
      {R"({"code":4294967296})", -1, 0},
      {R"({"code":-2147483648})", -2147483648, 0},
      {R"({"code":true,"message":5,"data":[]})", -1, 0},
      {R"({"code":1,"data":{"list":"nope"}})", 1, 0},
      {R"({"code":1,"data":"list"})", 1, 0},
      {R"([1,2,3])", -1, 0},
      {R"("text")", -1, 0},
      {R"(null)", -1, 0},
      {" \n{\"code\":0}\t ", 0, 0},
  };
  for (const auto& c : cases) {
    CAPTURE(c.text);
    ApiResult result;
    std::vector<ImageInfo> images;
    REQUIRE(ParseApiResponse(c.text, result, images));
    CHECK(result.code == c.code);
    CHECK(images.size() == c.images);
  }
}

TEST_CASE("Malformed, truncated, hostile or huge answers fail and change nothing") {
  std::string deep(200000, '[');
  std::string manyImages = R"({"code":1,"data":{"list":[)";
  for (int i = 0; i < 1000; ++i) manyImages += std::string(i ? "," : "") + R"({"url":"https://h/x.png"})";
  manyImages += "]}}";
  std::string huge = R"({"code":1,"message":")" + std::string(kMaxApiResponseBytes, 'a') + "\"}";
  const std::string bad[] = {
      "",
      "   ",
      "not json",
      R"({"code":1,"data":{"list":[{"url":"https://h/a.png")",
      R"({"code":1} trailing)",
      R"({"code":1,})",
      R"({'code':1})",
      "{\"code\":1,\"message\":\"\xff\xfe\"}",
      std::string("{\"code\":1,\"message\":\"a\0b\"}", 27).substr(0, 15),
      deep,
      huge,
  };
  for (const std::string& text : bad) {
    CAPTURE(text.substr(0, 60));
    ApiResult result;
    result.message = "kept";
    std::vector<ImageInfo> images(1);
    CHECK_FALSE(ParseApiResponse(text, result, images));
    CHECK(result.code == -1);
    CHECK(result.message == "kept");
    CHECK(images.size() == 1);
  }
  ApiResult result;
  std::vector<ImageInfo> images;
  REQUIRE(ParseApiResponse(manyImages, result, images));
  CHECK(images.size() == kMaxCarouselImages);
}

TEST_CASE("Every truncation and single-byte corruption of an answer is handled soundly") {
  const std::string good =
      R"({"code":1,"message":"success","data":{"list":[{"url":"https://localhost:1/images/pr_1.png",)"
      R"("md5":"1e7602f5b229526aee5ff762eb2c6727"},{"url":"https://localhost:1/images/pr_2.png",)"
      R"("md5":"52612b763eea9942bd46c071e892efa3"}]}})";
  const char replacements[] = {'\0', '"', '{', '}', '[', ']', ',', ':', '\\', 'x', '\xff', '1'};
  size_t accepted = 0;
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    ApiResult result;
    std::vector<ImageInfo> images;
    bool ok = ParseApiResponse(good.substr(0, cut), result, images);
    CHECK(ok == (cut == good.size()));
  }
  for (size_t at = 0; at < good.size(); ++at) {
    for (char c : replacements) {
      std::string text = good;
      text[at] = c;
      ApiResult result;
      std::vector<ImageInfo> images;
      if (!ParseApiResponse(text, result, images)) {
        CHECK(images.empty());
        CHECK(result.code == -1);
        continue;
      }
      ++accepted;
      CHECK(images.size() <= 2);
      for (const ImageInfo& image : images) {
        CHECK((image.md5.empty() || image.md5.size() == 32));
        CHECK((image.url.empty() || image.url.rfind("http", 0) == 0));
      }
    }
  }
  MESSAGE(accepted << " corrupted variants still parsed as JSON");
}
