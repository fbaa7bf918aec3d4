#include "common/GA.h"

#include <mutex>
#include <new>

#include "common/ClientIdStore.h"
#include "common/JsonStruct.h"
#include "http/HttpBase.h"
#include "log/Log.h"
#include "system/Strings.h"

CGA::CGA() : m_strClientId(WideToUtf8(GetClientId())) {}

CGA* CGA::GetInstance() {
  static CGA* instance = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { instance = new (std::nothrow) CGA(); });
  return instance;
}

std::wstring CGA::GetClientId() { return ReadOrCreateClientId(kClientIdKey); }

bool CGA::SendGACommon(const std::string& eventName) {
  return SendEvent({eventName, WideToUtf8(m_strTitle), m_strClientId});
}

bool CGA::SendFailed(const InstallFailureInfo& failure) {
  return SendEvent(FailureEvent(failure, WideToUtf8(m_strTitle), m_strClientId));
}

bool CGA::SendEvent(const GAEventInfo& event) {
  LOGA(kLog_Info, "tran code guid:%s", m_strClientId.c_str());
  DownloaderGAInfo info;
  info.clientId = m_strClientId;
  info.userValue = m_strClientId;
  info.events.push_back(event);
  JsonAllocator allocator(1024);
  rapidjson::Document document(&allocator);
  CDownloaderGAJSONStruct converter(document.GetAllocator(), &info);
  std::string body = ToJsonString(converter, document);

  IHttpBase* base = nullptr;
  if (!CreateHttpInstance(&base, kHttpTransport_WinHttp)) return false;
  IWinHttp* client = static_cast<IWinHttp*>(base);
  // The wide address goes to the client as it is: no detour through a code page.
  client->RequestW(m_strUrl.c_str(), 1, body.c_str(), L"Content-Type: application/json; charset=utf-8");
  int code = client->GetHttpCode();
  std::string url = WideToUtf8(m_strUrl);
  LOGA(kLog_Info, "request url: %s", url.c_str());
  LOGA(kLog_Info, "request info: %s", body.c_str());
  LOGA(kLog_Info, "request ret Code: %d", code);
  if (client->GetErrorCode() != kHttpErr_None)
    LOGA(kLog_Info, "request failed with client error %d", static_cast<int>(client->GetErrorCode()));
  client->FreeInstance();
  return true;
}
