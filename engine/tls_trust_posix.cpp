#include "engine/tls_trust.h"

#include "log/Log.h"

namespace engine {

void add_platform_roots(asio::ssl::context& context) {
  std::error_code ec;
  context.set_default_verify_paths(ec);
  if (ec) LOGA(kLog_Info, "engine: default certificate paths unavailable: %s", ec.message().c_str());
}

}  // namespace engine
