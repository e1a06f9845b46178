// SPDX-License-Identifier: GPL-3.0-or-later
// The hive reader on any bytes: it never crashes, and a hive it accepts comes back the same
// after being written out and read again (names, types and bytes of every value).
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/hive_registry.h"

namespace {

bool Same(const HiveRegistry::Hive& a, const HiveRegistry::Hive& b) {
  if (a.size() != b.size()) return false;
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
    if (ia->first != ib->first || ia->second.path != ib->second.path) return false;
    const auto& va = ia->second.values;
    const auto& vb = ib->second.values;
    if (va.size() != vb.size()) return false;
    for (auto ja = va.begin(), jb = vb.begin(); ja != va.end(); ++ja, ++jb) {
      if (ja->first != jb->first || ja->second.type != jb->second.type ||
          ja->second.data != jb->second.data) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"}) {
    HiveRegistry::Hive hive;
    if (!HiveRegistry::Parse(root, text, &hive)) continue;
    const std::string written = HiveRegistry::Format(root, hive);
    HiveRegistry::Hive again;
    FUZZ_CHECK(HiveRegistry::Parse(root, written, &again));
    FUZZ_CHECK(Same(hive, again));
    FUZZ_CHECK(HiveRegistry::Format(root, again) == written);
  }
  return 0;
}
