#pragma once
// The LZF coder of version-0 (DXV2) frames: the common LZF stream format
// (literal runs of 1..32 bytes, back-references of 3..264 bytes reaching up to
// 8192 bytes back). The compressor is fully deterministic: the same input
// always gives the same stream, bit for bit.
//
// Thread-safety: pure functions; each call owns its tables. Any number of
// calls may run at once.

#include <cstddef>

#include "codecs/dxv/DXVFormat.h"

namespace fw::DXV {

// The LZF stream of input. Never fails. Inputs below 7 bytes become one
// literal run; the stream never ends on an operation shorter than 3 bytes, so
// readers that ignore one or two trailing bytes still see all of it.
Bytes compressLZF(ByteSpan input);

// Inverse of compressLZF, and a reader of any conforming LZF stream.
// Throws MalformedInput for a malformed stream: a literal run or operand cut
// off by the end (unless fewer than 3 bytes were left when the operation
// began: such a trailing fragment is ignored), or a back-reference reaching
// before the start of the output. Never reads outside the input.
Bytes decompressLZF(ByteSpan stream);

// Like decompressLZF, but keeps only the first outputLimit bytes of the
// output (the whole stream is still checked): caps the memory a hostile
// stream can claim (up to 88 output bytes per input byte) when the caller
// needs no more than a known texture size.
Bytes decompressLZF(ByteSpan stream, std::size_t outputLimit);

// The size decompressLZF would produce; throws as it would. Runs the same
// loop without writing anything.
std::size_t decompressedSizeLZF(ByteSpan stream);

}  // namespace fw::DXV
