#pragma once
// Names the calling thread for debuggers and process lists. The system keeps
// only 15 characters, so names that must stay apart differ early
// ("encode.audio0", not "encode.pump.audio0").
// Thread-safety: affects the calling thread only.

#include <string_view>

namespace fw {

// Longer names are cut to their first 15 characters.
void nameThisThread(std::string_view name);

}  // namespace fw
