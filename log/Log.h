// Process-wide log facility: printf-style narrow and wide entry points that
// append time-stamped records to one rolling file.
#pragma once

#include <string>

enum LogLevel {
  kLog_Debug = 0,
  kLog_Info = 1,
  kLog_Warn = 2,
  kLog_Error = 3,
};

void WriteLogA(const char* function, const char* sourceFile, int line, int level,
               const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

// Wide formats: write wide string arguments as %ls, which means the same on
// every C runtime.
void WriteLogW(const wchar_t* function, const wchar_t* sourceFile, int line, int level,
               const wchar_t* format, ...);

// Sets the log up once; later calls change nothing. Null or empty arguments
// select the defaults: folder "Log" beside the executable, file named after
// the module with the extension ".log".
void InitLog(const wchar_t* fileName, const wchar_t* folder);

// Emits an already formatted narrow message at a level (0-3; others dropped).
void OutputLog(int level, const std::string& message);

// Creates a folder with all missing parents; true when it exists afterwards.
bool CreateFullDirectory(std::wstring path);

// Full path of the current log file, empty before set-up (for tests and tools).
std::wstring CurrentLogFilePath();

#define ZV_WIDEN2(x) L##x
#define ZV_WIDEN(x) ZV_WIDEN2(x)

#define LOGA(level, format, ...) \
  WriteLogA(__FUNCTION__, __FILE__, __LINE__, (level), (format), ##__VA_ARGS__)
// GCC's __FUNCTION__ is a variable, not a literal, so its wide form is made
// at run time.
inline std::wstring ZvWideFunctionName(const char* name) {
  std::wstring wide;
  for (; name && *name; ++name) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*name)));
  return wide;
}
#define LOGW(level, format, ...)                                                              \
  WriteLogW(ZvWideFunctionName(__FUNCTION__).c_str(), ZV_WIDEN(__FILE__), __LINE__, (level), \
            (format), ##__VA_ARGS__)
