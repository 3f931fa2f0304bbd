#include "platform/core/ThreadScheduling.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace fw {

namespace {

// The kernel's struct sched_attr (its second version, 56 bytes); its own
// header clashes with the C library's <sched.h>, which has no wrapper yet.
struct SchedulingAttributes {
    std::uint32_t size = sizeof(SchedulingAttributes);
    std::uint32_t policy = 0;
    std::uint64_t flags = 0;
    std::int32_t nice = 0;
    std::uint32_t priority = 0;
    std::uint64_t runtimeNanoseconds = 0;
    std::uint64_t deadlineNanoseconds = 0;
    std::uint64_t periodNanoseconds = 0;
    std::uint32_t utilizationMinimum = 0;
    std::uint32_t utilizationMaximum = 0;
};
static_assert(sizeof(SchedulingAttributes) == 56);

}  // namespace

bool preferShortTimeSlicesForThisThread() {
    // The fair scheduler takes the runtime as the thread's slice (Linux 6.12
    // and later, 0.1 to 100 ms): a shorter slice is an earlier deadline each
    // time the thread wakes. Older kernels ignore it.
    constexpr std::uint64_t kSliceNanoseconds = 500'000;
    SchedulingAttributes attributes;
    if (::syscall(SYS_sched_getattr, 0, &attributes, sizeof attributes, 0) != 0) return false;
    // Only the ordinary policy has slices; a thread given another keeps it.
    if (attributes.policy != SCHED_OTHER) return false;
    attributes.size = sizeof attributes;
    attributes.runtimeNanoseconds = kSliceNanoseconds;
    return ::syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

}  // namespace fw
