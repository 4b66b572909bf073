// Puts a simulated host in front of COM for this process: while an Installation lives,
// CoCreateInstance of the WMI locator, context and object text source classes gives the
// simulated ones, exactly as a program on a Hyper-V host would get the real ones.
#pragma once

#include <windows.h>

#include <memory>

#include "simhost/provider/host.hpp"

namespace simhost::com {

class Installation {
 public:
  // Initialises COM on the calling thread (multithreaded apartment) for the installation's
  // lifetime and registers the three class objects. Throws std::runtime_error naming the
  // HRESULT when a registration fails.
  explicit Installation(std::shared_ptr<provider::Host> host);
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;
  // Revokes the registrations and balances the COM initialisation.
  ~Installation();

  provider::Host& host() const noexcept { return *host_; }
  const std::shared_ptr<provider::Host>& shared_host() const noexcept { return host_; }

 private:
  void revoke() noexcept;

  std::shared_ptr<provider::Host> host_;
  DWORD cookies_[3] = {0, 0, 0};
  bool uninitialise_ = false;
};

}  // namespace simhost::com
