#include "tools/demo/InstallerCommandLine.h"

namespace zvdemo {
namespace {

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Checks an absolute Windows path and gives it with backslashes only.
bool NormalisePath(std::wstring path, std::wstring& out, std::wstring& error) {
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  if (path.size() > 32000) {
    error = L"path too long";
    return false;
  }
  bool drive = path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
  bool unc = path.size() >= 5 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
  if (!drive && !unc) {
    error = L"not an absolute path: " + path;
    return false;
  }
  for (size_t i = 0; i < path.size(); ++i) {
    wchar_t c = path[i];
    if (c < 32 || c == L'<' || c == L'>' || c == L'|' || c == L'?' || c == L'*' || c == L'"' ||
        (c == L':' && !(drive && i == 1))) {
      error = L"character not allowed in path: " + path;
      return false;
    }
  }
  // No segment may climb out of the folder it names.
  size_t start = drive ? 3 : 2;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring segment = path.substr(start, end - start);
    if (segment == L"..") {
      error = L"\"..\" in path: " + path;
      return false;
    }
    start = end + 1;
  }
  out = path;
  return true;
}

}  // namespace

bool EqualsNoCase(const std::wstring& name, const std::wstring& expected) {
  if (name.size() != expected.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (LowerAscii(name[i]) != LowerAscii(expected[i])) return false;
  return true;
}

bool SplitCommandLine(const std::wstring& line, std::vector<std::wstring>& tokens) {
  tokens.clear();
  std::wstring current;
  bool inToken = false;
  bool quoted = false;
  for (wchar_t c : line) {
    if (c == L'"') {
      quoted = !quoted;
      inToken = true;  // "" is an empty token
    } else if (!quoted && (c == L' ' || c == L'\t')) {
      if (inToken) tokens.push_back(current);
      current.clear();
      inToken = false;
    } else {
      current += c;
      inToken = true;
    }
  }
  if (quoted) return false;
  if (inToken) tokens.push_back(current);
  return true;
}

bool ParseInstallerCommandLine(const std::wstring& line, InstallerArgs& args, std::wstring& error) {
  std::vector<std::wstring> tokens;
  if (!SplitCommandLine(line, tokens)) {
    error = L"unterminated quote";
    return false;
  }
  size_t first = 0;
  if (!tokens.empty() && (tokens[0].empty() || tokens[0][0] != L'/')) first = 1;  // program name

  static const wchar_t* const kFlags[] = {L"/verysilent", L"/zelvane_down", L"/wait_run"};
  bool seenFlag[3] = {false, false, false};
  bool seenPath = false, seenProgress = false;
  std::wstring path, progress;
  for (size_t i = first; i < tokens.size(); ++i) {
    const std::wstring& t = tokens[i];
    bool known = false;
    for (int f = 0; f < 3; ++f) {
      if (EqualsNoCase(t, kFlags[f])) {
        if (seenFlag[f]) {
          error = L"switch given twice: " + t;
          return false;
        }
        seenFlag[f] = known = true;
      }
    }
    if (known) continue;
    if (StartsWithNoCase(t, L"/path=")) {
      if (seenPath) {
        error = L"switch given twice: /path=";
        return false;
      }
      seenPath = true;
      path = t.substr(6);
    } else if (StartsWithNoCase(t, L"/progress=")) {
      if (seenProgress) {
        error = L"switch given twice: /progress=";
        return false;
      }
      seenProgress = true;
      progress = t.substr(10);
    } else {
      error = L"unknown argument: " + t;
      return false;
    }
  }
  for (int f = 0; f < 3; ++f) {
    if (!seenFlag[f]) {
      error = std::wstring(L"missing switch ") + kFlags[f];
      return false;
    }
  }
  if (!seenPath || !seenProgress) {
    error = seenPath ? L"missing switch /progress=" : L"missing switch /path=";
    return false;
  }

  InstallerArgs parsed;
  if (!NormalisePath(path, parsed.installDir, error)) return false;
  while (parsed.installDir.size() > 3 && parsed.installDir.back() == L'\\' &&
         parsed.installDir[parsed.installDir.size() - 2] == L'\\')
    parsed.installDir.pop_back();
  if (parsed.installDir.back() != L'\\') parsed.installDir += L'\\';
  if (!NormalisePath(progress, parsed.progressFile, error)) return false;
  if (parsed.progressFile.back() == L'\\') {
    error = L"progress file names a folder: " + parsed.progressFile;
    return false;
  }
  args = parsed;
  return true;
}

std::wstring BuildCopyCommandLine(const std::wstring& copyPath, const InstallerArgs& args) {
  return L"\"" + copyPath + L"\" /verysilent /zelvane_down /wait_run /path=\"" + args.installDir +
         L"\" /progress=\"" + args.progressFile + L"\"";
}

std::wstring ProductFolder(const std::wstring& installDir, const std::wstring& dir1,
                           const std::wstring& dir2) {
  std::wstring folder = installDir;
  if (!dir1.empty()) folder += dir1 + L"\\";
  if (!dir2.empty()) folder += dir2 + L"\\";
  return folder;
}

}  // namespace zvdemo
