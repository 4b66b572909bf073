#include "com_object.hpp"

#include "simhost/provider/call_observer.hpp"

namespace simhost::com {

std::optional<HRESULT> forced_by_rule(provider::CallObserver& observer, provider::Call call,
                                      std::wstring_view subject) {
  const std::optional<provider::Fault> fault = observer.fault(call, subject);
  if (!fault)
    return std::nullopt;
  // A failing call on a real host leaves its own error behind; tests choose which.
  if (fault->last_error)
    SetLastError(*fault->last_error);
  return static_cast<HRESULT>(fault->hresult);
}

}  // namespace simhost::com
