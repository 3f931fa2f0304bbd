#include "platform/core/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <system_error>

namespace fw::xdg {

namespace fs = std::filesystem;

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return fs::temp_directory_path();
}

namespace {

fs::path baseDirectory(const char* variable, const char* fallback) {
    // The XDG rules ignore relative paths.
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    return homeDirectory() / fallback;
}

fs::path ensure(fs::path dir) {
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    return dir;
}
}  // namespace

fs::path applicationSupportDirectory() {
    return ensure(baseDirectory("XDG_DATA_HOME", ".local/share") / "Framewright");
}

fs::path configDirectory() { return ensure(configHome() / "Framewright"); }

fs::path configHome() { return baseDirectory("XDG_CONFIG_HOME", ".config"); }

}  // namespace fw::xdg
