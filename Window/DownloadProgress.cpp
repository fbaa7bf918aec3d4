#include "Window/DownloadProgress.h"

#include <cmath>
#include <utility>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr wchar_t kSeparator[] = L" \u00B7 ";

std::wstring Fill(std::wstring text, const std::wstring& first, const std::wstring& second = {}) {
  for (auto [mark, value] : {std::make_pair(L"%1", &first), std::make_pair(L"%2", &second)}) {
    for (std::size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value->size()))
      text.replace(at, 2, *value);
  }
  return text;
}

// units / 10^decimals, written with the decimal mark.
std::wstring Fixed(long long units, int decimals, wchar_t decimalMark) {
  if (decimals == 0) return std::to_wstring(units);
  long long scale = decimals == 1 ? 10 : 100;
  std::wstring fraction = std::to_wstring(units % scale);
  fraction.insert(0, decimals - fraction.size(), L'0');
  return std::to_wstring(units / scale) + decimalMark + fraction;
}

}  // namespace

void TransferRateEstimator::AddSample(double seconds, int64_t bytes) {
  if (m_haveSample && bytes < m_lastBytes) Reset();
  if (!m_haveSample) {
    m_haveSample = true;
    m_lastTime = seconds;
    m_lastBytes = bytes;
    return;
  }
  double dt = seconds - m_lastTime;
  if (!(dt > 0.0)) return;
  int64_t delta = bytes - m_lastBytes;
  double rate = static_cast<double>(delta) / dt;
  if (!m_moving) {
    // Until the first bytes arrive (connecting, waiting for the server) the
    // baseline moves along: the wait says nothing about the rate.
    if (delta > 0) {
      m_moving = true;
      m_dataStart = m_lastTime;
      m_rate = rate;
    }
  } else {
    // The weight of a sample grows with the time it covers, so that the
    // average forgets at the same pace whatever the poll interval.
    m_rate += (1.0 - std::exp(-dt / kTimeConstantSeconds)) * (rate - m_rate);
  }
  if (delta > 0) m_lastMoved = seconds;
  m_lastTime = seconds;
  m_lastBytes = bytes;
}

bool TransferRateEstimator::HasRate() const {
  return m_moving && m_lastTime - m_dataStart >= kWarmUpSeconds;
}

double TransferRateEstimator::SecondsLeft(int64_t remaining) const {
  if (!HasRate() || m_lastTime - m_lastMoved >= kStallSeconds || !(m_rate > 0.0)) return -1.0;
  return remaining > 0 ? static_cast<double>(remaining) / m_rate : 0.0;
}

TimeLeft RoundTimeLeft(double seconds) {
  auto nearest = [](double value, int step) { return static_cast<int>(std::floor(value / step + 0.5)) * step; };
  if (!(seconds >= 0.0)) return {};
  if (seconds < 10.0) return {TimeLeftUnit::kFewSeconds, 0};
  if (seconds < 20.0) return {TimeLeftUnit::kSeconds, nearest(seconds, 5)};
  if (seconds < 90.0) return {TimeLeftUnit::kSeconds, nearest(seconds, 10)};
  if (seconds < 90.0 * 60) return {TimeLeftUnit::kMinutes, nearest(seconds / 60.0, 1)};
  if (seconds >= 99.5 * 3600) return {};  // also infinity, before any conversion to int
  return {TimeLeftUnit::kHours, nearest(seconds / 3600.0, 1)};
}

std::wstring FormatMegabytes(int64_t bytes, wchar_t decimalMark) {
  double mb = bytes > 0 ? static_cast<double>(bytes) / kMiB : 0.0;
  auto hundredths = static_cast<long long>(std::floor(mb * 100.0));
  if (hundredths < 100) return Fixed(hundredths, 2, decimalMark);
  auto tenths = static_cast<long long>(std::floor(mb * 10.0));
  if (tenths < 1000) return Fixed(tenths, 1, decimalMark);
  return Fixed(static_cast<long long>(std::floor(mb)), 0, decimalMark);
}

std::wstring FormatSpeed(double bytesPerSecond, wchar_t decimalMark) {
  double mb = bytesPerSecond > 0.0 ? bytesPerSecond / kMiB : 0.0;
  long long hundredths = std::llround(mb * 100.0);
  if (hundredths < 100) return Fixed(hundredths, 2, decimalMark);
  long long tenths = std::llround(mb * 10.0);
  if (tenths < 1000) return Fixed(tenths, 1, decimalMark);
  return Fixed(std::llround(mb), 0, decimalMark);
}

std::wstring TimeLeftText(const ProgressTexts& texts, TimeLeft left) {
  std::wstring count = std::to_wstring(left.count);
  switch (left.unit) {
    case TimeLeftUnit::kFewSeconds: return texts.fewSeconds;
    case TimeLeftUnit::kSeconds: return Fill(texts.seconds, count);
    case TimeLeftUnit::kMinutes: return Fill(texts.minutes, count);
    case TimeLeftUnit::kHours: return Fill(texts.hours, count);
    default: return std::wstring();
  }
}

std::wstring DownloadStatusText(const ProgressTexts& texts, int64_t done, int64_t total,
                                const TransferRateEstimator& estimator) {
  if (total <= 0) return std::wstring();
  if (done > total) done = total;
  std::wstring line = Fill(texts.downloaded, FormatMegabytes(done, texts.decimalMark),
                           FormatMegabytes(total, texts.decimalMark));
  if (!estimator.HasRate()) return line;
  line += kSeparator + Fill(texts.speed, FormatSpeed(estimator.BytesPerSecond(), texts.decimalMark));
  std::wstring left = TimeLeftText(texts, RoundTimeLeft(estimator.SecondsLeft(total - done)));
  if (!left.empty()) line += kSeparator + left;
  return line;
}
