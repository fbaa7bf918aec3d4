// Shared by the driver tests: a callback recorder and peer addresses.
#pragma once

#include <doctest/doctest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/HttpDownload.h"
#include "log/Log.h"
#include "system/Strings.h"
#include "tests/peers/Peers.h"
#include "tests/support/TestSupport.h"

namespace drivertest {

struct Call {
  int code, value, extra;
  int order;  // position among the callbacks of every recorder of the process
};

// Records every callback; an optional hook runs inside the callback (on the
// download thread), as the window's handlers do.
struct Recorder {
  std::mutex lock;
  std::vector<Call> calls;
  std::function<void(const Call&)> hook;

  static void Callback(int code, int value, int extra, void* context) {
    static std::atomic<int> counter{0};
    auto* self = static_cast<Recorder*>(context);
    Call call{code, value, extra, ++counter};
    {
      std::lock_guard<std::mutex> guard(self->lock);
      self->calls.push_back(call);
    }
    if (self->hook) self->hook(call);
  }

  Call First() {
    std::lock_guard<std::mutex> guard(lock);
    REQUIRE_FALSE(calls.empty());
    return calls.front();
  }
  Call Last() {
    std::lock_guard<std::mutex> guard(lock);
    REQUIRE_FALSE(calls.empty());
    return calls.back();
  }

  std::vector<int> Percents() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<int> out;
    for (const Call& c : calls) {
      if (c.code == kCallback_Percent) out.push_back(c.value);
    }
    return out;
  }

  // 0 first, 4 once and last with the given result, only 3 between, each
  // led by a byte report (2) that agrees with it and never goes back, but
  // for the `startsOver` times a download that found its file changed on the
  // server begins again from nothing.
  void CheckSequence(int result, int startsOver = 0) {
    std::lock_guard<std::mutex> guard(lock);
    REQUIRE(calls.size() >= 2);
    CHECK(calls.front().code == kCallback_Started);
    CHECK(calls.back().code == kCallback_Result);
    CHECK(calls.back().value == result);
    CHECK(calls.back().extra >= 0);
    int lastBytes = 0;
    for (std::size_t i = 1; i + 1 < calls.size(); ++i) {
      const Call& c = calls[i];
      if (c.code == kCallback_Bytes) {
        CHECK(calls[i + 1].code == kCallback_Percent);
        if (c.value < lastBytes) --startsOver;
        CHECK(startsOver >= 0);
        CHECK((c.extra > 0 && c.value <= c.extra));
        CHECK(calls[i + 1].value == static_cast<int>(static_cast<float>(c.value) / c.extra * 100.0f));
        lastBytes = c.value;
      } else {
        CHECK(c.code == kCallback_Percent);
        CHECK(calls[i - 1].code == kCallback_Bytes);
      }
    }
  }
};

inline std::wstring NginxUrl(const std::string& path) {
  return Utf8ToWide(zvpeers::Url("nginx", "http", path));
}

inline bool Fetch(const std::wstring& url, const std::wstring& path, Recorder& recorder) {
  DownloadRequest request;
  request.connections = 8;
  request.context = &recorder;
  request.url = url;
  request.path = path;
  return StartHttpDownload(&request, &Recorder::Callback, nullptr);
}

}  // namespace drivertest
