#include "ScreenshotRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace fw::screenshots {

namespace {

// A function-local list: states register during static initialisation, in
// any order of the translation units.
std::vector<State>& states() {
    static std::vector<State> list;
    return list;
}

}  // namespace

bool registerState(const char* name, StateFunction make) {
    for (const State& state : states())
        if (state.name == name) {
            std::fprintf(stderr, "fw_screenshots: the state \"%s\" is registered twice\n", name);
            std::abort();
        }
    states().push_back({name, make});
    return true;
}

std::vector<State> registeredStates() {
    std::vector<State> sorted = states();
    std::sort(sorted.begin(), sorted.end(), [](const State& a, const State& b) { return a.name < b.name; });
    return sorted;
}

}  // namespace fw::screenshots
