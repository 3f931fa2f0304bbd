#pragma once
// The screenshot scenes' encoder backend: no media is read or written. An
// encode of a scripted source reports the script's progress, hands over a
// painted preview frame when asked, and then holds until the run is
// cancelled; any other source finishes at once.
//
// Threads: encode() runs on the coordinator's workers; script() is set on
// the GUI thread before the run starts.

#include "coordinator/EncoderBackend.h"

#include <map>
#include <mutex>
#include <string>

namespace fw::screenshots {

class ScreenshotEncoderBackend final : public EncoderBackend {
public:
    struct Script {
        double progress = 0;
        bool preview = false;
    };

    // By the source's file name ("Drone.mp4").
    void script(const std::string& fileName, Script script);

    jobs::SourceProbe probe(const std::filesystem::path& source,
                            const ExportConfiguration& configuration) const override;
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop) const override;
    std::filesystem::path stitch(const std::vector<std::filesystem::path>& clips,
                                 const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                                 const std::function<std::filesystem::path(IntSize nameSize)>& destination,
                                 const ProgressCallback& progress, const PreviewCallback& preview,
                                 std::stop_token stop) const override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Script> scripts_;
};

}  // namespace fw::screenshots
