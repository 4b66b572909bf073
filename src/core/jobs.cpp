// Waiting for an Msvm_ConcreteJob that a method started.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "hypervconfig.h"
#include "core/bstr.h"
#include "core/globals.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {
constexpr unsigned short kStarting = 3;
constexpr unsigned short kRunning = 4;
constexpr unsigned short kCompleted = 7;
constexpr const char* kLabel = "HypervConfig::GetJobStatus";
}  // namespace

int HypervConfig::GetJobStatus(void* outParams, int report) {
  auto* out = static_cast<IWbemClassObject*>(outParams);
  char jobPath[1024];
  hvc::GetText(out, L"Job", jobPath, sizeof jobPath);

  unsigned short state = 0;
  for (;;) {
    hvc::ComPtr<IEnumWbemClassObject> jobs;
    const HRESULT hr = hvc::ExecQuery(hvc::wql::kJobs, hvc::kImmediate, jobs);
    if (FAILED(hr)) {
      std::cout << "No Jobs Started";
      hvc::ReportHresult(" Error code = 0x", hr);
      return 1;
    }
    bool seen = false;
    hvc::ComPtr<IWbemClassObject> job;
    ULONG returned = 0;
    while (hvc::NextObject(jobs.Get(), job, returned), returned != 0 && job) {
      char instanceId[1024];
      hvc::GetText(job.Get(), L"InstanceId", instanceId, sizeof instanceId);
      if (std::strstr(jobPath, instanceId) == nullptr)
        continue;
      char description[1024];
      hvc::GetText(job.Get(), L"Description", description, sizeof description);
      const unsigned short errorCode = hvc::GetUint16(job.Get(), L"ErrorCode");
      std::cout << kLabel << ": ErrorCode " << errorCode << std::endl;
      std::printf("\n Instance ID %s-> Description %s", instanceId, description);
      state = hvc::GetUint16(job.Get(), L"JobState");
      std::cout << kLabel << ": Job state " << state << std::endl;
      hvc::LogMsg("Job state-%d Error Code - %d", static_cast<int>(state), static_cast<int>(errorCode));
      seen = true;
    }
    // A job that was under way and has left the list will not report again: stop waiting.
    if ((state != kStarting && state != kRunning) || !seen)
      break;
  }

  std::cout << kLabel << ": Job state " << state << std::endl;
  if (state == kCompleted)
    return 0;
  if (report != 0)
    hvc::LogMsg("State Change for failed with job state-%d", static_cast<int>(state));
  return 1;
}
