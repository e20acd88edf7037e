#include <algorithm>

#include "common/uuid.h"
#include "computer-use/accessibility/ax_core.h"

namespace AXCore {

StateTables& tables() {
  // Never destroyed: a service worker may still be answering at exit.
  static auto* tables = new StateTables();
  return *tables;
}

void storeState(const std::string& stateId, AXMap axMap, StateMeta meta) {
  StateTables& t = tables();
  // Released outside the lock: the last reference to an element may be
  // dropped here, and a backend's release need not wait for other requests.
  std::vector<AXMap> evicted;
  {
    std::lock_guard<std::mutex> guard(t.lock);
    t.maps[stateId] = std::move(axMap);
    t.meta[stateId] = std::move(meta);
    std::erase(t.age, stateId);
    t.age.push_back(stateId);
    while (t.age.size() > kMaxStates) {
      const std::string& oldest = t.age.front();
      evicted.push_back(std::move(t.maps[oldest]));
      t.maps.erase(oldest);
      t.meta.erase(oldest);
      t.age.erase(t.age.begin());
    }
  }
}

std::string newStateId() { return "S-" + vorn::newUuid().substr(0, 8); }

}  // namespace AXCore
