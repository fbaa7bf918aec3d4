// Wine tests of HTTPS: the prefix trusts the peers' test CA. The prefix hook
// imports it; tests call this too so that they also run in a prefix made
// before the hook existed (the import is idempotent).
#pragma once

namespace zvtest {
void TrustTestCaInPrefix();
}
