// What the progress page says while the installer downloads: the transfer
// rate smoothed over a few seconds, the time left as a rounded phrase, and
// the status line with the bytes, the speed and the time left. Portable, so
// that it is tested natively with a fake clock.
#pragma once

#include <cstdint>
#include <string>

// The transfer rate from byte counts sampled at irregular times: an
// exponential moving average of the rate between samples, with a time
// constant of about 5 s. Nothing is estimated before 3 s of data, and no
// time left while the transfer stalls.
class TransferRateEstimator {
 public:
  static constexpr double kTimeConstantSeconds = 5.0;
  static constexpr double kWarmUpSeconds = 3.0;
  // No byte for this long is a stall: the average still decays, but a time
  // left computed from it would only grow without meaning.
  static constexpr double kStallSeconds = 5.0;

  void Reset() { *this = TransferRateEstimator(); }
  // The byte count seen at `seconds` on a steady clock. A count below the
  // previous one starts the estimate again from it (a new transfer); a
  // sample that is not later than the previous one is ignored.
  void AddSample(double seconds, int64_t bytes);

  // At least 3 s of data have been seen.
  bool HasRate() const;
  // Smoothed bytes per second; 0 before HasRate.
  double BytesPerSecond() const { return HasRate() ? m_rate : 0.0; }
  // Seconds until `remaining` more bytes have arrived; negative when there
  // is no estimate (too little data, a stall, or no rate).
  double SecondsLeft(int64_t remaining) const;

 private:
  bool m_haveSample = false;
  bool m_moving = false;      // bytes have arrived since the baseline
  double m_lastTime = 0.0;    // time of the last sample
  int64_t m_lastBytes = 0;
  double m_dataStart = 0.0;   // start of the first interval that brought bytes
  double m_lastMoved = 0.0;   // time of the last sample that brought bytes
  double m_rate = 0.0;        // bytes per second, smoothed
};

// The time left, rounded the way people say it: a few seconds; seconds to 5
// below 20 s and to 10 below 90 s; whole minutes below 90 minutes; whole
// hours above, up to 99 hours (beyond that nothing is said).
enum class TimeLeftUnit { kNone, kFewSeconds, kSeconds, kMinutes, kHours };
struct TimeLeft {
  TimeLeftUnit unit = TimeLeftUnit::kNone;
  int count = 0;
};
TimeLeft RoundTimeLeft(double seconds);

// Text templates of the language; %1 and %2 stand for the numbers.
struct ProgressTexts {
  std::wstring downloaded;  // "%1 MB of %2 MB"
  std::wstring speed;       // "%1 MB/s"
  std::wstring fewSeconds;  // "A few seconds left"
  std::wstring seconds;     // "About %1 seconds left"
  std::wstring minutes;     // "About %1 minutes left"
  std::wstring hours;       // "About %1 hours left"
  wchar_t decimalMark = L'.';
};

// Megabytes (MiB, as the storage message counts them), never rounded up: two
// decimals below 1 ("0.25"), one below 100 ("12.3"), whole from 100 ("150").
std::wstring FormatMegabytes(int64_t bytes, wchar_t decimalMark);
// Megabytes per second, rounded: two decimals below 1 ("0.25"), one below
// 100 ("3.2"), whole above ("120").
std::wstring FormatSpeed(double bytesPerSecond, wchar_t decimalMark);
// The phrase of a rounded time left; empty for kNone.
std::wstring TimeLeftText(const ProgressTexts& texts, TimeLeft left);

// The status line while downloading: "12.3 MB of 48.0 MB · 3.2 MB/s · About
// 2 minutes left"; the speed and the time left only once the estimator has
// them. Empty when the total is not known.
std::wstring DownloadStatusText(const ProgressTexts& texts, int64_t done, int64_t total,
                                const TransferRateEstimator& estimator);
