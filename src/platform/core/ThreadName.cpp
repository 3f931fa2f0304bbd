#include "platform/core/ThreadName.h"

#include <pthread.h>
#include <string>

namespace fw {

void nameThisThread(std::string_view name) {
    constexpr std::size_t kLongestName = 15;
    const std::string kept(name.substr(0, kLongestName));
    pthread_setname_np(pthread_self(), kept.c_str());
}

}  // namespace fw
