// TLS client contexts that verify the server: peer verification on, trust
// from the platform (default OpenSSL paths on Linux, the system ROOT store on
// Windows) plus an optional extra CA file (tests trust their own CA this way).
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <memory>
#include <string>
#include <system_error>

namespace engine {

// One shared context per extra CA file, built on first use. Failure to read
// an extra CA file that was asked for is an error; a platform store that
// cannot be read only leaves fewer roots trusted.
std::shared_ptr<asio::ssl::context> client_tls_context(const std::string& extra_ca_file, std::error_code& ec);

// Adds the platform's trusted roots to a context (implemented per platform).
void add_platform_roots(asio::ssl::context& context);

// Arms host-name checking and SNI on one connection's SSL object.
bool prepare_tls_connection(SSL* ssl, const std::string& host, bool is_ip_literal);

}  // namespace engine
