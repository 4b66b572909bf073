// The object itself: it holds only an error text that no operation writes.
#include <cctype>
#include <cstring>

#include "hypervconfig.h"

HypervConfig::HypervConfig() {
  std::memset(m_errStr, 0, sizeof m_errStr);
}

HypervConfig::~HypervConfig() {
  std::memset(m_errStr, 0, sizeof m_errStr);
}

HypervConfig& HypervConfig::operator=(const HypervConfig& other) {
  m_first = other.m_first;
  std::memmove(m_errStr, other.m_errStr, sizeof m_errStr);
  return *this;
}

char* HypervConfig::GetErrStr(int) {
  return m_errStr;
}

void HypervConfig::StrToLower(char* source, char* destination) {
  if (source == nullptr || destination == nullptr)
    return;
  std::size_t i = 0;
  for (; source[i] != '\0'; ++i)
    destination[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(source[i])));
  destination[i] = '\0';
}
