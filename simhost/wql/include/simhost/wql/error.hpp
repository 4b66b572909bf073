// Query failures, with the WMI status codes the COM facade returns for them.
#pragma once

#include "simhost/cim/expected.hpp"

#include <cstdint>
#include <string>

namespace simhost::wql {

// The numeric values are the HRESULTs WMI reports, so the facade can pass them through.
enum class ErrorCode : std::uint32_t {
  invalid_query = 0x80041017,    // WBEM_E_INVALID_QUERY: malformed or unimplemented syntax
  invalid_class = 0x80041010,    // WBEM_E_INVALID_CLASS: SELECT from a class the schema lacks
  not_found = 0x80041002,        // WBEM_E_NOT_FOUND: ASSOCIATORS/REFERENCES OF a path naming nothing
  quota_violation = 0x8004106C,  // WBEM_E_QUOTA_VIOLATION: a condition with too many operators
};

struct Error {
  ErrorCode code;
  std::wstring message;  // for logs and test failures; WMI itself gives no text
};

template <class T>
using Expected = cim::Expected<T, Error>;

}  // namespace simhost::wql
