// Under Wine: the client id in the registry (created, kept, replaced when
// malformed, written with its terminator) and the three events as the local
// collector receives them.
#include <doctest/doctest.h>

#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include <rapidjson/document.h>

#include "common/ClientIdStore.h"
#include "common/GA.h"
#include "common/JsonStruct.h"
#include "http/WinHttp.h"
#include "log/Log.h"
#include "system/Strings.h"
#include "tests/peers/Peers.h"
#include "tests/http/WineTestCa.h"
#include "tests/support/TestSupport.h"

namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\WOW6432Node\\Zelvane\\ZelvaneDownTest";

HKEY OpenTestKey() {
  HKEY key = nullptr;
  REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                          &key, nullptr) == ERROR_SUCCESS);
  return key;
}

void DeleteTestKey() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY, 0); }

void SetRaw(DWORD type, const std::string& bytes) {
  HKEY key = OpenTestKey();
  RegSetValueExW(key, L"GUID", 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
}

std::string Wide16(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// The stored value's type and bytes.
std::pair<DWORD, std::string> GetRaw() {
  HKEY key = OpenTestKey();
  std::string data(4096, '\0');
  DWORD type = 0, size = 4096;
  RegQueryValueExW(key, L"GUID", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
  RegCloseKey(key);
  data.resize(size);
  return {type, data};
}

bool IsNewId(const std::wstring& id) {
  return std::regex_match(WideToUtf8(id),
                          std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
}


std::string ApiBase(const std::string& key) {
  std::string url = zvpeers::Url("api", key, "");
  return url.replace(url.find("127.0.0.1"), 9, "localhost");
}

std::string Get(const std::string& url) {
  CWinHttp client;
  return client.RequestA(url.c_str(), 0, nullptr, nullptr);
}

// The bodies the collector recorded, in arrival order.
std::vector<rapidjson::Document> Collected() {
  std::vector<rapidjson::Document> out;
  std::istringstream lines(Get(ApiBase("https") + "/control/collected"));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    out.emplace_back();
    out.back().Parse(line.c_str());
  }
  return out;
}

std::string ExpectedBody(const std::string& id, const std::string& event, const std::string& category) {
  return "{\n    \"client_id\": \"" + id + "\",\n    \"user_properties\": {\n        \"uid\": {\n"
         "            \"value\": \"" + id + "\"\n        }\n    },\n    \"events\": [\n        {\n"
         "            \"name\": \"" + event + "\",\n            \"params\": {\n"
         "                \"event_category\": \"" + category + "\",\n"
         "                \"event_label\": \"" + id + "\"\n            }\n        }\n    ]\n}";
}

}  // namespace

TEST_CASE("The client id is created once, written with its terminator and read back") {
  DeleteTestKey();
  std::wstring first = ReadOrCreateClientId(kTestKey);
  REQUIRE(IsNewId(first));
  auto raw = GetRaw();
  CHECK(raw.first == REG_SZ);
  CHECK(raw.second.size() == 74);  // 36 characters and the terminator, UTF-16
  CHECK(raw.second == Wide16(first) + std::string(2, '\0'));
  CHECK(ReadOrCreateClientId(kTestKey) == first);
  DeleteTestKey();
}

TEST_CASE("Stored values: valid ones kept, malformed ones replaced") {
  const std::wstring id = L"0A1B2C3D-BEEF-cafe-ABCD-0123456789EF";
  const struct {
    const char* what;
    DWORD type;
    std::string bytes;
    const wchar_t* kept;  // null: replaced by a new id
  } cases[] = {
      {"with terminator", REG_SZ, Wide16(id) + std::string(2, '\0'), id.c_str()},
      {"without terminator", REG_SZ, Wide16(id), id.c_str()},
      {"not a GUID but allowed", REG_SZ, Wide16(L"abc-123"), L"abc-123"},
      {"garbage after the terminator", REG_SZ, Wide16(L"abc") + std::string(2, '\0') + Wide16(L"{}"), L"abc"},
      {"braces", REG_SZ, Wide16(L"{" + id + L"}"), nullptr},
      {"empty", REG_SZ, std::string(2, '\0'), nullptr},
      {"blank inside", REG_SZ, Wide16(L"ab cd"), nullptr},
      {"wrong type", REG_BINARY, Wide16(id), nullptr},
      {"too long", REG_SZ, Wide16(std::wstring(3000, L'a')), nullptr},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.what));
    DeleteTestKey();
    SetRaw(c.type, c.bytes);
    std::wstring got = ReadOrCreateClientId(kTestKey);
    if (c.kept) {
      CHECK(got == c.kept);
    } else {
      CHECK(IsNewId(got));
      auto raw = GetRaw();
      CHECK(raw.first == REG_SZ);
      CHECK(raw.second == Wide16(got) + std::string(2, '\0'));
    }
  }
  DeleteTestKey();
}

TEST_CASE("The three events reach the collector in order, byte for byte, with the stored id") {
  zvtest::TrustTestCaInPrefix();
  zvtest::TempDir logDir("ga_log");
  InitLog(L"ga_test.log", logDir.path().wstring().c_str());
  REQUIRE(Get(ApiBase("https") + "/control/reset") == "ok");

  CGA* ga = CGA::GetInstance();
  REQUIRE(ga != nullptr);
  CHECK(ga == CGA::GetInstance());
  const std::string id = ga->ClientId();
  REQUIRE(IsNewId(Utf8ToWide(id)));
  CHECK(Utf8ToWide(id) == ReadOrCreateClientId());  // the product key holds it
  const std::string query = "measurement_id=G-Q7WZ2MLX4P&api_secret=Zr4pXw9LqT2vNc8bYh6Jsk";
  ga->SetUrl(Utf8ToWide(ApiBase("https") + "/mp/collect?" + query));
  ga->SetTitle(L"Quillory Quillory (Windows version)");
  CHECK(ga->SendStartInstall());
  CHECK(ga->SendInstalled());
  CHECK(ga->SendInstalledSucceed());

  std::vector<rapidjson::Document> got = Collected();
  const char* events[] = {"Downloader_Start_Install", "Downloader_Installed", "Installed_Succeed"};
  REQUIRE(got.size() == 3);
  for (size_t i = 0; i < 3; ++i) {
    CAPTURE(i);
    REQUIRE(got[i].IsObject());
    CHECK(std::string(got[i]["body"].GetString()) ==
          ExpectedBody(id, events[i], "Quillory Quillory (Windows version)"));
    CHECK(std::string(got[i]["content_type"].GetString()) == "application/json; charset=utf-8");
    CHECK(std::string(got[i]["query"].GetString()) == query);
  }

  // An error status and an unreachable endpoint only show in the log.
  ga->SetUrl(Utf8ToWide(ApiBase("https") + "/status/404"));
  CHECK(ga->SendInstalled());
  ga->SetUrl(L"https://localhost:1/mp/collect");
  CHECK(ga->SendInstalled());
  // A collector that does not answer holds the sender for its time-outs
  // only: it answers after 15 s, longer than they allow, so no status comes.
  ga->SetUrl(Utf8ToWide(ApiBase("https") + "/slow?ms=15000"));
  auto start = GetTickCount64();
  CHECK(ga->SendInstalled());
  MESSAGE("silent collector given up after " << (GetTickCount64() - start) << " ms");
  std::string log = zvtest::ReadFile(CurrentLogFilePath());
  const std::size_t last = log.rfind("request ret Code: ");
  REQUIRE(last != std::string::npos);
  CHECK(log.compare(last, 20, "request ret Code: 0\n") == 0);
  CHECK(log.find("tran code guid:" + id) != std::string::npos);
  CHECK(log.find("request ret Code: 204") != std::string::npos);
  CHECK(log.find("request ret Code: 404") != std::string::npos);
  CHECK(log.find("request ret Code: 0") != std::string::npos);
  CHECK(log.find("request info: {\n    \"client_id\"") != std::string::npos);
  CHECK(Collected().size() == 3);
}
