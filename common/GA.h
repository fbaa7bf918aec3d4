// The analytics sender: one process-wide object that reports the three
// moments of an installation, and a failure, as JSON events to the collection endpoint.
#pragma once

#include <string>

struct GAEventInfo;
struct InstallFailureInfo;

class CGA {
 public:
  // Created (and the client id read or made) on the first call.
  static CGA* GetInstance();

  void SetUrl(const std::wstring& url) { m_strUrl = url; }
  void SetTitle(const std::wstring& title) { m_strTitle = title; }

  bool SendStartInstall() { return SendGACommon("Downloader_Start_Install"); }
  bool SendInstalled() { return SendGACommon("Downloader_Installed"); }
  bool SendInstalledSucceed() { return SendGACommon("Installed_Succeed"); }
  // "Downloader_Failed": why an install ended without success.
  bool SendFailed(const InstallFailureInfo& failure);
  // Posts one event; true when a client could be made, whatever the server answered.
  bool SendGACommon(const std::string& eventName);

  std::wstring GetClientId();
  const std::string& ClientId() const { return m_strClientId; }

 private:
  CGA();
  bool SendEvent(const GAEventInfo& event);

  std::wstring m_strUrl;
  std::wstring m_strTitle;
  std::string m_strClientId;
};
