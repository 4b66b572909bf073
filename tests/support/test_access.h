// The test suites' one way to the private members of HypervConfig.
#pragma once

#include "hypervconfig.h"

class HypervConfigTestAccess {
 public:
  static void StrToLower(HypervConfig& config, char* source, char* destination) {
    config.StrToLower(source, destination);
  }
  static const unsigned char* Bytes(const HypervConfig& config) {
    return reinterpret_cast<const unsigned char*>(&config);
  }
};
