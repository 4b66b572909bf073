// The count of live COM objects that report themselves, kept apart from the spies.
#pragma once

namespace winapi {

long LiveComObjects();

}  // namespace winapi
