// What each stored time of a file means, decided on numbers alone: sequences of packet times in, the times and marks
// the reader passes on out; and the sound's clock, frame times in, where each frame lies out.

#include "platform/media/TrackTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>

namespace fw::media::detail {
namespace {

constexpr std::int64_t N = AV_NOPTS_VALUE;

struct Packet {
    int stream;
    std::int64_t pts, dts, duration;
    bool operator==(const Packet&) const = default;
};
using Packets = std::vector<Packet>;

// `count` packets of `stream` from `first`, `step` apart, each shown `delay` after it is decoded.
Packets line(int stream, std::int64_t first, int count, std::int64_t step, std::int64_t delay = 0) {
    Packets packets;
    for (int i = 0; i < count; ++i) packets.push_back({stream, first + i * step + delay, first + i * step, step});
    return packets;
}

// `count` pictures reordered as three B-frames in a pyramid leave them, decoded two steps before the first shows.
Packets pyramidOf(int count, std::int64_t step) {
    constexpr int kShown[] = {3, 1, 0, 2};  // where each of four decoded after it shows in their group
    Packets packets;
    for (int i = 0; i < count; ++i)
        packets.push_back({0, i == 0 ? 0 : ((i - 1) / 4 * 4 + 1 + kShown[(i - 1) % 4]) * step, (i - 2) * step, step});
    return packets;
}

// The decode times a Matroska demuxer guesses from the showing times: the least of the three latest it keeps.
Packets guessed(Packets packets) {
    std::array<std::int64_t, 3> kept{N, N, N};
    for (Packet& p : packets) kept[0] = p.pts, std::sort(kept.begin(), kept.end()), p.dts = kept[0];
    return packets;
}

Packets operator+(Packets a, const Packets& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The packets with `change` made to those from `from` to `to` (excluded).
Packets changed(Packets packets, std::size_t from, std::size_t to, const std::function<void(Packet&)>& change) {
    for (std::size_t i = from; i < std::min(to, packets.size()); ++i) change(packets[i]);
    return packets;
}

std::function<void(Packet&)> movedBy(std::int64_t pts, std::int64_t dts) {
    return [=](Packet& p) { p.pts += pts, p.dts += dts; };
}
std::function<void(Packet&)> late(std::int64_t by) { return movedBy(by, by); }

// Two tracks' packets merged by decode time, the pictures first at the same time.
Packets interleaved(const Packets& pictures, const Packets& sound) {
    Packets merged;
    for (std::size_t p = 0, s = 0; p < pictures.size() || s < sound.size();)
        merged.push_back(s == sound.size() || (p < pictures.size() && pictures[p].dts <= sound[s].dts) ? pictures[p++]
                                                                                                       : sound[s++]);
    return merged;
}

const StreamTiming kPictures90k{AVMEDIA_TYPE_VIDEO, {1, 90000}, 33, 0, true};
const StreamTiming kSound90k{AVMEDIA_TYPE_AUDIO, {1, 90000}, 33, 0, true};
const StreamTiming kPicturesMs{AVMEDIA_TYPE_VIDEO, {1, 1000}, 64, 0, true};
const StreamTiming kSoundMs{AVMEDIA_TYPE_AUDIO, {1, 1000}, 64, 0, true};
const StreamTiming kSound48k{AVMEDIA_TYPE_AUDIO, {1, 48000}, 64, 0, true};
const StreamTiming kDataMs{AVMEDIA_TYPE_DATA, {1, 1000}, 64, 0, true};

// A time that the track's next packets contradict (they go on from the line before it, or do not move on at all)
// takes the one the line implies; one they confirm keeps its own. Where the clock may start again or wrap (MPEG-TS,
// MPEG-PS), each recording follows on from the one before, and pictures stored without a time of their own are
// spread between their timed neighbours.
TEST(TrackTimeline, EachStoredTimeMeansWhatTheTrackPacketsAfterItConfirm) {
    const Packets sound = line(0, 0, 40, 21), pictures = line(0, 0, 40, 40), longer = line(0, 0, 400, 21);  // ms
    const Packets sound48k = line(0, 0, 40, 1024), pictures90k = line(0, 0, 60, 3600, 7200);
    const std::int64_t hour = 3600000;
    const auto jittered = changed(sound, 0, 40, [](Packet& p) { p.pts = p.dts += p.dts % 2 ? 10 : -10; });
    const auto reordered = changed(pictures, 0, 40, [](Packet& p) { p.dts = N, p.pts += p.pts / 40 % 3 ? -40 : 80; });
    // As the ffmpeg tool leaves a packet moved on: those after it follow it a tick apart, or stay at its time until
    // their own catch up with it.
    const auto tickApart = [&](std::int64_t length) {
        return changed(changed(sound48k, 20, 21, [=](Packet& p) { p.duration = length; }), 21, 40,
                       [=](Packet& p) { p.pts = p.dts = length + 1024 * 20 + p.dts / 1024, p.duration = 1; });
    };
    const Packets steady90k = line(0, 0, 60, 3600);
    // 10 s of sound and pictures, the sound from 2 s to 6 s stored an hour late.
    const Packets tracks10s = interleaved(line(0, 0, 469, 1920), line(1, 0, 250, 3600));
    const auto runLate = [&](std::int64_t seconds, const Packets* tracks = nullptr) {
        return changed(tracks ? *tracks : tracks10s, 0, 719, [=](Packet& p) {
            if (p.stream == 0 && p.dts >= 180000 && p.dts < 540000) p.pts = p.dts += seconds * 90000;
        });
    };
    const auto caughtUp =
        changed(steady90k, 20, 60, [](Packet& p) { p.pts = p.dts = std::max(p.dts, 162000 + p.dts / 3600 - 20); });
    // 3 s of pictures and sound from the clock's zero; the sound reaches 270720.
    const Packets recording = interleaved(line(0, 0, 75, 3600), line(1, 0, 141, 1920));
    const Packets joined = recording + changed(recording, 0, recording.size(), movedBy(270720, 270720));
    // Reordered pictures as the ffmpeg tool leaves them after one moved an hour on: the rest stuck at its time, decode
    // times guessed as a Matroska demuxer guesses them. A picture takes the one place left free among those around it;
    // where more are, none: it shows after the one the decoder gives out before it.
    const Packets pyramid = pyramidOf(40, 40);
    const auto stuck = guessed(changed(pyramid, 20, 40, [](Packet& p) { p.pts = hour + 840; }));
    // 6 s of sound from 2 s an hour late, the rest of its 10 s at the time the last of them ends.
    const Packets sound10s = line(0, 0, 470, 21);
    const auto stuckAfterRun =
        changed(changed(sound10s, 94, 376, late(hour)), 376, 470, [&](Packet& p) { p.pts = p.dts = hour + 375 * 21; });
    // Both tracks from 2 s to 5.3 s stored an hour late, the sound 0.6 s after the pictures of its time.
    const Packets both = changed(interleaved(line(0, 0, 250, 3600), line(1, -54000, 469, 1920)), 0, 719,
                                 [](Packet& p) { p.pts = p.dts += p.stream * 54000; });
    const auto bothLate =
        changed(both, 0, 719, [](Packet& p) { p.pts = p.dts += p.dts >= 180000 && p.dts < 477000 ? 324000000 : 0; });
    // 10 s of sound beside 2 s of pictures.
    const Packets sound2s = interleaved(line(0, 0, 469, 1920), line(1, 0, 50, 3600));
    // A sound packet `by` ms on whose track's next packets lie 1100 of another track's on in the file.
    const auto farOn = [&](std::int64_t by) {
        return line(0, 0, 20, 21) + line(0, 420 + by, 1, 21) + line(1, 0, 1100, 10) + line(0, 441 + by, 19, 21);
    };
    // 3 s of pictures and sound, the pictures running 2 s longer; then one whose clock starts `at` s on, and the
    // first of its packets.
    const Packets longerPictures = interleaved(line(0, 0, 125, 3600), line(1, 0, 141, 1920));
    const auto joinedAt = [&](std::int64_t at) {
        return longerPictures + changed(longerPictures, 0, longerPictures.size(), late(at * 90000));
    };
    const Packets firstsAt5s = {{0, 450000, 450000, 3600}, {1, 450000, 450000, 1920}};
    // Counted by the library a picture too far on from the timed one before them.
    const Packets untimed = line(0, 0, 1, 3600) + changed(line(0, 7200, 3, 3600), 0, 3, [](Packet& p) { p.pts = N; }) +
                            line(0, 14400, 10, 3600);
    const struct Row {
        const char* name;
        std::vector<StreamTiming> streams;
        Packets in, out;                         // none: as they came in
        std::size_t outOfLine = 0, through = 0;  // those of the first track from one to the other, the last excluded
        Packets jumped = {};
        std::pair<std::size_t, std::size_t> secondOutOfLine = {};  // those of the second track
    } rows[] = {
        {"sound following on", {kSoundMs}, sound, {}},
        {"jitter of 10 ms", {kSoundMs}, jittered, {}},
        {"one sound packet an hour late", {kSoundMs}, changed(sound, 20, 21, movedBy(hour, hour)), sound, 20, 21},
        {"one sound packet an hour early", {kSoundMs}, changed(sound, 20, 21, movedBy(-hour, -hour)), sound, 20, 21},
        {"five sound packets an hour late", {kSoundMs}, changed(sound, 20, 25, movedBy(hour, hour)), sound, 20, 25},
        {"five sound packets an hour late, then stuck there",
         {kSoundMs},
         changed(sound, 20, 40, [&](Packet& p) { p.pts = p.dts = hour + std::min<std::int64_t>(p.dts, 24 * 21); }),
         sound,
         20,
         40},
        {"one sound packet at 2^62 ms",
         {kSoundMs},
         changed(sound, 20, 21, movedBy(1LL << 62, 1LL << 62)),
         sound,
         20,
         21},
        {"one showing time at 2^62 ms",
         {kPicturesMs},
         changed(pictures, 20, 21, movedBy(1LL << 62, 0)),
         pictures,
         20,
         21},
        {"the last sound packet an hour late", {kSoundMs}, changed(sound, 39, 40, movedBy(hour, hour)), sound, 39, 40},
        // Runs of damaged times that come back within the seconds a jump waits.
        {"1 s of sound an hour late", {kSoundMs}, changed(longer, 20, 71, movedBy(hour, hour)), longer, 20, 71},
        {"2 s of sound an hour late", {kSoundMs}, changed(longer, 20, 115, movedBy(hour, hour)), longer, 20, 115},
        {"2.9 s of sound an hour late", {kSoundMs}, changed(longer, 20, 158, movedBy(hour, hour)), longer, 20, 158},
        {"6 s of sound an hour late", {kSoundMs}, changed(longer, 20, 305, movedBy(hour, hour)), longer, 20, 305},
        // However long, beside pictures that do not go there.
        {"4 s of sound an hour late beside pictures", {kSound90k, kPictures90k}, runLate(3600), tracks10s, 94, 282},
        {"4 s of sound 10 s late beside pictures", {kSound90k, kPictures90k}, runLate(10), tracks10s, 94, 282},
        // Or where the track stands still after it to the last packet seen, as a muxer leaves those after a run.
        {"6 s of sound an hour late, the rest stuck at its end", {kSoundMs}, stuckAfterRun, sound10s, 94, 470},
        // Every track, coming back: no new recording, as its clock comes back, nor a pause; nor where the others
        // ended before it.
        {"both tracks an hour late for 3.3 s", {kPictures90k, kSound90k}, bothLate, both, 50, 133, {}, {94, 249}},
        {"4 s of sound an hour late, pictures ended", {kSound90k, kPictures90k}, runLate(3600, &sound2s), sound2s},
        // Short of far, the track's next packets alone vouch for a jump, most of them, not half; a far one waits for
        // them to come back.
        {"three sound packets 0.2 s late", {kSoundMs}, changed(sound, 20, 23, late(200)), sound, 20, 23},
        {"2 s of sound a second late", {kSoundMs}, changed(longer, 20, 115, late(1000)), longer, 20, 115},
        // Nothing of the track after it in sight: a jump a pause may make stands, a longer one does not.
        {"sound 30 s on, nothing of it after", {kSoundMs, kDataMs}, farOn(30000), {}, 0, 0, {{0, 30420, 30420, 21}}},
        {"sound 2 minutes on, nothing of it after", {kSoundMs, kDataMs}, farOn(120000), farOn(0), 20, 40},
        // A year from the start is as far as a recording reaches, however its packets go on.
        {"sound pausing for 40 days", {kSoundMs}, changed(longer, 20, 400, late(40 * 24 * hour)), {}},
        {"two years late from 0.4 s", {kSoundMs}, changed(longer, 20, 400, late(17532 * hour)), longer, 20, 400},
        // A recording joined on after one whose pictures run on 2 s past the sound's jump: no pause of the sound's.
        {"joined 2 minutes on", {kPictures90k, kSound90k}, joinedAt(120), joinedAt(5), 0, 0, firstsAt5s},
        {"one picture an hour late", {kPicturesMs}, changed(pictures, 20, 21, movedBy(hour, hour)), pictures, 20, 21},
        {"a showing time alone",
         {kPictures90k},
         changed(pictures90k, 20, 21, movedBy(90 * hour, 0)),
         pictures90k,
         20,
         21},
        {"a length of an hour, then a tick apart", {kSound48k}, tickApart(3600LL * 48000), sound48k, 21, 40},
        {"a length of 30 s, then a tick apart", {kSound48k}, tickApart(30LL * 48000), sound48k, 21, 40},
        {"a second late, then stuck until caught up",
         {kPictures90k},
         caughtUp,
         changed(steady90k, 45, 46, movedBy(25, 25)),
         20,
         45},
        {"reordered pictures, one showing time an hour on",
         {kPicturesMs},
         changed(pyramid, 20, 21, movedBy(hour, 0)),
         pyramid,
         20,
         21},
        {"two reordered pictures' showing times an hour on",
         {kPicturesMs},
         changed(pyramid, 20, 22, movedBy(hour, 0)),
         changed(pyramid, 21, 22, [](Packet& p) { p.pts = N; }),
         20,
         22},
        {"six reordered pictures' showing times an hour on",
         {kPicturesMs},
         changed(pyramid, 20, 26, movedBy(hour, 0)),
         changed(pyramid, 21, 26, [](Packet& p) { p.pts = N; }),
         20,
         26},
        {"reordered pictures stuck an hour on, decode times guessed",
         {kPicturesMs},
         stuck,
         changed(guessed(pyramid), 21, 40, [](Packet& p) { p.pts = N; }),
         20,
         40},
        // What follows goes on from the jump.
        {"sound pausing for 5 s", {kSoundMs}, changed(sound, 20, 40, movedBy(5000, 5000)), {}},
        {"shown after a lost signal", {kPictures90k}, changed(pictures90k, 20, 60, movedBy(2700000, 0)), {}},
        {"pictures timed by their showing alone", {kPicturesMs}, reordered, {}},
        {"the clock started again",
         {kPictures90k, kSound90k},
         recording + recording,
         joined,
         0,
         0,
         {{0, 270720, 270720, 3600}, {1, 270720, 270720, 1920}}},
        {"untimed pictures after a timed one",
         {kPictures90k, kSound90k},
         untimed,
         changed(untimed, 1, 4, movedBy(0, -3600))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        struct Out {
            Packet packet;
            bool outOfLine, jumped;
        };
        std::vector<Out> out;
        // Two tracks: as MPEG-TS or MPEG-PS.
        Timelines timelines(row.streams, row.streams.size() > 1, [&](PacketPtr p) {
            out.push_back({{p->stream_index, p->pts, p->dts, p->duration}, outOfLine(*p), timeJumped(*p)});
        });
        for (const Packet& packet : row.in) {
            PacketPtr made = makePacket();
            made->stream_index = packet.stream, made->pts = packet.pts, made->dts = packet.dts;
            made->duration = packet.duration;
            timelines.file(std::move(made));
        }
        timelines.finish();
        // Each track in its order: the tracks may pass one another by a packet or two.
        for (int stream = 0; stream < int(row.streams.size()); ++stream) {
            std::vector<Out> got;
            Packets expected;
            std::copy_if(out.begin(), out.end(), std::back_inserter(got),
                         [&](auto& p) { return p.packet.stream == stream; });
            const Packets& want = row.out.empty() ? row.in : row.out;
            std::copy_if(want.begin(), want.end(), std::back_inserter(expected),
                         [&](const Packet& p) { return p.stream == stream; });
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].packet.pts, expected[i].pts) << "track " << stream << ", packet " << i;
                EXPECT_EQ(got[i].packet.dts, expected[i].dts) << "track " << stream << ", packet " << i;
                const auto [from, to] = stream == 0 ? std::pair(row.outOfLine, row.through) : row.secondOutOfLine;
                EXPECT_EQ(got[i].outOfLine, i >= from && i < to) << "track " << stream << ", packet " << i;
                EXPECT_EQ(got[i].jumped, std::count(row.jumped.begin(), row.jumped.end(), expected[i]) == 1)
                    << "track " << stream << ", packet " << i;
            }
        }
    }
}

// The sound's clock over frames of 1024 samples at 48 kHz: stored times that jitter, drift or stray alone move
// nothing in a step; a drop-out or an overlap from 5 ms on is a step, to the sample, and one of a frame still is
// where the stored times jitter at random by up to 20 ms.
TEST(SoundClock, StepsOnlyWhereTheStoredTimesConfirmAGapOrAnOverlap) {
    constexpr int kFrames = 2800;           // a minute
    constexpr double kFrame = 1024 / 48.0;  // ms
    const auto from = [](int step, double by) { return [=](int i) { return 1024.0 * i + (i < step ? 0 : by * 48); }; };
    const auto from40 = [&](double by) { return from(40, by); };
    const auto at1000 = [&](double by) { return from(1000, by); };
    const auto steady = [](int i) { return 1024.0 * i; };
    // Up to `ms` either way at random, as `seed` picks on any machine, each none before the one before (as a muxer
    // keeps them), for every `every`th frame, those between counted on from it (as the demuxer counts on the frames
    // of a stored packet); from frame 1000 on `by` ms later.
    const auto atRandom = [&](double ms, std::uint32_t seed, double by = 0, int every = 1) {
        std::mt19937 random(seed);
        std::vector<double> stored;
        for (int i = 0; i < kFrames; ++i) {
            const double at = at1000(by)(i) + ms * 48 * (random() / 2147483648.0 - 1);
            stored.push_back(i % every ? stored.back() + 1024 : std::max(at, i ? stored[i - every] : 0));
        }
        return [stored](int i) { return std::optional(stored[i]); };
    };
    const struct Row {
        const char* name;
        std::function<std::optional<double>(int)> stored;
        std::vector<int> steps;
        std::function<double(int)> at = nullptr;  // where each frame lies; where stored when none
        double within = 0.5;                      // samples
        int jump = -1;
    } rows[] = {
        {"following on", steady, {}},
        {"jitter of 8 ms", [](int i) { return 1024.0 * i + std::round(8 * 48 * std::sin(i * 2.3)); }, {}, steady, 144},
        // Where fewer frames are known ahead, at the end, the clock lags by a few samples.
        {"1000 ppm fast", [](int i) { return 1024.0 * i * 1.001; }, {}, nullptr, 8},
        {"200 ppm slow", [](int i) { return 1024.0 * i * 0.9998; }, {}, nullptr, 2},
        {"a frame dropped out", from40(1024 / 48.0), {40}},
        {"overlapping by a frame", from40(-1024 / 48.0), {40}},
        {"a 6 ms drop-out", from40(6), {40}},
        {"a 4 ms drop-out closing up", from40(4), {}, nullptr, 4 * 48},
        {"one frame 50 ms out", [](int i) { return 1024.0 * i + (i == 40 ? 50 * 48 : 0); }, {}, steady},
        {"a gap after the first frame", [](int i) { return 1024.0 * i + (i == 0 ? 0 : 59 * 48); }, {1}},
        {"frames whose times say nothing",
         [](int i) { return i >= 40 && i < 60 ? std::nullopt : std::optional(1024.0 * i); },
         {},
         steady},
        {"a join", from40(1000), {40}, nullptr, 0.5, 40},
        {"jitter of 8 ms at random", atRandom(8, 11), {}, steady, 96},
        {"jitter of 12 ms at random", atRandom(12, 12), {}, steady, 144},
        {"jitter of 20 ms at random", atRandom(20, 13), {}, steady, 288},
        {"20 ms at random, stored for every 14th frame", atRandom(20, 16, 0, 14), {}, steady, 960},
        {"20 ms at random, a frame dropped out", atRandom(20, 14, kFrame), {1000}, at1000(kFrame), 288},
        {"20 ms at random, a frame overlaps", atRandom(20, 15, -kFrame), {1000}, at1000(-kFrame), 288},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SoundClock clock(48000);
        std::vector<SoundClock::Place> places;
        for (int i = 0; i < kFrames; ++i) {
            // A time that steps back is marked as a jump, as the reader marks it.
            const bool back = i > 0 && row.stored(i) && row.stored(i - 1) && *row.stored(i) < *row.stored(i - 1);
            clock.add(row.stored(i), 1024, i == row.jump || back);
            while (clock.ready(false)) places.push_back(clock.place());
        }
        while (clock.ready(true)) places.push_back(clock.place());
        ASSERT_EQ(places.size(), std::size_t(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            EXPECT_EQ(places[i].step, std::count(row.steps.begin(), row.steps.end(), i) == 1) << "frame " << i;
            EXPECT_NEAR(places[i].at, row.at ? row.at(i) : *row.stored(i), row.within) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace fw::media::detail
