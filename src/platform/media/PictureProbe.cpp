#include "platform/media/PictureProbe_internal.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace fw::media::detail {

namespace {

constexpr std::int64_t kFurthestBytes = 256LL << 20;
constexpr std::int64_t kFurthestTime = 3600LL * AV_TIME_BASE;
// How much is probed past the first picture: as much as an ordinary probe
// looks at from the start, enough for a few pictures and their rate.
constexpr std::int64_t kPastFirstPicture = 5LL * AV_TIME_BASE;
constexpr std::int64_t kBytesPastFirstPicture = 32LL << 20;

bool lacksSize(const AVStream& stream) {
    const AVCodecParameters& par = *stream.codecpar;
    return par.codec_type == AVMEDIA_TYPE_VIDEO && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC) &&
           par.codec_id != AV_CODEC_ID_NONE && (par.width <= 0 || par.height <= 0);
}

FormatInputPtr openInput(const std::filesystem::path& path, const AVIOInterruptCB& interrupt, AVDictionary** options) {
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return nullptr;
    raw->interrupt_callback = interrupt;
    if (avformat_open_input(&raw, path.c_str(), nullptr, options) < 0) return nullptr;  // freed on failure
    return FormatInputPtr(raw);
}

struct FirstPicture {
    // How far the streams had got to it (AV_TIME_BASE units): by their
    // packets' durations, as the probe measures how far it has looked, since
    // the clock may start again where recordings were joined; by the clock
    // where packets come without durations (sound not yet probed).
    std::int64_t after = 0;
    std::int64_t bytes = 0;  // of the file read to it
};

// Reads packets alone (nothing is decoded) from an opening of its own until a
// key frame of one of the streams `ids` names, or the first of their pictures
// when none comes within the bounds.
std::optional<FirstPicture> findFirstPicture(const std::filesystem::path& path, const AVIOInterruptCB& interrupt,
                                             const std::vector<int>& ids) {
    FormatInputPtr scan = openInput(path, interrupt, nullptr);
    if (!scan) return std::nullopt;
    PacketPtr packet = makePacket();
    std::vector<std::int64_t> progress;
    std::int64_t furthest = 0;
    std::optional<std::int64_t> firstStamp;
    std::optional<FirstPicture> found;
    while (av_read_frame(scan.get(), packet.get()) >= 0) {
        const auto index = static_cast<std::size_t>(packet->stream_index);
        const AVStream& stream = *scan->streams[index];
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        const std::int64_t duration = std::max<std::int64_t>(packet->duration, 0);
        const std::int64_t stamp = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        av_packet_unref(packet.get());
        const std::int64_t bytes = avio_tell(scan->pb);
        if (stamp != AV_NOPTS_VALUE) {
            const std::int64_t at = av_rescale_q(stamp, stream.time_base, AV_TIME_BASE_Q);
            if (!firstStamp) firstStamp = at;
            furthest = std::max(furthest, at - *firstStamp);
        }
        if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            std::find(ids.begin(), ids.end(), stream.id) != ids.end()) {
            if (!found || key) found = FirstPicture{furthest, bytes};
            if (key) break;
        }
        if (progress.size() <= index) progress.resize(index + 1, 0);
        progress[index] += av_rescale_q(duration, stream.time_base, AV_TIME_BASE_Q);
        furthest = std::max(furthest, progress[index]);
        if (furthest > kFurthestTime || bytes > kFurthestBytes) break;
    }
    return found;
}

}  // namespace

FormatInputPtr probeFurtherForPictureSizes(FormatInputPtr probed, const std::filesystem::path& path,
                                           const AVIOInterruptCB& interrupt) {
    std::vector<int> ids;
    for (unsigned i = 0; i < probed->nb_streams; ++i)
        if (lacksSize(*probed->streams[i])) ids.push_back(probed->streams[i]->id);
    if (ids.empty()) return probed;
    const std::optional<FirstPicture> picture = findFirstPicture(path, interrupt, ids);
    if (!picture) return probed;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "analyzeduration", picture->after + kPastFirstPicture, 0);
    av_dict_set_int(&options, "probesize", picture->bytes + kBytesPastFirstPicture, 0);
    // An MPEG-TS whose pictures are first announced along with them (a
    // sound-only part joined before) is otherwise taken as fully known as
    // soon as its first announcement is read.
    av_dict_set_int(&options, "scan_all_pmts", 1, 0);
    FormatInputPtr further = openInput(path, interrupt, &options);
    av_dict_free(&options);
    if (!further || avformat_find_stream_info(further.get(), nullptr) < 0) return probed;
    return further;
}

}  // namespace fw::media::detail
