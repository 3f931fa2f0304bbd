#pragma once
// Running the built program's window as the start-up tests do.

#include "support/TestSupport.h"

#include <string>
#include <vector>

namespace fw::test {

// The command start ("env" and its settings) of a window in a home of its
// own, offscreen, with no display and no session bus; the program and its
// arguments follow.
inline std::vector<std::string> isolatedWindow(const TempDir& home) {
    return {"env",
            "-u",
            "DISPLAY",
            "-u",
            "WAYLAND_DISPLAY",
            "QT_QPA_PLATFORM=offscreen",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "no-bus").string(),
            "HOME=" + home.path().string(),
            "XDG_CONFIG_HOME=" + (home / "config").string(),
            "XDG_DATA_HOME=" + (home / "data").string(),
            "XDG_RUNTIME_DIR=" + home.path().string()};
}

}  // namespace fw::test
