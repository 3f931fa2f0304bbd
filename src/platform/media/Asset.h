#pragma once
// A media file opened for inspection: its duration and its tracks with their
// format descriptions. Opening probes the file once and keeps plain values;
// the first reader of the asset opened last in the process takes over the
// probed file (probing decodes several frames), later readers open the file
// again on their own. Immutable after open, so one Asset may be shared by any
// number of threads and readers.

#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fw::media {

class ComposedSource;

// A 2-D affine transform in the row-vector convention of movie files:
// x' = a·x + c·y + tx, y' = b·x + d·y + ty (y grows downwards on screen).
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    // Clockwise on screen, degrees in {0, 90, 180, 270}; the translation keeps
    // a width × height picture in the positive quadrant.
    static AffineTransform rotation(int degreesClockwise, double width, double height);

    bool isIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1 && tx == 0 && ty == 0; }
    // The clockwise rotation of the picture, rounded to a quarter turn
    // (0, 90, 180 or 270), after taking out a horizontal flip when mirrored.
    int rotationDegrees() const;
    // True when the transform mirrors the picture (negative determinant).
    bool isMirrored() const { return a * d - b * c < 0; }
    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct AssetTrack {
    // The stream index in the file; stable between an Asset and its readers.
    int trackID = -1;
    MediaType mediaType = MediaType::data;
    // Where the track's samples lie on the asset's timeline: from zero, or
    // from its offset when it begins after the earliest track. Duration
    // invalid when the file does not say.
    TimeRange timeRange;
    // Display matrix of the track (identity when the file has none).
    AffineTransform preferredTransform;
    // Frames per second of a video track, when the file gives one.
    std::optional<double> nominalFrameRate;
    // Video: the picture size before the transform, pixel aspect applied to
    // the width. Zero for other media.
    Size naturalSize;
    // The first (and, here, only) entry describes the stored samples.
    std::vector<FormatDescriptionRef> formatDescriptions;
    // ISO 639-2 language code when the file names one.
    std::string languageCode;

    // naturalSize as a player shows it: the transform applied, sides taken as
    // magnitudes (a quarter turn swaps them). Not finite when the file's
    // matrix is absurd; callers decide what that means for them.
    Size displayedSize() const;
};

class Asset {
public:
    // Probes the file. A picture in a format ImageDecoder reads is told by its
    // content and not decoded: a still image asset, once its header's size has
    // passed ImageDecoder::checkHeader. Throws MediaError with a readable
    // message when the file is missing, unreadable, a folder, not a media file,
    // damaged beyond opening, or a picture too large to read.
    static std::shared_ptr<const Asset> open(const std::filesystem::path& path);
    // Tests count opens with it: called with the path of every open() that
    // follows, on the opening thread; an empty function ends the watch.
    static void watchOpens(std::function<void(const std::filesystem::path&)> observer);
    // An asset whose samples `source` makes (see ComposedSource.h). `path`
    // names it in messages and is the file it stands for, when there is one.
    // Track IDs must be distinct. REQUIRES: source != nullptr.
    static std::shared_ptr<const Asset> compose(std::filesystem::path path, MediaTime duration,
                                                std::vector<AssetTrack> tracks,
                                                std::shared_ptr<const ComposedSource> source);

    const std::filesystem::path& path() const { return path_; }
    // Duration of the whole file; invalid when unknown. Every time the media
    // layer gives out (durations, track ranges, sample times, reader ranges) is
    // on a timeline that starts at zero, whatever time the container starts at.
    MediaTime duration() const { return duration_; }
    // Every track in stream order. Attached cover pictures are not tracks, and
    // a still image (PNG, JPEG, ...) has no tracks at all.
    const std::vector<AssetTrack>& tracks() const { return tracks_; }
    // Tracks of one media type, in stream order.
    std::vector<AssetTrack> tracks(MediaType type) const;
    // Short name of the container format ("mov,mp4,m4a,3gp,3g2,mj2", "gif"), or
    // "image" for a picture told by its content.
    const std::string& formatName() const { return formatName_; }
    // True when the file is a single picture rather than a movie.
    bool isStillImage() const { return stillImage_; }
    // The source of a composed asset; null for a file.
    const std::shared_ptr<const ComposedSource>& composedSource() const { return composed_; }

    // Closes the probed file if no reader took it.
    ~Asset();
    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

private:
    Asset() = default;
    std::filesystem::path path_;
    MediaTime duration_;
    std::vector<AssetTrack> tracks_;
    std::string formatName_;
    bool stillImage_ = false;
    std::shared_ptr<const ComposedSource> composed_;
};

using AssetRef = std::shared_ptr<const Asset>;

}  // namespace fw::media
