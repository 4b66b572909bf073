// What the enumerations share: growing a result list one zeroed record at a time, and walking
// the virtual machines into such a list.
#pragma once

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/bstr.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace hvc {

// Grows `list` to `count` + 1 records with realloc and zero-fills the new one. Null when the list
// cannot grow; `list` then still holds the records gathered so far.
template <class Record>
Record* GrowList(Record*& list, int count) {
  void* grown = std::realloc(list, static_cast<std::size_t>(count + 1) * sizeof(Record));
  if (grown == nullptr)
    return nullptr;
  list = static_cast<Record*>(grown);
  std::memset(&list[count], 0, sizeof(Record));
  return &list[count];
}

// One record per virtual machine, with its Name, ElementName, HealthState and EnabledState;
// `each(index, machine)` then runs while the enumeration is still open. Returns the worker's
// result: 1 when the query fails or hands out an empty object, 0 otherwise (also when the list
// cannot grow, then without storing a count).
template <class Record, class Each>
int ListMachines(Record*& list, int* count, Each each) {
  list = nullptr;
  int index = 0;

  ComPtr<IEnumWbemClassObject> machines;
  const HRESULT hr = ExecQuery(wql::kVirtualMachines, kForwardOnly, machines);
  if (FAILED(hr)) {
    ReportVmQueryFailure(hr);
    LogMsg("Unable to fetch VM's info");
    return 1;
  }
  for (;;) {
    ComPtr<IWbemClassObject> machine;
    ULONG returned = 0;
    NextObject(machines.Get(), machine, returned);
    if (returned == 0)
      break;
    if (!machine) {
      LogMsg("Unable to fetch VM's info");
      return 1;
    }
    Record* record = GrowList(list, index);
    if (record == nullptr)
      return 0;  // the frame then reports no records

    GetText(machine.Get(), L"Name", record->Name, sizeof record->Name);
    GetText(machine.Get(), L"ElementName", record->ElementName, sizeof record->ElementName);
    record->HealthState = GetUint16(machine.Get(), L"HealthState");
    record->EnabledState = GetUint16(machine.Get(), L"EnabledState");
    each(index, machine.Get());
    ++index;
  }
  *count = index;
  return 0;
}

}  // namespace hvc
