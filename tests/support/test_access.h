// The test suites' one way to the private members of HypervConfig:
//   HypervConfigTestAccess::Call(config, &HypervConfigTestAccess::GetJobStatus, out, 1)
#pragma once

#include <utility>

#include "hypervconfig.h"

class HypervConfigTestAccess {
 public:
  template <class Member, class... Args>
  static decltype(auto) Call(HypervConfig& config, Member member, Args&&... args) {
    return (config.*member)(std::forward<Args>(args)...);
  }
  static const unsigned char* Bytes(const HypervConfig& config) {
    return reinterpret_cast<const unsigned char*>(&config);
  }

  static constexpr auto OpenWMIReferences = &HypervConfig::OpenWMIReferences;
  static constexpr auto closeWMIReferences = &HypervConfig::closeWMIReferences;
  static constexpr auto StrToLower = &HypervConfig::StrToLower;
  static constexpr auto GetJobStatus = &HypervConfig::GetJobStatus;
  static constexpr auto CreateVirtNetwork = &HypervConfig::CreateVirtNetwork;
  static constexpr auto DeleteVirtNetwork = &HypervConfig::DeleteVirtNetwork;
  static constexpr auto RemovePrivateSwitch = &HypervConfig::RemovePrivateSwitch;
  static constexpr auto VMStateChange = &HypervConfig::VMStateChange;
  static constexpr auto InitiateShutdownA = &HypervConfig::InitiateShutdownA;
  static constexpr auto GetSwitchPortDetails = &HypervConfig::GetSwitchPortDetails;
  static constexpr auto CreateVirtualSwitchPort = &HypervConfig::CreateVirtualSwitchPort;
  static constexpr auto GetSyntheticPort = &HypervConfig::GetSyntheticPort;
  static constexpr auto RemoveVNicFromVM = &HypervConfig::RemoveVNicFromVM;
  static constexpr auto CreateNetworkAdapter = &HypervConfig::CreateNetworkAdapter;
};
