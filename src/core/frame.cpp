#include "core/frame.h"

#include "core/globals.h"

namespace hvc {

void ReportOpenFailure() {
  std::printf("\n8*****************************************Failure in oPenWMI References\n");
}

void CloseFrame() {
  if (g_pServices != nullptr)
    g_pServices->Release();
  if (g_pLocator != nullptr)
    g_pLocator->Release();
  g_pServices = nullptr;
  g_pLocator = nullptr;
  ConnectionState& state = CurrentConnection();
  // A failed CoInitializeEx initialised nothing, and the caller's COM is not ours to undo.
  if (state.comInitialised && !state.comUninitialised)
    CoUninitialize();
  state.comUninitialised = true;
}

}  // namespace hvc
