#include "jobs/OutputReservations.h"

#include "model/EncodingError.h"
#include "platform/core/PathIdentity.h"

#include <string>

namespace fw {

namespace fs = std::filesystem;

namespace {

fs::path numbered(const fs::path& destination, OutputReservations::Kind kind, int number) {
    const std::string suffix = "-" + std::to_string(number);
    if (kind == OutputReservations::Kind::folder) return fs::path(destination).concat(suffix);
    fs::path name = destination.stem();
    name += suffix;
    name += destination.extension();
    return destination.parent_path() / name;
}

}  // namespace

void OutputReservations::protect(const fs::path& file) {
    fs::path form = pathIdentity(file);
    const std::lock_guard lock(mutex_);
    reserved_.insert(std::move(form));
}

fs::path OutputReservations::reserve(const fs::path& source, const fs::path& destination, Kind kind) {
    if (samePath(destination, source)) throw EncodingError::destinationIsSource();
    const fs::path sourceForm = pathIdentity(source);
    fs::path candidate = destination;
    for (int number = 2;; ++number) {
        const fs::path form = pathIdentity(candidate);
        // Looked at and taken in one step: two jobs never leave with one name.
        const std::lock_guard lock(mutex_);
        if (form != sourceForm && reserved_.insert(form).second) return candidate;
        candidate = numbered(destination, kind, number);
    }
}

}  // namespace fw
