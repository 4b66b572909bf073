// The one owner of the process-wide WMI connection (g_pLocator, g_pServices): every open,
// release and close of it goes through here, and here the frame learns what a worker left.
#pragma once

#include <utility>

namespace hvc {

// How a worker leaves the connection when it ends, once its own objects are released (nothing
// may be released after COM has gone).
enum class Leave {
  open,        // as it is; the frame closes it
  references,  // both references released in place; the frame balances COM
  closed,      // the full close, COM uninitialised
};

// What a worker's steps end with: their value and how the connection is left.
template <class T>
struct Ending {
  T value;
  Leave leave = Leave::open;
};

class Connection {
 public:
  // OpenWMIReferences: replaces any open connection with a new one; 0, or -1 after the failing
  // step's line.
  static int Open();
  // closeWMIReferences: releases both references, uninitialises COM, nulls both.
  static void Close();
  // Releases both references in place and nulls them; COM stays.
  static void ReleaseReferences();
  static void LeaveAs(Leave how);
  // The frame's close: releases what is left and balances the open's COM initialisation, unless
  // a close during the call already did.
  static void EndFrame();
};

// Runs a worker's steps, whose own objects are released when they return, then leaves the
// connection as they say and hands back their value.
template <class Steps>
auto EndWorker(Steps steps) {
  auto ending = steps();
  Connection::LeaveAs(ending.leave);
  return std::move(ending.value);
}

}  // namespace hvc
