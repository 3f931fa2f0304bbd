#pragma once
// The media libraries' own diagnostics on standard error.
//
// By default only the libraries' error messages reach standard error (decoder
// complaints about damaged frames and the like). A process whose standard
// streams carry nothing but its own lines turns them off entirely; failures
// still reach callers as MediaError and status texts.
// Thread-safety: call before any media work starts; it sets process-wide state.

namespace fw::media {

// For the rest of the process the libraries print nothing of their own.
void silenceLibraryLogs();

}  // namespace fw::media
