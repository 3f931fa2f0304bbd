#pragma once
// The one exception type of the media layer. Its message is readable as it
// stands ("Could not open “clip.mov”: Invalid data found when processing
// input") and is what callers show or wrap.

#include <stdexcept>
#include <string>

namespace fw::media {

class MediaError : public std::runtime_error {
public:
    // code: the library's negative error number, or 0 for our own failures.
    explicit MediaError(const std::string& message, int code = 0) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

}  // namespace fw::media
