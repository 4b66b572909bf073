#include "platform/wql.h"

#include <string_view>

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

namespace {
// "<verb> OF {<path>}<clause>", built in one allocation: the inventory builds one per switch port
// and machine.
std::string OfObject(std::string_view verb, const char* path, const char* clause) {
  const std::string_view object = path != nullptr ? path : "";
  const std::string_view tail = clause != nullptr ? clause : "";
  std::string text;
  text.reserve(verb.size() + object.size() + tail.size() + 1);
  text.append(verb).append(object).append("}").append(tail);
  return text;
}
}  // namespace

std::string AssociatorsOf(const char* path, const char* clause) {
  return OfObject("ASSOCIATORS OF {", path, clause);
}

std::string ReferencesOf(const char* path, const char* clause) {
  return OfObject("REFERENCES OF {", path, clause);
}

}  // namespace hvc::wql
