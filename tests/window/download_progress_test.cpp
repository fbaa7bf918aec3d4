#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <string>

#include "Window/DownloadProgress.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr double kPoll = 0.8;  // the driver's poll interval

// A fake clock: samples of a transfer at a given rate, polled at a fixed
// interval.
struct Transfer {
  TransferRateEstimator estimator;
  double now = 0.0;
  double bytes = 0.0;
  void Run(double seconds, double bytesPerSecond, double interval = kPoll) {
    for (double end = now + seconds - 1e-9; now < end;) {
      now += interval;
      bytes += bytesPerSecond * interval;
      estimator.AddSample(now, static_cast<int64_t>(bytes));
    }
  }
};

const ProgressTexts kEnglish = {L"%1 MB of %2 MB",       L"%1 MB/s",
                                L"A few seconds left",   L"About %1 seconds left",
                                L"About %1 minutes left", L"About %1 hours left",
                                L'.'};

}  // namespace

TEST_CASE("no estimate before 3 s of data; the wait for the first byte does not count") {
  Transfer t;
  t.estimator.AddSample(0.0, 0);
  t.Run(4.0, 0.0);  // connecting: nothing arrives
  CHECK_FALSE(t.estimator.HasRate());
  struct Step {
    double seconds;  // of data so far
    bool hasRate;
  } steps[] = {{0.8, false}, {1.6, false}, {2.4, false}, {3.2, true}, {8.0, true}};
  double dataStart = t.now;
  for (const Step& s : steps) {
    t.Run(dataStart + s.seconds - t.now, 2.0 * kMiB);
    CAPTURE(s.seconds);
    CHECK(t.estimator.HasRate() == s.hasRate);
    CHECK((t.estimator.SecondsLeft(10 * kMiB) >= 0) == s.hasRate);
    CHECK((t.estimator.BytesPerSecond() > 0) == s.hasRate);
  }
  CHECK(t.estimator.BytesPerSecond() == doctest::Approx(2.0 * kMiB).epsilon(0.001));
  CHECK(t.estimator.SecondsLeft(10 * kMiB) == doctest::Approx(5.0).epsilon(0.001));
  CHECK(t.estimator.SecondsLeft(0) == 0.0);
}

TEST_CASE("the average follows a change of rate with a time constant of about 5 s, whatever the poll interval") {
  for (double interval : {0.8, 0.5, 1.3}) {
    CAPTURE(interval);
    Transfer t;
    t.estimator.AddSample(0.0, 0);
    t.Run(20.0, 2.0 * kMiB, interval);
    CHECK(t.estimator.BytesPerSecond() == doctest::Approx(2.0 * kMiB).epsilon(0.001));
    double changed = t.now;
    t.Run(5.0, 1.0 * kMiB, interval);
    // One time constant: 1 + e^-(elapsed/5) MiB/s, within what a sample's step adds.
    double expected = (1.0 + std::exp(-(t.now - changed) / 5.0)) * kMiB;
    CHECK(t.estimator.BytesPerSecond() == doctest::Approx(expected).epsilon(0.02));
    t.Run(25.0, 1.0 * kMiB, interval);
    CHECK(t.estimator.BytesPerSecond() == doctest::Approx(1.0 * kMiB).epsilon(0.01));
  }
}

TEST_CASE("a stall gives no time left, and bytes again bring it back") {
  Transfer t;
  t.estimator.AddSample(0.0, 0);
  t.Run(10.0, 1.0 * kMiB);
  const int64_t remaining = 30 * kMiB;
  double before = t.estimator.SecondsLeft(remaining);
  CHECK(before == doctest::Approx(30.0).epsilon(0.01));
  t.Run(4.0, 0.0);  // short of the stall time: the estimate grows with the falling rate
  double during = t.estimator.SecondsLeft(remaining);
  CHECK(during > before);
  t.Run(1.6, 0.0);  // a stall now
  CHECK(t.estimator.SecondsLeft(remaining) < 0);
  t.Run(600.0, 0.0);
  CHECK(t.estimator.SecondsLeft(remaining) < 0);
  CHECK(t.estimator.HasRate());
  CHECK(t.estimator.BytesPerSecond() >= 0.0);
  CHECK(t.estimator.BytesPerSecond() < 0.001);  // the speed shown falls to nothing
  CHECK(RoundTimeLeft(t.estimator.SecondsLeft(remaining)).unit == TimeLeftUnit::kNone);
  t.Run(0.8, 1.0 * kMiB);
  CHECK(t.estimator.SecondsLeft(remaining) > 0);
}

TEST_CASE("a count that goes back starts over; samples that are not later are ignored") {
  Transfer t;
  t.estimator.AddSample(0.0, 0);
  t.Run(10.0, 1.0 * kMiB);
  REQUIRE(t.estimator.HasRate());
  t.estimator.AddSample(t.now, 20 * kMiB);  // same instant, more bytes: no rate from no time
  t.estimator.AddSample(t.now - 1.0, 30 * kMiB);
  CHECK(std::isfinite(t.estimator.BytesPerSecond()));
  CHECK(t.estimator.BytesPerSecond() == doctest::Approx(1.0 * kMiB).epsilon(0.01));
  t.bytes = 1000;  // a new transfer from almost nothing
  t.Run(0.8, 1.0 * kMiB);
  CHECK_FALSE(t.estimator.HasRate());
  t.Run(4.0, 3.0 * kMiB);
  CHECK(t.estimator.BytesPerSecond() == doctest::Approx(3.0 * kMiB).epsilon(0.001));
}

TEST_CASE("the time left is rounded the way people say it") {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double seconds;
    TimeLeftUnit unit;
    int count;
  } cases[] = {
      {-1.0, TimeLeftUnit::kNone, 0},        {nan, TimeLeftUnit::kNone, 0},
      {0.0, TimeLeftUnit::kFewSeconds, 0},   {9.9, TimeLeftUnit::kFewSeconds, 0},
      {10.0, TimeLeftUnit::kSeconds, 10},    {12.4, TimeLeftUnit::kSeconds, 10},
      {12.5, TimeLeftUnit::kSeconds, 15},    {17.5, TimeLeftUnit::kSeconds, 20},
      {19.9, TimeLeftUnit::kSeconds, 20},    {24.9, TimeLeftUnit::kSeconds, 20},
      {25.0, TimeLeftUnit::kSeconds, 30},    {84.9, TimeLeftUnit::kSeconds, 80},
      {89.9, TimeLeftUnit::kSeconds, 90},    {90.0, TimeLeftUnit::kMinutes, 2},
      {149.0, TimeLeftUnit::kMinutes, 2},    {150.0, TimeLeftUnit::kMinutes, 3},
      {5399.0, TimeLeftUnit::kMinutes, 90},  {5400.0, TimeLeftUnit::kHours, 2},
      {12600.0, TimeLeftUnit::kHours, 4},    {99 * 3600.0, TimeLeftUnit::kHours, 99},
      {99.5 * 3600, TimeLeftUnit::kNone, 0}, {1e300, TimeLeftUnit::kNone, 0},
  };
  for (const Case& c : cases) {
    CAPTURE(c.seconds);
    TimeLeft left = RoundTimeLeft(c.seconds);
    CHECK(left.unit == c.unit);
    CHECK(left.count == c.count);
  }
  CHECK(TimeLeftText(kEnglish, {TimeLeftUnit::kMinutes, 2}) == L"About 2 minutes left");
  CHECK(TimeLeftText(kEnglish, {TimeLeftUnit::kFewSeconds, 0}) == L"A few seconds left");
  CHECK(TimeLeftText(kEnglish, {}).empty());
}

TEST_CASE("sizes never round up to the total; speeds keep two figures") {
  struct Size {
    int64_t bytes;
    const wchar_t* text;
  } sizes[] = {{0, L"0.00"},         {-5, L"0.00"},          {kMiB * 7 / 100 - 1, L"0.06"},
               {kMiB - 1, L"0.99"},     {kMiB, L"1.0"},         {12 * kMiB + kMiB * 34 / 100, L"12.3"},
               {100 * kMiB - 1, L"99.9"}, {100 * kMiB, L"100"}, {1536 * kMiB + kMiB - 1, L"1536"},
               {int64_t{5000} * kMiB, L"5000"}};
  for (const Size& s : sizes) CHECK(FormatMegabytes(s.bytes, L'.') == s.text);
  CHECK(FormatMegabytes(12 * kMiB + kMiB / 2, L',') == L"12,5");
  struct Speed {
    double mb;
    const wchar_t* text;
  } speeds[] = {{0.0, L"0.00"}, {-1.0, L"0.00"}, {0.004, L"0.00"}, {0.05, L"0.05"}, {0.254, L"0.25"},
                {0.996, L"1.0"}, {3.24, L"3.2"}, {99.94, L"99.9"}, {99.96, L"100"}, {120.4, L"120"}};
  for (const Speed& s : speeds) {
    CAPTURE(s.mb);
    CHECK(FormatSpeed(s.mb * kMiB, L'.') == s.text);
  }
  CHECK(FormatSpeed(3.24 * kMiB, L',') == L"3,2");
}

TEST_CASE("the status line: bytes at once, the speed and the time left once estimated") {
  Transfer t;
  t.estimator.AddSample(0.0, 0);
  t.Run(1.6, 1.0 * kMiB);
  const int64_t total = 48 * kMiB;
  CHECK(DownloadStatusText(kEnglish, 12 * kMiB + kMiB * 34 / 100, total, t.estimator) == L"12.3 MB of 48.0 MB");
  t.Run(8.0, 1.0 * kMiB);
  CHECK(DownloadStatusText(kEnglish, 10 * kMiB, total, t.estimator) ==
        L"10.0 MB of 48.0 MB \u00B7 1.0 MB/s \u00B7 About 40 seconds left");
  CHECK(DownloadStatusText(kEnglish, total - kMiB, total, t.estimator) ==
        L"47.0 MB of 48.0 MB \u00B7 1.0 MB/s \u00B7 A few seconds left");
  // More than announced shows the total; no total, nothing to say.
  CHECK(DownloadStatusText(kEnglish, total + 5, total, t.estimator).rfind(L"48.0 MB of 48.0 MB", 0) == 0);
  CHECK(DownloadStatusText(kEnglish, 5, 0, t.estimator).empty());
  // Placeholders in the language's own order, a decimal comma.
  ProgressTexts other = kEnglish;
  other.downloaded = L"%2 MB / %1";
  other.decimalMark = L',';
  CHECK(DownloadStatusText(other, 10 * kMiB, total, t.estimator).rfind(L"48,0 MB / 10,0 \u00B7 1,0 MB/s", 0) == 0);
  // A stall keeps the speed (falling) but drops the time left.
  t.Run(6.0, 0.0);
  std::wstring stalled = DownloadStatusText(kEnglish, 10 * kMiB, total, t.estimator);
  CHECK(stalled.rfind(L"10.0 MB of 48.0 MB \u00B7 0.", 0) == 0);
  CHECK(stalled.find(L"left") == std::wstring::npos);
}
