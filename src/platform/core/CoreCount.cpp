#include "platform/core/CoreCount.h"

#include "platform/core/NumberText.h"

#include <sched.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fw {
namespace {

namespace fs = std::filesystem;

std::string readSmallFile(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\n");
    return text.substr(first, last - first + 1);
}

// The process's cgroup v2 path ("0::/user.slice/…"), or none under v1.
std::optional<std::string> unifiedCgroupPath(const fs::path& root) {
    std::istringstream lines(readSmallFile(root / "proc/self/cgroup"));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("0::", 0) == 0) return line.substr(3);
    return std::nullopt;
}

std::optional<int> quotaCores(const fs::path& root) {
    const fs::path hierarchy = root / "sys/fs/cgroup";
    const auto path = unifiedCgroupPath(root);
    if (path) {
        // A quota may be set on any ancestor; the tightest one counts.
        std::optional<int> tightest;
        std::string group = *path;
        while (true) {
            const auto cores = coresAllowedByCpuMax(readSmallFile(hierarchy.string() + group + "/cpu.max"));
            if (cores && (!tightest || *cores < *tightest)) tightest = cores;
            if (group.empty() || group == "/") break;
            group.erase(group.find_last_of('/'));
        }
        return tightest;
    }
    // cgroup v1: quota and period in two files, -1 for none.
    const auto quota = parseInteger(trimmed(readSmallFile(hierarchy / "cpu,cpuacct/cpu.cfs_quota_us")));
    const auto period = parseInteger(trimmed(readSmallFile(hierarchy / "cpu,cpuacct/cpu.cfs_period_us")));
    if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
    return static_cast<int>(std::max<std::int64_t>(1, (*quota + *period - 1) / *period));
}

}  // namespace

std::optional<int> coresAllowedByCpuMax(std::string_view cpuMax) {
    const std::string_view text = trimmed(cpuMax);
    const auto space = text.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto quota = parseInteger(text.substr(0, space));
    const auto period = parseInteger(trimmed(text.substr(space + 1)));
    if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;  // "max" too
    return static_cast<int>(std::max<std::int64_t>(1, (*quota + *period - 1) / *period));
}

int usableCoreCount() { return usableCoreCount("/"); }

int usableCoreCount(const fs::path& systemRoot) {
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) cores = CPU_COUNT(&mask);
    if (const auto quota = quotaCores(systemRoot)) cores = std::min(cores, *quota);
    return std::max(1, cores);
}

}  // namespace fw
