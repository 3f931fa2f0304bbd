#pragma once
// How the texture codecs fail. One idiom throughout:
//   - input a decoder cannot read (truncated, inconsistent, out of range)
//     throws MalformedInput, or a subclass that adds a fixed prefix; what() is
//     a readable reason and nothing has been promised about the output;
//   - input an encoder is not meant to receive (a caller's bug) throws
//     std::invalid_argument or std::length_error;
//   - running out of memory throws std::bad_alloc.
// Only the frame decoders that face the media layer (TextureSource) turn a
// failure into a plain "no pixels" result.

#include <stdexcept>
#include <string>

namespace fw {

class MalformedInput : public std::runtime_error {
public:
    explicit MalformedInput(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace fw
