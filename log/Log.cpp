#include "Log.h"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <vector>

#include "LogPlatform.h"
#include "RollingFileSink.h"

namespace {

constexpr std::size_t kMaxLogBytes = 10 * 1024 * 1024;
// Time stamp with milliseconds, a blank, the message, a line end and a blank
// that opens the following line.
constexpr const char* kPattern = "%Y-%m-%d %H:%M:%S,%e %v";
constexpr const char* kLineEnd = "\n ";
constexpr const char* kFaultMarker = "***Fatal Error Check,Please Fix it!***";

struct LogState {
  std::mutex lock;
  std::shared_ptr<spdlog::logger> root;  // set once, never reset
  std::shared_ptr<zvlog::RollingFileSink> sink;
};

LogState& State() {
  static LogState* state = new LogState();  // lives until process end
  return *state;
}

std::wstring ModulePathWithBackslashes() {
  std::wstring path = zvlog::ModuleFilePath();
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

// File name of the module, cut at its first dot.
const std::wstring& ModuleBaseName() {
  static const std::wstring name = [] {
    std::wstring path = ModulePathWithBackslashes();
    std::size_t slash = path.find_last_of(L'\\');
    std::wstring file = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::size_t dot = file.find(L'.');
    return dot == std::wstring::npos ? file : file.substr(0, dot);
  }();
  return name;
}

bool IsSetUp() { return State().root != nullptr; }

template <typename Char>
std::basic_string<Char> FileNamePart(const Char* path) {
  std::basic_string<Char> p = path ? path : std::basic_string<Char>();
  std::size_t slash = p.find_last_of(static_cast<Char>('/'));
  std::size_t back = p.find_last_of(static_cast<Char>('\\'));
  std::size_t cut = std::wstring::npos;
  if (slash != std::wstring::npos) cut = slash;
  if (back != std::wstring::npos && (cut == std::wstring::npos || back > cut)) cut = back;
  return cut == std::wstring::npos ? p : p.substr(cut + 1);
}

std::string FormatNarrow(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) throw std::runtime_error("format");
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::wstring FormatWide(const wchar_t* format, va_list args) {
  // There is no portable length query for wide formatting: grow until it fits.
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vswprintf(buffer.data(), buffer.size(), format, copy);
    va_end(copy);
    if (length >= 0 && static_cast<std::size_t>(length) < buffer.size())
      return std::wstring(buffer.data(), static_cast<std::size_t>(length));
    if (buffer.size() >= (std::size_t{1} << 28)) throw std::runtime_error("format");
    buffer.resize(buffer.size() * 4);
  }
}

}  // namespace

bool CreateFullDirectory(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.size() >= 2 && path.back() == L'\\') path.pop_back();
  if (path.empty()) return false;
  if (zvlog::PathExists(path)) return true;
  std::wstring walk = path + L"\\";
  for (std::size_t i = 1; i < walk.size(); ++i) {
    if (walk[i] != L'\\') continue;
    std::wstring prefix = walk.substr(0, i);
    if (!zvlog::PathExists(prefix)) zvlog::MakeDirectory(prefix);
  }
  zvlog::MakeDirectory(path);
  return zvlog::PathExists(path);
}

static void InitLogLocked(const wchar_t* fileName, const wchar_t* folder) {
  LogState& state = State();
  if (state.root) return;
  std::wstring dir;
  if (folder && *folder) {
    dir = folder;
  } else {
    std::wstring exe = ModulePathWithBackslashes();
    std::size_t slash = exe.find_last_of(L'\\');
    dir = (slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash)) + L"\\Log";
  }
  CreateFullDirectory(dir);
  std::wstring name = (fileName && *fileName) ? std::wstring(fileName) : ModuleBaseName() + L".log";
  std::wstring full = dir + L"\\" + name;

  auto sink = std::make_shared<zvlog::RollingFileSink>(full, kMaxLogBytes);
  sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      kPattern, spdlog::pattern_time_type::local, kLineEnd));
  auto logger = std::make_shared<spdlog::logger>(zvlog::WideToLogText(ModuleBaseName()), sink);
  logger->set_level(spdlog::level::debug);
  state.sink = sink;
  state.root = logger;
}

void InitLog(const wchar_t* fileName, const wchar_t* folder) {
  std::lock_guard<std::mutex> guard(State().lock);
  InitLogLocked(fileName, folder);
}

std::wstring CurrentLogFilePath() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().sink ? State().sink->path() : std::wstring();
}

void OutputLog(int level, const std::string& message) {
  std::shared_ptr<spdlog::logger> root;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    if (!IsSetUp()) InitLogLocked(nullptr, nullptr);
    root = State().root;
  }
  if (message.empty() || !root) return;
  switch (level) {
    case kLog_Debug: root->debug("{}", message); break;
    case kLog_Info: root->info("{}", message); break;
    case kLog_Warn: root->warn("{}", message); break;
    case kLog_Error: root->error("{}", message); break;
    default: break;
  }
}

void WriteLogA(const char* function, const char* sourceFile, int line, int level,
               const char* format, ...) {
  if (!format || !*format) return;
  bool faulted = false;
  try {
    va_list args;
    va_start(args, format);
    std::string message;
    try {
      message = FormatNarrow(format, args);
    } catch (...) {
      va_end(args);
      throw;
    }
    va_end(args);
    OutputLog(level, message);
  } catch (...) {
    faulted = true;
  }
  if (faulted) {
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), ":%d][", line);
    OutputLog(level, "[" + FileNamePart(sourceFile) + prefix + (function ? function : "") + "] " +
                         kFaultMarker);
  }
}

void WriteLogW(const wchar_t* function, const wchar_t* sourceFile, int line, int level,
               const wchar_t* format, ...) {
  if (!format || !*format) return;
  bool faulted = false;
  try {
    va_list args;
    va_start(args, format);
    std::wstring message;
    try {
      message = FormatWide(format, args);
    } catch (...) {
      va_end(args);
      throw;
    }
    va_end(args);
    OutputLog(level, zvlog::WideToLogText(message));
  } catch (...) {
    faulted = true;
  }
  if (faulted) {
    std::wstring text = L"[" + FileNamePart(sourceFile) + L":" + std::to_wstring(line) + L"][" +
                        (function ? function : L"") + L"] " + ZV_WIDEN("***Fatal Error Check,Please Fix it!***");
    OutputLog(level, zvlog::WideToLogText(text));
  }
}
