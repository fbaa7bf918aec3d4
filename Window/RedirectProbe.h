// Asks an address once, without following redirects, where it redirects to.
#pragma once

#include <string>

// True with `target` set to the absolute http(s) address of a 302 answer.
// True with `target` unchanged when the server gave no answer at all (the
// caller then downloads from the address itself). False for any other answer,
// a failure before the request went out, or a Location that is not an
// absolute http(s) address. The probe uses the address's own scheme and
// port; TLS certificates are verified.
bool GetRedirectUrl(const std::wstring& url, std::wstring& target);
