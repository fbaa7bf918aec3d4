// The system's proxy setting, found the way Windows programs find it, and the
// WinHTTP side of the install's one proxy answer.
#pragma once

#include <string>

#include "ProxyChoice.h"

// The proxy setting for url: the user's Internet Settings (automatic
// detection and the auto-config address through WinHttpGetProxyForUrl, then
// the manual proxy list and bypass list), else the machine's WinHTTP
// default, else none. A PAC or WPAD answer is a proxy list for url itself.
ProxyConfig FindSystemProxy(const std::wstring& url);

// Starts a new install whose every request takes the road the system's
// setting gives for the download address (found on the first request).
void BeginInstallProxy(const std::wstring& downloadUrl);

// A WinHTTP session for requests to url on the install's road: the chosen
// HTTP proxy, or direct (also for a SOCKS road, which WinHTTP cannot take).
// Before any install has begun, the machine's WinHTTP default. `flags` go to
// WinHttpOpen. Null on failure, with the thread's last error set.
void* OpenInstallSession(const wchar_t* agent, const std::wstring& url, unsigned long flags = 0);
// Gives a request of such a session the proxy's Basic credentials, when the
// install's setting carries them.
void ApplyInstallProxyCredentials(void* request, const std::wstring& url);
// A 407 answer to a request for url is noted with the install.
void NoteInstallProxyStatus(int status, const std::wstring& url);
