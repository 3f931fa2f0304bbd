// Loaded into the built program (LD_PRELOAD) by the tests that end a window
// at a point they can see: from its second save of queue.json on (its first
// queues the files it was started with), the process stops (SIGSTOP) as soon
// as the save has put the file in place, until it is continued.

#include <dlfcn.h>
#include <signal.h>

#include <string_view>

extern "C" int rename(const char* from, const char* to) {
    static const auto next = reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
    static int saves = 0;
    const int result = next(from, to);
    if (result == 0 && std::string_view(to).ends_with("/queue.json") && ++saves > 1) ::raise(SIGSTOP);
    return result;
}
