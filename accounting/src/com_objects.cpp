// COM objects that report themselves. The simulated host links only this, so that a product
// built with it installs none of the tests' spies.
#include "com_objects.h"

#include <atomic>

#include "winapi/accounting.h"

namespace winapi {

namespace {
std::atomic<long> g_comObjects{0};
}  // namespace

void ComObjectCreated() {
  ++g_comObjects;
}
void ComObjectDestroyed() {
  --g_comObjects;
}
long LiveComObjects() {
  return g_comObjects.load();
}

}  // namespace winapi
