// The host clock: jobs and VM transitions move on when something observes them (a query result or
// GetObject that includes the job or the VM), or after a wall-clock duration, checked at the same
// moments. Nothing runs in the background, so a host without running work never pays for it.
#include "host_state.hpp"

#include <algorithm>
#include <cstdio>

namespace simhost::provider::detail {
namespace {

using cim::InstanceId;
using cim::Value;

// DMTF interval text, "ddddddddhhmmss.mmmmmm:000".
std::wstring interval(std::uint64_t seconds) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%08llu%02u%02u%02u.000000:000", static_cast<unsigned long long>(seconds / 86400),
                static_cast<unsigned>(seconds / 3600 % 24), static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
  return buf;
}

bool ends_job(std::uint16_t state) {
  return state >= 7 && state <= 10;
}

std::uint64_t host_time(const Activity& a) {
  if (a.mode.milliseconds) {
    const auto since = std::chrono::steady_clock::now() - a.began;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }
  return a.ticks * 1000;
}

// Still running at this observation: a job of N ticks is seen running N times.
bool running(const Activity& a) {
  return a.mode.milliseconds ? host_time(a) < *a.mode.milliseconds : a.ticks <= a.mode.ticks;
}

}  // namespace

InstanceId HostState::create_job(std::wstring_view method, std::uint16_t state, const CompletionMode& mode) {
  return create(L"Msvm_ConcreteJob", {{L"InstanceID", Value::string(new_guid())},
                                      {L"Caption", Value::string(std::wstring(method))},
                                      {L"ElementName", Value::string(std::wstring(method))},
                                      {L"Description", Value::string(L"Running " + std::wstring(method))},
                                      {L"JobState", Value::uint16(state)},
                                      {L"JobStatus", Value::string(state == 2 ? L"Job is new" : L"Job is running")},
                                      {L"PercentComplete", Value::uint16(0)},
                                      {L"ErrorCode", Value::uint16(0)},
                                      {L"Cancellable", Value::boolean(false)},
                                      {L"DeleteOnCompletion", Value::boolean(false)},
                                      {L"TimeBeforeRemoval", Value::datetime(interval(mode.time_before_removal))}});
}

void HostState::begin(Activity activity) {
  activity.began = std::chrono::steady_clock::now();
  const auto serial = next_activity++;
  if (activity.job) {
    watched[activity.job] = serial;
  }
  if (const auto& t = activity.transition) {
    activity.vm_before = static_cast<std::uint16_t>(number(t->vm, L"EnabledState"));
    set(t->vm, L"EnabledState", Value::uint16(t->showing));
    set(t->vm, L"RequestedState", Value::uint16(t->requested));
    watched[t->vm] = serial;
  }
  activities.emplace(serial, std::move(activity));
}

bool HostState::observe(std::span<const InstanceId> ids) {
  if (watched.empty()) {
    return false;
  }
  std::vector<std::uint64_t> due;  // each activity once, however many of its objects were seen
  for (auto id : ids) {
    if (const auto it = watched.find(id);
        it != watched.end() && std::find(due.begin(), due.end(), it->second) == due.end()) {
      due.push_back(it->second);
    }
  }
  bool changed = false;
  for (auto serial : due) {
    auto& a = activities.at(serial);
    ++a.ticks;
    if (!a.ended && !running(a)) {
      changed = true;
      a.ended = true;
      a.ended_at = host_time(a);
      std::uint16_t state = a.mode.end_state;
      std::uint16_t code = a.mode.error_code;
      std::wstring description = a.mode.error_description;
      if (a.transition) {
        // The VM leaves its transitional state; the effect, if it runs, sets the final one.
        set(a.transition->vm, L"EnabledState", Value::uint16(a.vm_before));
        watched.erase(a.transition->vm);
      }
      if (state == 7) {
        // The effect runs now; something that changed since the call can still make it fail.
        if (const auto result = a.apply(); result != rv::ok) {
          state = 10;
          code = static_cast<std::uint16_t>(result);
          description = L"The operation could not be completed in the present state of the system.";
        } else {
          code = 0;
          description.clear();
        }
      } else if (description.empty()) {
        description = L"The operation failed.";
      }
      if (a.job && !ends_job(state)) {
        // A job told to stay new, suspended, ... never ends; the VM it holds keeps showing the change.
        set(a.job, L"JobState", Value::uint16(state));
        if (a.transition) {
          set(a.transition->vm, L"EnabledState", Value::uint16(a.transition->showing));
        }
        watched.erase(a.job);
        activities.erase(serial);
        continue;
      }
      if (a.job) {
        set(a.job, L"JobState", Value::uint16(state));
        set(a.job, L"ErrorCode", Value::uint16(code));
        set(a.job, L"PercentComplete", Value::uint16(100));
        set(a.job, L"JobStatus", Value::string(state == 7 ? L"Job completed successfully" : L"Job failed"));
        if (state != 7) {
          set(a.job, L"ErrorDescription", Value::string(description));
        }
      } else {
        activities.erase(serial);
      }
      continue;
    }
    if (a.ended && host_time(a) - a.ended_at > std::uint64_t{a.mode.time_before_removal} * 1000) {
      changed = true;
      repo.remove(a.job, cim::Cascade::associations);
      watched.erase(a.job);
      activities.erase(serial);
    }
  }
  return changed;
}

}  // namespace simhost::provider::detail
