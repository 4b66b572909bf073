// How the call frame learns what happened to COM during one framed call.
#pragma once

namespace hvc {

// Whether the last open initialised COM on this thread (so that the frame may balance it), and
// whether a close during the current call has already uninitialised it.
struct ConnectionState {
  bool comInitialised = false;
  bool comUninitialised = false;
};

ConnectionState& CurrentConnection();

}  // namespace hvc
