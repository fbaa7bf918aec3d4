// The install's proxy answer in the form the download engine takes, and the
// engine's proxy refusals handed back to the install.
#pragma once

#include <system_error>

#include "engine/proxy.h"
#include "tool/ProxyChoice.h"

// The engine's settings for a road: an HTTP proxy with its Basic credentials,
// SOCKS 5 (with user name and password when given) or SOCKS 4a; none for direct.
engine::proxy_settings ToEngineProxy(const ProxyChoice& choice);

// The engine proxy for url under the running install's answer; none while
// no install has begun.
engine::proxy_settings InstallEngineProxy(const std::wstring& url);

// A 407 through proxy (or a SOCKS authentication failure) is noted with the
// install, so that the user is told which proxy refused.
void NoteEngineProxyError(const std::error_code& error, const engine::proxy_settings& proxy);
