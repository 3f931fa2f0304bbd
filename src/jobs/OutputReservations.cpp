#include "jobs/OutputReservations.h"

#include "model/EncodingError.h"

#include <string>
#include <system_error>

namespace fw {

namespace fs = std::filesystem;

namespace {

fs::path canonicalForm(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? fs::absolute(path).lexically_normal() : resolved;
}

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
    fs::path form = canonicalForm(file);
    const std::lock_guard lock(mutex_);
    reserved_.insert(std::move(form));
}

fs::path OutputReservations::reserve(const fs::path& source, const fs::path& destination, Kind kind) {
    const fs::path sourceForm = canonicalForm(source);
    if (canonicalForm(destination) == sourceForm) throw EncodingError::destinationIsSource();
    fs::path candidate = destination;
    for (int number = 2;; ++number) {
        const fs::path form = canonicalForm(candidate);
        // Looked at and taken in one step: two jobs never leave with one name.
        const std::lock_guard lock(mutex_);
        if (form != sourceForm && reserved_.insert(form).second) return candidate;
        candidate = numbered(destination, kind, number);
    }
}

}  // namespace fw
