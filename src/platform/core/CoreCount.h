#pragma once
// How many cores this process may really use. hardware_concurrency() counts
// the machine's, not the ones `taskset` or a container's CPU quota leave us.

#include <filesystem>
#include <optional>
#include <string_view>

namespace fw {

// The CPUs in the calling thread's affinity mask, capped by the cgroup's CPU
// quota (rounded up); at least 1. Thread-safe.
int usableCoreCount();
// The same with the cgroup files read below `systemRoot` in place of "/"
// ("proc/self/cgroup", "sys/fs/cgroup/…"): lets a test lay out a tree.
int usableCoreCount(const std::filesystem::path& systemRoot);

// The cap a cgroup quota puts on the cores: cgroup v2 "cpu.max" text
// ("max 100000", "250000 100000"); none for no quota or unreadable text.
std::optional<int> coresAllowedByCpuMax(std::string_view cpuMax);

}  // namespace fw
