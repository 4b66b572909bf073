#include "platform/wql.h"

namespace hvc::wql {

std::string Quoted(const char* prefix, const char* value) {
  return std::string(prefix) + (value != nullptr ? value : "") + "'";
}

std::string AdaptersOfMachine(const char* machineName) {
  return std::string("SELECT * FROM Msvm_SyntheticEthernetPortSettingData where InstanceID like 'Microsoft:") +
         (machineName != nullptr ? machineName : "") + "%'";
}

std::string DefaultAdapterSettings() {
  return std::string("select * from ") + " Msvm_SyntheticEthernetPortSettingData where InstanceID like " +
         "\"%Default%\"";
}

std::string AssociatorsOf(const char* path, const char* clause) {
  return std::string("ASSOCIATORS OF {") + (path != nullptr ? path : "") + "}" + clause;
}

std::string ReferencesOf(const char* path, const char* clause) {
  return std::string("REFERENCES OF {") + (path != nullptr ? path : "") + "}" + clause;
}

}  // namespace hvc::wql
