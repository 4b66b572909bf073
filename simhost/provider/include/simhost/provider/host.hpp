// The simulated Hyper-V host behind the COM facade: the Msvm_* model in a CIM repository and the
// provider's methods and jobs, with the CallObserver that holds fault rules and the transcript
// beside it. Plain C++: the COM facade converts at its edge and asks these for everything.
#pragma once

#include "simhost/cim/repository.hpp"
#include "simhost/wql/evaluator.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simhost::provider {

class CallObserver;

// The calls a fault rule can target, as the facade sees them.
enum class Call : std::uint8_t {
  co_initialize,       // CoInitializeEx: accepted in host files, but no facade call reaches it (the
                       // platform's); a call from a single-threaded apartment makes it fail
  connect_server,      // subject: the namespace
  exec_query,          // subject: the query text
  next,                // subject: the text of the query whose enumerator is read
  get,                 // subject: the property name
  put,                 // subject: the property name
  get_object,          // subject: the class name or path
  get_method,          // subject: the method name
  spawn_instance,      // subject: the class or method name of the spawned object
  exec_method,         // subject: the method name
  get_text,            // subject: the class name of the rendered object
  co_create_instance,  // subject: the class made (WbemLocator, WbemContext, WbemObjectTextSrc)
};

// One entry of the transcript: what was called, on what, with which in-parameters (rendered as
// "Name=value" lines for ExecMethod), and the HRESULT handed back.
struct CallRecord {
  std::wstring call;     // "ExecQuery", "Next", "Get", "Put", "GetObject", "GetMethod", "ExecMethod", ...
  std::wstring subject;  // query text, path, property or method name
  std::wstring detail;   // in-parameters of ExecMethod, the value of Put, ...; may be empty
  std::int32_t result = 0;
};

// What ExecMethod hands back: either a failed call (an HRESULT below zero, no out-parameters) or
// out-parameters with ReturnValue (uint32) and, for a started job, Job (the job's path).
struct MethodResult {
  std::int32_t hresult = 0;
  cim::PropertyList out;
};

// What a fault rule forces on a call: its HRESULT and, when the rule names one, the Win32 error
// the failing call leaves as the thread's last error.
struct Fault {
  std::int32_t hresult = 0;
  std::optional<std::uint32_t> last_error;
};

// The order in which queries hand out their results. WMI leaves it unspecified; creation order is
// the default, and a reversed or seeded shuffled order shows whether a caller depends on it.
struct ResultOrder {
  enum class Kind : std::uint8_t { creation, reversed, shuffled };
  Kind kind = Kind::creation;
  std::uint64_t seed = 0;  // shuffled
  bool operator==(const ResultOrder&) const = default;
};

// A query's text and the result it gave, as the host keeps them. Callers repeat the same texts
// millions of times; the enumerators ExecQuery makes share one run rather than copy it. Kept on a
// cache line (cim::make_line_aligned): the counts, the text and what ExecQuery reads of the result
// then take two lines.
struct KeptRun {
  cim::CompactText text;
  wql::Result result;
};
using QueryRun = std::shared_ptr<const KeptRun>;

class Host {
 public:
  virtual ~Host() = default;

  virtual const cim::Repository& repository() const = 0;
  // The computer name that paths carry (\\<name>\root\virtualization:...).
  virtual const std::wstring& computer_name() const = 0;

  // A WQL query as ExecQuery runs it. A job or VM in its result counts as observed: what it is
  // doing moves one tick on, and the result shows the state after that tick.
  virtual wql::Expected<QueryRun> run_query(std::wstring_view text) = 0;
  // The same, with a result of the caller's own.
  wql::Expected<wql::Result> query(std::wstring_view text) {
    auto run = run_query(text);
    if (!run)
      return wql::Expected<wql::Result>::failure(run.error());
    return (*run)->result;
  }

  // GetObject of an instance's path observes it as a query would. False when the object is gone
  // afterwards (an ended job whose TimeBeforeRemoval has passed).
  virtual bool observe(cim::InstanceId id) = 0;

  // ExecMethod: `target` is an instance path, or a class name/path for a static method;
  // `in` holds the in-parameters that were Put, by name. Validates them against the method's
  // signature, applies the effect (or starts a job), and returns the out-parameters.
  virtual MethodResult invoke(std::wstring_view target, std::wstring_view method, const cim::PropertyList& in) = 0;

  virtual ResultOrder result_order() const { return {}; }

  // The fault rules and transcript of the calls made on this host.
  virtual CallObserver& observer() = 0;
};

}  // namespace simhost::provider
