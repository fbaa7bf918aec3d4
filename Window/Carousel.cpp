// The banner carousel of the progress page: the image list from the product
// API, the images cached by MD5 in the language folder, rotation every four
// seconds and the dots that jump to an image.
#include <cwctype>

#include "Window/SetupFrameWnd.h"
#include "common/JsonStruct.h"
#include "log/Log.h"
#include "system/StdioFile.h"
#include "system/SystemUtils.h"
#include "tool/WinHttpRequest.h"

namespace {

constexpr int kBannerPeriodMs = 4000;
constexpr int kMaxDots = 20;

std::string GetBannerConfig(const std::wstring& url) {
  CWinHttpRequest request;
  request.SetMethod(L"GET");
  if (!request.OpenUrl(url)) return std::string();
  return request.ReadToString();
}

bool SameMd5(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<unsigned char>(a[i])) != std::towlower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool IsPngFile(const std::wstring& path) {
  StdioFile in = OpenStdioFile(path, "rb");
  char signature[8] = {};
  return in && std::fread(signature, 1, 8, in.get()) == 8 && std::string(signature, 8) == "\x89PNG\r\n\x1a\n";
}

std::wstring BannerFileName(int n) { return L"pr_" + std::to_wstring(n) + L".png"; }

}  // namespace

void CSetupFrameWnd::FetchBannerImages() {
  LOGW(kLog_Info, L"get image start.");
  std::string text = GetBannerConfig(m_langMgr.GetCarouselUrl());
  ApiResult result;
  std::vector<ImageInfo> images;
  if (!ParseApiResponse(text, result, images) || result.code != 1) {
    if (!text.empty()) LOGA(kLog_Info, "carousel answer refused (code %d)", result.code);
  } else {
    m_nBannerCount = static_cast<int>(images.size());
    std::wstring folder = LanguageImageFolder();
    if (!images.empty() && GetFileAttributesW(folder.c_str()) != FILE_ATTRIBUTE_DIRECTORY)
      CreateDirectoryW(folder.c_str(), nullptr);
    for (std::size_t i = 0; i < images.size(); ++i) {
      std::wstring path = folder + BannerFileName(static_cast<int>(i) + 1);
      const ImageInfo& image = images[i];
      if (IsFileExist(path)) {
        if (SameMd5(GetFileMd5(path), image.md5)) continue;
        DeleteFileW(path.c_str());
      }
      std::wstring url = AnsiToUnicode(image.url);
      CWinHttpRequest request;
      request.SetMethod(L"GET");
      bool saved = !url.empty() && request.OpenUrl(url) && request.ReadToFile(path);
      // Only the announced image is kept: a file with another MD5 or one that
      // is no PNG image never reaches the screen.
      if (saved && (!SameMd5(GetFileMd5(path), image.md5) || !IsPngFile(path))) {
        DeleteFileW(path.c_str());
        LOGW(kLog_Info, L"image refused (MD5 or format), url[%ls], filePath[%ls].", url.c_str(), path.c_str());
        continue;
      }
      if (!saved) LOGW(kLog_Info, L"download image failed, url[%ls], filePath[%ls].", url.c_str(), path.c_str());
    }
  }
  m_bBannerReady.exchange(true);
  LOGW(kLog_Info, L"get image finished.");
}

void CSetupFrameWnd::OnBannerReadyTimer() {
  if (!m_bBannerReady) return;
  KillTimer(m_hWnd, kTimer_BannerReady);
  SkinUI::CControlUI* dots = Find(L"buttonLayout");
  int count = m_nBannerCount;
  if (count > 1 && dots) {
    dots->SetVisible(true);
    for (int i = 0; i < kMaxDots; ++i) {
      std::wstring name = L"option_" + std::to_wstring(i);
      auto* dot = dynamic_cast<SkinUI::COptionUI*>(m_pm.FindSubControlByName(dots, name));
      if (!dot) break;
      dot->SetVisible(i < count);
      dot->AddCustomAttribute(L"imageIndex", std::to_wstring(i + 1));
    }
  }
  ShowNextBanner();
  SetTimer(m_hWnd, kTimer_NextBanner, kBannerPeriodMs, nullptr);
}

void CSetupFrameWnd::ShowNextBanner() {
  SkinUI::CControlUI* banner = Find(L"banner");
  if (!ShowBanner(m_nCurBanner + 1, banner)) ShowBanner(1, banner);
}

bool CSetupFrameWnd::ShowBanner(int n, SkinUI::CControlUI* banner) {
  if (!banner) return false;
  int count = m_nBannerCount;
  if (count != -1 && count < n) return false;
  std::wstring path = LanguageImageFolder() + BannerFileName(n);
  if (!IsFileExist(path)) return false;
  auto* dot = dynamic_cast<SkinUI::COptionUI*>(Find((L"option_" + std::to_wstring(n - 1)).c_str()));
  if (dot && dot->IsVisible()) dot->Selected(true, false);
  m_nCurBanner = n;
  banner->SetBkImage(path);
  return true;
}

void CSetupFrameWnd::OnBannerDotClick(SkinUI::CControlUI* dot) {
  int n = static_cast<int>(std::wcstol(dot->GetCustomAttribute(L"imageIndex").c_str(), nullptr, 10));
  if (n == m_nCurBanner) return;
  KillTimer(m_hWnd, kTimer_NextBanner);
  ShowBanner(n, Find(L"banner"));
  SetTimer(m_hWnd, kTimer_NextBanner, kBannerPeriodMs, nullptr);
}
