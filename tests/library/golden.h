// The record of one library call for comparing runs: with HVC_GOLDEN naming a file, every call the
// host fixture runs appends its test, result, standard output, log lines and the host's
// transcript of the call. `scripts/golden.sh` records the suites and compares two records.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "simhost/provider/simulated_host.hpp"

namespace hvctest {

// New GUIDs and object addresses differ from run to run: each distinct one is numbered in order
// of appearance within the record.
inline std::string Normalised(const std::string& text) {
  static const std::regex variable(
      "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}|OBJ (0x)?[0-9A-Fa-f]+");
  std::map<std::string, int> seen;
  std::string result;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), variable), end; it != end; ++it) {
    result.append(last, (*it)[0].first);
    std::string key = it->str();
    for (char& c : key)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto [slot, added] = seen.emplace(key, static_cast<int>(seen.size()) + 1);
    result += (key.rfind("OBJ ", 0) == 0 ? "OBJ <addr" : "<guid") + std::to_string(slot->second) + ">";
    last = (*it)[0].second;
  }
  result.append(last, text.cend());
  return result;
}

inline std::string Narrow(const std::wstring& text) {
  std::string result;
  for (const wchar_t c : text)
    result += c < 0x80 ? static_cast<char>(c) : '?';
  return result;
}

// Appends one call's record when HVC_GOLDEN is set.
template <class Outcome>
void RecordGolden(const Outcome& outcome, const std::vector<simhost::provider::CallRecord>& transcript,
                  std::size_t from) {
  const char* path = std::getenv("HVC_GOLDEN");
  if (path == nullptr || *path == '\0')
    return;
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string record = std::string("=== ") + (test != nullptr ? test->test_suite_name() : "?") + "." +
                       (test != nullptr ? test->name() : "?") + "\nresult " + std::to_string(outcome.result) +
                       "\n--- stdout\n" + outcome.out + "\n--- log\n";
  for (std::size_t i = 0; i < outcome.log.size(); ++i)
    record += "format [" + (i < outcome.formats.size() ? outcome.formats[i] : std::string()) + "] text [" +
              outcome.log[i] + "]\n";
  record += "--- transcript\n";
  for (std::size_t i = from; i < transcript.size(); ++i) {
    const simhost::provider::CallRecord& entry = transcript[i];
    record += Narrow(entry.call) + " | " + Narrow(entry.subject) + " | " + Narrow(entry.detail) + " | " +
              std::to_string(entry.result) + "\n";
  }
  std::ofstream(path, std::ios::app | std::ios::binary) << Normalised(record);
}

}  // namespace hvctest
