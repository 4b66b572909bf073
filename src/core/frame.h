// The call frame of every public operation that does work: open the WMI connection, run one
// worker, close the connection. COM is uninitialised exactly once per call, even when a worker
// closed the connection early.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/connection.h"

namespace hvc {

// The line written when the connection cannot be opened.
void ReportOpenFailure();
// Releases whatever connection is left and balances the open's COM initialisation, unless a
// close during the call already did.
void CloseFrame();

// SetVMState, CreateVSwitch, DeleteVSwitch, AddVirtNetToVirtMachine, RemoveVirtNetFromVirtMachine.
template <class Open, class Work>
int ActingFrame(Open open, Work work) {
  if (open() == -1) {
    ReportOpenFailure();
    CloseFrame();
    return 1;
  }
  const int result = work();
  CloseFrame();
  return result == 0 ? 0 : 1;
}

// GetExternalPorts, GetVirtualMachines, GetVirtualSwitches, GetAdapters: the worker fills `list`
// and the count; on success the records are copied into `buffer` and their size into `*size`.
template <class Record, class Open, class Work>
int EnumeratingFrame(Open open, Work work, Record*& list, void* buffer, unsigned long* size) {
  int count = 0;
  auto discard = [&list] {
    std::free(list);
    list = nullptr;
  };
  if (open() == -1) {
    ReportOpenFailure();
    CloseFrame();
    discard();
    return 1;
  }
  if (work(&count) != 0) {
    CloseFrame();
    discard();
    return 1;
  }
  const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(Record);
  if (bytes > 0)
    std::memcpy(buffer, list, bytes);
  *size = static_cast<unsigned long>(bytes);
  CloseFrame();
  discard();
  return 0;
}

}  // namespace hvc
