// The call frame of every public operation that does work: open the WMI connection, run one
// worker, close the connection. COM is uninitialised exactly once per call, even when a worker
// closed the connection early.
#pragma once

#include <cstdlib>
#include <cstring>
#include <exception>

#include "core/connection.h"

namespace hvc {

// The line written when the connection cannot be opened.
void ReportOpenFailure();

// Runs `close` when the scope is left by a return. A _com_error passes through untouched: the
// caller that catches it finds the connection, COM and the list as the failing step left them,
// and can still close them with CloseWMINamespace.
template <class Close>
class OnReturn {
 public:
  explicit OnReturn(Close close) : close_(close) {}
  OnReturn(const OnReturn&) = delete;
  OnReturn& operator=(const OnReturn&) = delete;
  ~OnReturn() {
    if (std::uncaught_exceptions() == unwinding_)
      close_();
  }

 private:
  Close close_;
  int unwinding_ = std::uncaught_exceptions();
};

// SetVMState, CreateVSwitch, DeleteVSwitch, AddVirtNetToVirtMachine, RemoveVirtNetFromVirtMachine.
template <class Open, class Work>
int ActingFrame(Open open, Work work) {
  const OnReturn frame([] { Connection::EndFrame(); });
  if (open() == -1) {
    ReportOpenFailure();
    return 1;
  }
  return work() == 0 ? 0 : 1;
}

// GetExternalPorts, GetVirtualMachines, GetVirtualSwitches, GetAdapters: the worker fills `list`
// and the count; on success the records are copied into `buffer` and their size into `*size`.
// The connection is closed before the list is freed.
template <class Record, class Open, class Work>
int EnumeratingFrame(Open open, Work work, Record*& list, void* buffer, unsigned long* size) {
  const OnReturn discard([&list] {
    std::free(list);
    list = nullptr;
  });
  const OnReturn frame([] { Connection::EndFrame(); });
  if (open() == -1) {
    ReportOpenFailure();
    return 1;
  }
  int count = 0;
  if (work(&count) != 0)
    return 1;
  const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(Record);
  if (bytes > 0)
    std::memcpy(buffer, list, bytes);
  *size = static_cast<unsigned long>(bytes);
  return 0;
}

}  // namespace hvc
