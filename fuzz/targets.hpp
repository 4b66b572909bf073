// The bodies of the fuzz targets. libFuzzer's main calls one of them per input, and the replay test
// runs every stored input through all of them, so both see the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hvc::fuzz {

// Each entry returns nullptr, or the invariant the input broke (the caller aborts or fails on it).
// Crashes, sanitizer reports and escaping exceptions are findings by themselves.
using Entry = const char* (*)(const std::uint8_t* data, std::size_t size);

const char* wql(const std::uint8_t* data, std::size_t size);
const char* object_path(const std::uint8_t* data, std::size_t size);
const char* cimxml(const std::uint8_t* data, std::size_t size);
const char* host_file(const std::uint8_t* data, std::size_t size);

struct Target {
  const char* name;  // also the folder of its corpus and regressions
  Entry entry;
};
std::span<const Target> targets();

// The bytes as UTF-8, where a byte that starts no valid sequence stands for itself (U+0080-U+00FF),
// so that every input is some text and the seeds stay readable. Code points above U+FFFF become
// surrogate pairs where wchar_t has 16 bits; encoded surrogates are kept as they are.
std::wstring widen(const std::uint8_t* data, std::size_t size);

}  // namespace hvc::fuzz
