// How many objects of a kind the host holds, asked of WMI directly. The library's enumerations
// write one record per object into the caller's buffer and cannot say beforehand how many that
// will be, so the buffer is sized from this count.
#pragma once

#include <optional>

namespace hvcfg {

// The number of objects a WQL query returns in ROOT\VIRTUALIZATION; none when WMI cannot answer.
std::optional<unsigned long> CountObjects(const wchar_t* query);

}  // namespace hvcfg
