// Process entry: environment set-up, the single running instance, the main
// window run modally. Exit codes: 0 closed, -1 another instance runs,
// 1 the skin cannot be loaded (the window base ends the process).
#include <windows.h>

#include <memory>

#include "Window/InstanceGuard.h"
#include "Window/SetupFrameWnd.h"
#include "system/SystemUtils.h"
#include "ui/archive/SkinResources.h"
#include "ui/win/UIManager.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  auto window = std::make_unique<CSetupFrameWnd>();
  window->InitEnvironment();

  const std::wstring title = window->GetLanguageManager().GetText(L"STR_MESSAGEBOX_TITLE");
  if (!AcquireInstanceMutex(InstanceName(GetModuleFilePath()))) {
    BringRunningInstanceToFront(window->GetWindowClassName(), title);
    return -1;
  }

  SkinUI::SetModuleInstance(instance);
  SkinUI::SetResourceFolder(GetModuleFolder());
  constexpr DWORD kStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS |
                           WS_CLIPCHILDREN;  // 0x96C80000
  if (!window->Create(nullptr, title, kStyle, 0)) return 1;
  window->CenterWindow();
  window->ShowModal();
  return 0;
}
