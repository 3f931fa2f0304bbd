#pragma once
// The names the desktop knows the application by. The id names the installed
// .desktop file and icon, the autostart entry and a sandboxed install's data
// folder (~/.var/app/<id>), so all of them must agree.

namespace fw::app {

inline constexpr const char* kApplicationId = "org.framewright.Framewright";
inline constexpr const char* kApplicationName = "Framewright";

}  // namespace fw::app
