#include "Window/TaskbarProgress.h"

#include <objbase.h>
#include <shobjidl.h>

CTaskbarProgress::CTaskbarProgress() {
  CoInitialize(nullptr);
  CreateObject(CLSCTX_INPROC_SERVER);
}

CTaskbarProgress::~CTaskbarProgress() {
  if (m_pTaskbar) m_pTaskbar->Release();
}

bool CTaskbarProgress::CreateObject(DWORD context) {
  void* object = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, context, IID_ITaskbarList3, &object)) ||
      !object)
    return false;
  m_pTaskbar = static_cast<ITaskbarList3*>(object);
  if (FAILED(m_pTaskbar->HrInit())) {
    m_pTaskbar->Release();
    m_pTaskbar = nullptr;
    return false;
  }
  return true;
}

void CTaskbarProgress::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  if (!m_pTaskbar) CreateObject(CLSCTX_ALL);
  SetState(kIndeterminate);
}

void CTaskbarProgress::SetState(int flags) {
  if (m_pTaskbar && m_hWnd) m_pTaskbar->SetProgressState(m_hWnd, static_cast<TBPFLAG>(flags));
}

void CTaskbarProgress::SetValue(ULONGLONG done, ULONGLONG total) {
  if (m_pTaskbar && m_hWnd) m_pTaskbar->SetProgressValue(m_hWnd, done, total);
}
