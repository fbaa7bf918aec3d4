#include "engine/tls_trust.h"

#include "log/Log.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>

namespace engine {

std::shared_ptr<asio::ssl::context> client_tls_context(const std::string& extra_ca_file, std::error_code& ec) {
  static std::mutex lock;
  static std::map<std::string, std::shared_ptr<asio::ssl::context>> contexts;
  ec.clear();
  std::lock_guard<std::mutex> guard(lock);
  auto found = contexts.find(extra_ca_file);
  if (found != contexts.end()) return found->second;

  auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
  context->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_compression |
                       asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3);
  add_platform_roots(*context);
  if (!extra_ca_file.empty()) {
    context->load_verify_file(extra_ca_file, ec);
    if (ec) {
      LOGA(kLog_Info, "engine: CA file %s cannot be loaded: %s", extra_ca_file.c_str(), ec.message().c_str());
      return nullptr;
    }
  }
  context->set_verify_mode(asio::ssl::verify_peer | asio::ssl::verify_fail_if_no_peer_cert);
  contexts[extra_ca_file] = context;
  return context;
}

bool prepare_tls_connection(SSL* ssl, const std::string& host, bool is_ip_literal) {
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (is_ip_literal) return X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
  if (SSL_set_tlsext_host_name(ssl, host.c_str()) != 1) return false;
  return X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
}

}  // namespace engine
