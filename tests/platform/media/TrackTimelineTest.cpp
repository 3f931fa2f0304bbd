// What each stored time of a file means, decided on numbers alone: sequences of packet times in, the times and marks
// the reader passes on out; and the sound's clock, frame times in, where each frame lies out.

#include "platform/media/TrackTimeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace fw::media::detail {
namespace {

constexpr std::int64_t N = AV_NOPTS_VALUE;
constexpr std::int64_t kHour90k = 3600LL * 90000;

struct Packet {
    int stream;
    std::int64_t pts, dts, duration;
    bool operator==(const Packet&) const = default;
};

struct Out {
    Packet packet;
    bool jumped = false, outOfLine = false;
};

using Packets = std::vector<Packet>;

// `count` packets of `stream` from `first`, `step` apart, each shown `delay` after it is decoded.
Packets line(int stream, std::int64_t first, int count, std::int64_t step, std::int64_t delay = 0) {
    Packets packets;
    for (int i = 0; i < count; ++i) packets.push_back({stream, first + i * step + delay, first + i * step, step});
    return packets;
}

Packets operator+(Packets a, const Packets& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The packets with `change` applied to those from `from` on (`to` excluded).
Packets changed(Packets packets, std::size_t from, std::size_t to, const std::function<void(Packet&)>& change) {
    for (std::size_t i = from; i < std::min(to, packets.size()); ++i) change(packets[i]);
    return packets;
}

// Two tracks' packets merged by decode time, the pictures first at the same time.
Packets interleaved(const Packets& pictures, const Packets& sound) {
    Packets merged;
    std::size_t p = 0, s = 0;
    while (p < pictures.size() || s < sound.size())
        if (s == sound.size() || (p < pictures.size() && pictures[p].dts <= sound[s].dts))
            merged.push_back(pictures[p++]);
        else
            merged.push_back(sound[s++]);
    return merged;
}

std::vector<Out> passThrough(const std::vector<StreamTiming>& streams, bool joins, const Packets& in) {
    std::vector<Out> out;
    Timelines timelines(streams, joins, [&](PacketPtr packet) {
        out.push_back({{packet->stream_index, packet->pts, packet->dts, packet->duration},
                       timeJumped(*packet),
                       outOfLine(*packet)});
    });
    for (const Packet& packet : in) {
        PacketPtr made = makePacket();
        made->stream_index = packet.stream;
        made->pts = packet.pts;
        made->dts = packet.dts;
        made->duration = packet.duration;
        timelines.file(std::move(made));
    }
    timelines.finish();
    return out;
}

const StreamTiming kPictures90k{AVMEDIA_TYPE_VIDEO, {1, 90000}, 33, 0, true};
const StreamTiming kSound90k{AVMEDIA_TYPE_AUDIO, {1, 90000}, 33, 0, true};
const StreamTiming kPicturesMs{AVMEDIA_TYPE_VIDEO, {1, 1000}, 64, 0, true};
const StreamTiming kSoundMs{AVMEDIA_TYPE_AUDIO, {1, 1000}, 64, 0, true};
const StreamTiming kSound48k{AVMEDIA_TYPE_AUDIO, {1, 48000}, 64, 0, true};

// One track of a file that states each packet's times: a time that the packets after it contradict (they go on from
// the line before it, or do not move on at all) takes the one the line implies; one they confirm keeps its own.
TEST(TrackTimeline, EachStoredTimeMeansWhatTheTrackPacketsAfterItConfirm) {
    const Packets sound = line(0, 0, 40, 21);                // AAC in Matroska, milliseconds
    const Packets pictures = line(0, 0, 40, 40);             // 25 fps in Matroska
    const Packets sound48k = line(0, 0, 40, 1024);           // AAC in MP4
    const Packets pictures90k = line(0, 0, 40, 3600, 7200);  // 25 fps in MPEG-TS, shown two pictures late
    const auto hourLater = [](std::int64_t hour) {
        return [hour](Packet& packet) {
            packet.pts += hour;
            packet.dts += hour;
        };
    };
    const struct Row {
        const char* name;
        StreamTiming timing;
        Packets in;
        Packets out;
        std::vector<std::size_t> outOfLine = {};
    } rows[] = {
        {"sound following on", kSoundMs, sound, sound},
        {"jitter of 10 ms", kSoundMs, changed(sound, 0, 40, [](Packet& p) { p.pts = p.dts += (p.dts % 2 ? 10 : -10); }),
         changed(sound, 0, 40, [](Packet& p) { p.pts = p.dts += (p.dts % 2 ? 10 : -10); })},
        {"one sound packet an hour late, the next going on from before",
         kSoundMs,
         changed(sound, 20, 21, hourLater(3600000)),
         sound,
         {20}},
        {"one sound packet an hour early", kSoundMs, changed(sound, 20, 21, hourLater(-3600000)), sound, {20}},
        {"one picture an hour late", kPicturesMs, changed(pictures, 20, 21, hourLater(3600000)), pictures, {20}},
        // As the ffmpeg tool leaves a packet moved an hour on: its length runs up to the next one's time, and those
        // after it follow a tick apart.
        {"one sound packet an hour late, those after it a tick apart",
         kSound48k,
         changed(changed(sound48k, 20, 21, [](Packet& p) { p.duration = 3600LL * 48000; }), 21, 40,
                 [](Packet& p) {
                     p.pts = p.dts = 3600LL * 48000 + 1024 * 20 + p.dts / 1024;
                     p.duration = 1;
                 }),
         sound48k,
         {21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39}},
        // The ones after it stuck at its time until their own catch up with it.
        {"one picture a second late, those after it stuck until theirs catch up",
         kPictures90k,
         changed(line(0, 0, 60, 3600), 20, 60,
                 [](Packet& p) { p.pts = p.dts = std::max(p.dts, 20 * 3600 + 90000 + (p.dts / 3600 - 20)); }),
         changed(line(0, 0, 60, 3600), 45, 46, [](Packet& p) { p.pts = p.dts += 25; }),
         {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44}},
        {"one picture's showing time alone an hour late",
         kPictures90k,
         changed(pictures90k, 20, 21, [](Packet& p) { p.pts += kHour90k; }),
         pictures90k,
         {20}},
        {"the last sound packet an hour late", kSoundMs, changed(sound, 39, 40, hourLater(3600000)), sound, {39}},
        // Real jumps: what follows goes on from them.
        {"sound pausing for 5 s", kSoundMs, changed(sound, 20, 40, hourLater(5000)),
         changed(sound, 20, 40, hourLater(5000))},
        {"pictures stepping 2 s back", kPicturesMs, changed(pictures, 20, 40, hourLater(-2000)),
         changed(pictures, 20, 40, hourLater(-2000))},
        {"pictures stored across a lost signal, shown after it", kPictures90k,
         changed(pictures90k, 20, 40, [](Packet& p) { p.pts += 30 * 90000; }),
         changed(pictures90k, 20, 40, [](Packet& p) { p.pts += 30 * 90000; })},
        // Pictures timed by their showing times alone, in decoding order.
        {"reordered pictures", kPicturesMs,
         changed(pictures, 0, 40, [](Packet& p) { p.dts = N, p.pts += (p.pts / 40 % 3 == 0 ? 80 : -40); }),
         changed(pictures, 0, 40, [](Packet& p) { p.dts = N, p.pts += (p.pts / 40 % 3 == 0 ? 80 : -40); })},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<Out> out = passThrough({row.timing}, false, row.in);
        ASSERT_EQ(out.size(), row.out.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].packet.pts, row.out[i].pts) << "packet " << i;
            EXPECT_EQ(out[i].packet.dts, row.out[i].dts) << "packet " << i;
            EXPECT_EQ(out[i].outOfLine, std::find(row.outOfLine.begin(), row.outOfLine.end(), i) != row.outOfLine.end())
                << "packet " << i;
            EXPECT_FALSE(out[i].jumped) << "packet " << i;
        }
    }
}

// MPEG-TS and MPEG-PS, whose clock may start again, wrap or jump: each recording follows on from where the one before
// ended, a clock that wraps runs on, and pictures stored without a time of their own are spread between their timed
// neighbours.
TEST(TrackTimeline, JoinedRecordingsFollowOnAndUntimedPicturesAreSpread) {
    // 3 s of pictures and sound from the clock's zero; the sound reaches 270720.
    const Packets recording = interleaved(line(0, 0, 75, 3600), line(1, 0, 141, 1920));
    const auto moved = [](const Packets& packets, std::int64_t by) {
        return changed(packets, 0, packets.size(), [by](Packet& p) { p.pts += by, p.dts += by; });
    };
    const std::int64_t wrap = std::int64_t{1} << 33;
    // Pictures without a time of their own, counted by the library a picture too far on from the one before.
    Packets untimed = line(0, 0, 1, 3600) + changed(line(0, 7200, 3, 3600), 0, 3, [](Packet& p) { p.pts = N; }) +
                      line(0, 14400, 10, 3600);
    const struct Row {
        const char* name;
        std::vector<StreamTiming> streams;
        Packets in;
        Packets out;
        Packets jumped = {};  // those of `out` marked as a jump
    } rows[] = {
        {"the clock started again",
         {kPictures90k, kSound90k},
         recording + recording,
         recording + moved(recording, 270720),
         Packets{{0, 270720, 270720, 3600}, {1, 270720, 270720, 1920}}},
        {"the clock wrapping",
         {kPictures90k, kSound90k},
         changed(recording, 0, recording.size(),
                 [&](Packet& p) { p.pts = (p.pts + wrap - 90000) % wrap, p.dts = (p.dts + wrap - 90000) % wrap; }),
         moved(recording, wrap - 90000)},
        {"untimed pictures after a timed one",
         {kPictures90k},
         untimed,
         changed(untimed, 1, 4, [](Packet& p) { p.dts -= 3600; })},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<Out> out = passThrough(row.streams, true, row.in);
        // Each track in its order; the tracks may pass one another by a packet or two.
        for (int stream = 0; stream < int(row.streams.size()); ++stream) {
            std::vector<Out> got;
            Packets expected;
            for (const Out& packet : out)
                if (packet.packet.stream == stream) got.push_back(packet);
            for (const Packet& packet : row.out)
                if (packet.stream == stream) expected.push_back(packet);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].packet, expected[i]) << "track " << stream << ", packet " << i;
                EXPECT_EQ(got[i].jumped,
                          std::find(row.jumped.begin(), row.jumped.end(), expected[i]) != row.jumped.end())
                    << "track " << stream << ", packet " << i;
            }
        }
    }
}

// The sound's clock over frames of 1024 samples at 48 kHz: stored times that jitter, drift or stray alone move
// nothing in a step; a drop-out or an overlap from 5 ms on is a step, to the sample.
TEST(SoundClock, StepsOnlyWhereTheStoredTimesConfirmAGapOrAnOverlap) {
    constexpr int kFrames = 200;
    const auto ms = [](double milliseconds) { return milliseconds * 48; };
    const struct Row {
        const char* name;
        std::function<std::optional<double>(int)> stored;
        std::vector<int> steps;
        std::function<double(int)> at;  // where each frame should lie
        double within = 0.5;            // samples
        std::vector<int> jumps = {};
    } rows[] = {
        {"following on", [](int i) { return 1024.0 * i; }, {}, [](int i) { return 1024.0 * i; }},
        {"jitter of 8 ms",
         [&](int i) { return 1024.0 * i + std::round(ms(8 * std::sin(i * 2.3))); },
         {},
         [](int i) { return 1024.0 * i; },
         ms(3)},
        // Where fewer frames are known ahead, at the end, the clock lags by a few samples.
        {"1000 ppm fast", [](int i) { return 1024.0 * i * 1.001; }, {}, [](int i) { return 1024.0 * i * 1.001; }, 8},
        {"200 ppm slow", [](int i) { return 1024.0 * i * 0.9998; }, {}, [](int i) { return 1024.0 * i * 0.9998; }, 2},
        {"a frame dropped out",
         [](int i) { return 1024.0 * (i < 40 ? i : i + 1); },
         {40},
         [](int i) { return 1024.0 * (i < 40 ? i : i + 1); }},
        {"overlapping by a frame",
         [](int i) { return 1024.0 * (i < 40 ? i : i - 1); },
         {40},
         [](int i) { return 1024.0 * (i < 40 ? i : i - 1); }},
        {"a 6 ms drop-out",
         [&](int i) { return 1024.0 * i + (i < 40 ? 0 : ms(6)); },
         {40},
         [&](int i) { return 1024.0 * i + (i < 40 ? 0 : ms(6)); }},
        {"a 4 ms drop-out closing up",
         [&](int i) { return 1024.0 * i + (i < 40 ? 0 : ms(4)); },
         {},
         [&](int i) { return 1024.0 * i + (i < 40 ? 0 : ms(4)); },
         ms(4)},
        {"one frame 50 ms out",
         [&](int i) { return 1024.0 * i + (i == 40 ? ms(50) : 0); },
         {},
         [](int i) { return 1024.0 * i; }},
        {"the second frame after a gap",
         [&](int i) { return 1024.0 * i + (i == 0 ? 0 : ms(59)); },
         {1},
         [&](int i) { return 1024.0 * i + (i == 0 ? 0 : ms(59)); }},
        {"frames whose times say nothing",
         [](int i) -> std::optional<double> {
             if (i >= 40 && i < 60) return std::nullopt;
             return 1024.0 * i;
         },
         {},
         [](int i) { return 1024.0 * i; }},
        {"a join",
         [](int i) { return 1024.0 * i + (i < 40 ? 0 : 48000); },
         {40},
         [](int i) { return 1024.0 * i + (i < 40 ? 0 : 48000); },
         0.5,
         {40}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SoundClock clock(48000);
        std::vector<SoundClock::Place> places;
        for (int i = 0; i < kFrames; ++i) {
            clock.add(row.stored(i), 1024, std::find(row.jumps.begin(), row.jumps.end(), i) != row.jumps.end());
            while (clock.ready(false)) places.push_back(clock.place());
        }
        while (clock.ready(true)) places.push_back(clock.place());
        ASSERT_EQ(places.size(), std::size_t(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            EXPECT_EQ(places[i].step, std::find(row.steps.begin(), row.steps.end(), i) != row.steps.end())
                << "frame " << i;
            EXPECT_NEAR(places[i].at, row.at(i), row.within) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace fw::media::detail
