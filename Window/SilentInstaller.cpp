#include "Window/SilentInstaller.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <openssl/x509_vfy.h>

#include <memory>
#include <vector>

#include "Window/InstallLogic.h"
#include "system/Authenticode.h"
#include "system/FileDigest.h"
#include "system/Strings.h"
#include "system/SystemRoots.h"

bool RunSilentInstaller(const std::wstring& exePath, const std::wstring& installDir,
                        const std::wstring& progressFile, DWORD* exitCode) {
  std::wstring commandLine = BuildSilentCommandLine(installDir, progressFile);
  if (commandLine.empty()) return false;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exePath.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process))
    return false;
  ResumeThread(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (exitCode) *exitCode = code;
  return true;
}

namespace {

bool SignedBy(const std::wstring& path, const std::wstring& publisher, std::wstring& why) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  bool ok = false;
  if (status != ERROR_SUCCESS) {
    wchar_t code[16] = {};
    swprintf(code, 16, L"0x%08lx", static_cast<unsigned long>(status));
    why = L"the installer's signature is not valid (WinVerifyTrust " + std::wstring(code) + L")";
  } else if (CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData)) {
    CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    CRYPT_PROVIDER_CERT* cert = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (cert && cert->pCert) {
      wchar_t name[256] = {};
      CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
      ok = publisher == name;
      if (!ok) why = L"the installer is signed by another publisher";
    } else {
      why = L"the installer's signer is unknown";
    }
  } else {
    why = L"the installer's signature cannot be read";
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return ok;
}

// The same promise checked with OpenSSL against the system's roots, so that
// the image hash, chain and signer are judged by our own code as well.
bool SignedByOpenSsl(const std::wstring& path, const std::wstring& publisher, std::wstring& why) {
  std::unique_ptr<X509_STORE, void (*)(X509_STORE*)> roots(X509_STORE_new(), &X509_STORE_free);
  if (!roots || AddSystemRootCertificates(roots.get()) <= 0) {
    why = L"the installer's signature cannot be checked: no system roots";
    return false;
  }
  AuthenticodePolicy policy;
  policy.roots = roots.get();
  policy.publisher = WideToUtf8(publisher);
  std::string reason;
  if (VerifyAuthenticodeFile(path, policy, reason)) return true;
  why = L"the installer's signature is refused: " + Utf8ToWide(reason);
  return false;
}

}  // namespace

bool VerifyDownloadedInstaller(const std::wstring& exePath, int64_t expectedSize, const std::wstring& sha256Pin,
                               const std::wstring& publisher, std::wstring& why) {
  HANDLE file = CreateFileW(exePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    why = L"the downloaded installer is missing";
    return false;
  }
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  std::string head(kPeHeadBytes, '\0');
  DWORD got = 0;
  ReadFile(file, &head[0], static_cast<DWORD>(head.size()), &got, nullptr);
  CloseHandle(file);
  head.resize(got);
  if (size.QuadPart <= 0 || (expectedSize > 0 && size.QuadPart != expectedSize)) {
    why = L"the downloaded installer does not have the announced size";
    return false;
  }
  if (!HasPeHeader(head)) {
    why = L"the downloaded file is not a Windows program";
    return false;
  }
  std::string pinWhy;
  if (!MatchesSha256Pin(exePath, sha256Pin, pinWhy)) {
    why = L"the downloaded installer fails its pin: " + Utf8ToWide(pinWhy);
    return false;
  }
  return publisher.empty() || (SignedByOpenSsl(exePath, publisher, why) && SignedBy(exePath, publisher, why));
}
