#pragma once
// The media layer: reading and writing movies over FFmpeg, shaped after an
// asset reader / asset writer model. Include this header, or the parts.
//
// Model
//   Asset        a file probed once: duration, tracks, format descriptions.
//                Plain immutable values, shareable between threads.
//   AssetReader  reads an Asset's tracks within a TimeRange through outputs
//                (decoded BGRA or x420 pictures, PCM float or int16 sound with
//                an optional gain, or the stored compressed samples).
//   AssetWriter  writes a .mov, .mp4 or .m4a through inputs (pictures encoded
//                with ProRes, H.264 or HEVC; sound as AAC or 16-bit PCM;
//                ready-made compressed samples with their four-character code).
//   ComposedSource samples made by our own code (a camera-RAW clip, files
//                joined end to end) behind an Asset::compose asset, read
//                through the same reader and outputs as a file.
//   SampleBuffer the unit moved between them: times, format, picture or bytes.
//   ImageDecoder a still image file (PNG, JPEG, GIF, HEIF, TIFF, BMP, WebP) to
//                one upright bgra8 picture; see image/ImageReaders.h.
//
// Threads and blocking
//   The caller drives everything with plain blocking calls, one thread per
//   track ("pump"): pull from a reader output, append to a writer input.
//   - A pull blocks while another thread demuxes, and while another output
//     that is being pulled holds more than a few seconds (and megabytes) of
//     packets queued: reading on for this one would pile them up, as where
//     its track ends or pauses while the others run on. In an MP4,
//     QuickTime, Matroska or WebM file it reads its own track's next packet
//     ahead on its own instead (or learns that the track has ended). Memory
//     stays at a few seconds of source whatever the file's shape; outputs
//     not yet pulled (a sound track pumped after another) queue what is read
//     for them.
//   - While a pull waits so, its wait observer is told; a pump tells its
//     writer input (AssetWriterInput::setSourceWaiting), whose track then
//     holds nobody back, so the others drain what they hold and no pump waits
//     on another for ever.
//   - An append blocks while its input is more than AssetWriter::kMaxLead
//     (1 s) of media time ahead of the other inputs that are still running,
//     each counted at the time it last appended or waits to append (an
//     encoding video input at the earliest picture its encoder still holds),
//     or at the time its first sample is expected at before that; an input
//     that waits holds back only inputs counted after it, and inputs that are
//     finished, or have neither appended nor been expected, hold nobody
//     back, so tracks pumped one after another, starting late or pausing
//     still finish; an input whose source waits for the others (above) holds
//     nobody back unless it waits in an append too. This paces the pumps and
//     keeps the file interleaved without unbounded buffering.
//   - cancelReading() / cancelWriting() may come from any thread and release
//     every blocked pull / append.
//   Decoders and encoders use their own worker threads (frame and slice
//   threading); conversions run on the calling pump thread.
//
// Ownership
//   Readers, writers and their outputs/inputs are held by shared_ptr;
//   an output or input keeps its reader or writer's internals alive.
//   Pictures are PixelBufferRef from pools; a sample keeps what it points to
//   alive. Nothing here holds a reference back to the caller.
//
// Time
//   Samples carry MediaTime (value / timescale). Read times are on a timeline
//   that starts at zero: a container that starts its clock elsewhere (MPEG-TS,
//   remuxed or offset movies) has its start time taken off everything. Writer video tracks take their
//   timescale from VideoEncoderSettings::expectedFrameRate (kSecondsTimescale for whole
//   rates, 30000 for 29.97, ...): pass the source's rate so times stay exact.
//   A picture shows until the next one; sound is contiguous from its first time.
//   What each stored time means (a pause, a join, a drift, a time out of
//   line) is decided in one place per track: TrackTimeline.h.
//
// Failures
//   Opening throws MediaError. Once running, failures are reported as a
//   status (failed) with errorDescription(), and the calls that hit them
//   return nullptr / false, so pumps end along their normal path. A reader
//   also fails when its file ends short of the length its header gives, or
//   changes in place while it is read (AssetReader::sourceFault()). Damage
//   the decoders meet inside a file is no failure: sound they refuse goes out
//   as silence, pictures lost to it are left out, as is sound its stored times
//   step back over, and the reader counts each (concealedSoundSeconds(),
//   pictureTally(), leftOutSoundSeconds()) for the caller to judge.

#include "platform/media/Asset.h"
#include "platform/media/AssetReader.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/ComposedSource.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"
