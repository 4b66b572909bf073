#!/usr/bin/env bash
# Checks that hypervconfig.dll exports every member of HypervConfig with its exact signature, and
# nothing else: the class is its only interface.
# Usage: scripts/check-exports.sh path/to/hypervconfig.dll
set -euo pipefail
dll=${1:?usage: $0 hypervconfig.dll}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '{print $NF}')

expected=(
  _ZN12HypervConfigC1Ev
  _ZN12HypervConfigD1Ev
  _ZN12HypervConfigaSERKS_
  _ZN12HypervConfig9GetErrStrEi
  _ZN12HypervConfig16OpenWMINamespaceEv
  _ZN12HypervConfig17CloseWMINamespaceEv
  _ZN12HypervConfig16GetExternalPortsEPvPm
  _ZN12HypervConfig18GetVirtualMachinesEPvPm
  _ZN12HypervConfig25GetVirtualNetworkAdaptersEPcP9vMachines
  _ZN12HypervConfig18GetVirtualSwitchesEPvPm
  _ZN12HypervConfig11GetAdaptersEPvPmPc
  _ZN12HypervConfig13CreateVSwitchEPcS0_i
  _ZN12HypervConfig13DeleteVSwitchEPc
  _ZN12HypervConfig10SetVMStateEPci
  _ZN12HypervConfig23AddVirtNetToVirtMachineEPcS0_S0_
  _ZN12HypervConfig28RemoveVirtNetFromVirtMachineEPcS0_S0_
  _ZN12HypervConfig17OpenWMIReferencesEv
  _ZN12HypervConfig18closeWMIReferencesEv
  _ZN12HypervConfig10StrToLowerEPcS0_
  _ZN12HypervConfig12GetJobStatusEPvi
  _ZN12HypervConfig14GetAllExtPortsEPi
  _ZN12HypervConfig9GetAllVMSEP9vMachinesPi
  _ZN12HypervConfig19GetVSwitchListForVMEi
  _ZN12HypervConfig15GetAllVswitchesEP8vNetworkPi
  _ZN12HypervConfig21GetAssociatedAdaptersEPiPc
  _ZN12HypervConfig17CreateVirtNetworkEPcS0_i
  _ZN12HypervConfig17DeleteVirtNetworkEPc
  _ZN12HypervConfig19RemovePrivateSwitchEPc
  _ZN12HypervConfig13VMStateChangeEPci
  _ZN12HypervConfig17InitiateShutdownAEPcP20IEnumWbemClassObjectPP16IWbemClassObject
  _ZN12HypervConfig20GetSwitchPortDetailsEP16IWbemClassObjectPS1_P10tagVARIANT
  _ZN12HypervConfig23DeleteVirtualSwitchPortEP16IWbemClassObjectP10tagVARIANT
  _ZN12HypervConfig23CreateVirtualSwitchPortEP10tagVARIANTPc
  _ZN12HypervConfig36SetVNetAdapterToSwitchPortConnectionEPcP10tagVARIANTP16IWbemClassObjectS2_
  _ZN12HypervConfig35AttachSwitchPortToVirtualNetAdapterEPcP10tagVARIANTP16IWbemClassObjectS2_
  _ZN12HypervConfig37DetachSwitchPortFromVirtualNetAdapterEP10tagVARIANTP16IWbemClassObjectS1_
  _ZN12HypervConfig10PlugUnplugEPcS0_S0_h
  _ZN12HypervConfig12AttachVNTOVMEPcS0_S0_
  _ZN12HypervConfig14DetachVNFromVMEPcS0_S0_
  _ZN12HypervConfig16GetSyntheticPortEP20IEnumWbemClassObjectPc
  _ZN12HypervConfig16RemoveVNicFromVMEP16IWbemClassObjectR10tagVARIANTS3_Pc
  _ZN12HypervConfig20CreateNetworkAdapterE10tagVARIANTPci
)

# g++ emits the base-object constructor and destructor beside the complete-object ones; they are
# the same members.
also=(_ZN12HypervConfigC2Ev _ZN12HypervConfigD2Ev)

missing=0
for symbol in "${expected[@]}"; do
  if ! grep -qx -- "$symbol" <<<"$exports"; then
    echo "missing export: $symbol"
    missing=$((missing + 1))
  fi
done
extra=0
while read -r symbol; do
  [ -n "$symbol" ] || continue
  if ! printf '%s\n' "${expected[@]}" "${also[@]}" | grep -qx -- "$symbol"; then
    echo "extra export: $symbol"
    extra=$((extra + 1))
  fi
done < <(grep -E '^_|^[A-Za-z]' <<<"$exports" | grep -v '^Table$')
if [ "$missing" -ne 0 ] || [ "$extra" -ne 0 ]; then
  echo "$dll lacks $missing of ${#expected[@]} members and exports $extra more"
  exit 1
fi
echo "$dll exports all ${#expected[@]} members of HypervConfig and nothing else"
