/* A camera-RAW plug-in for the tests, written against the C interface alone. It reads no file: the clip is described
 * by the file's name, <width>x<height>_<frames>f_<rate in 1/1000 fps>m_<mode><frame>.fwraw, e.g.
 * 64x36_12f_24000m_ok0.fwraw (".fwrawso" for the shared object). Modes: "ok"; "fail" (copyFrame fails from that frame
 * on); "short" (that frame is one byte short); "huge" (that frame claims an absurd width); "nan" (the rate is not a
 * number). Frame i is a gradient with red 16 + (23 i mod 224), so that order can be checked.
 *
 * Built into the test program (patternRawPlugin() hands out the table) and as a shared object that registers itself
 * when loaded; each build opens its own files, so that both may be registered at once. */
#include "encoders/RawDecoderPlugin.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef PATTERN_PLUGIN_IDENTIFIER
#define PATTERN_PLUGIN_IDENTIFIER "test.pattern.builtin"
#endif
#ifndef PATTERN_PLUGIN_EXTENSION
#define PATTERN_PLUGIN_EXTENSION ".fwraw"
#endif

typedef struct PatternClip {
    long long width, height, frames, milliRate, modeFrame;
    char mode[16];
} PatternClip;

static long long framesHandedOut = 0, framesReleased = 0;

__attribute__((visibility("default"))) long long patternRawFramesOutstanding(void) {
    return framesHandedOut - framesReleased;
}

static int parse(const char* path, PatternClip* clip) {
    memset(clip, 0, sizeof *clip);
    const char* name = strrchr(path, '/') ? strrchr(path, '/') + 1 : path;
    const size_t length = strlen(name), extension = strlen(PATTERN_PLUGIN_EXTENSION);
    if (length < extension || strcmp(name + length - extension, PATTERN_PLUGIN_EXTENSION) != 0) return 0;
    return sscanf(name, "%lldx%lld_%lldf_%lldm_%15[a-z]%lld", &clip->width, &clip->height, &clip->frames,
                  &clip->milliRate, clip->mode, &clip->modeFrame) == 6;
}

static int canOpen(void* context, const char* path) {
    (void)context;
    PatternClip clip;
    return parse(path, &clip);
}

static FWRawClipHandle* openClip(void* context, const char* path) {
    (void)context;
    PatternClip* clip = malloc(sizeof *clip);
    if (clip && parse(path, clip)) return (FWRawClipHandle*)clip;
    free(clip);
    return NULL;
}

static const PatternClip* clipOf(FWRawClipHandle* handle) { return (const PatternClip*)handle; }
static int64_t frameCount(FWRawClipHandle* handle) { return clipOf(handle)->frames; }
static int64_t width(FWRawClipHandle* handle) { return clipOf(handle)->width; }
static int64_t height(FWRawClipHandle* handle) { return clipOf(handle)->height; }
static void closeClip(FWRawClipHandle* handle) { free(handle); }

static double frameRate(FWRawClipHandle* handle) {
    return strcmp(clipOf(handle)->mode, "nan") == 0 ? NAN : (double)clipOf(handle)->milliRate / 1000.0;
}

static void releaseFrame(FWRawFrame* frame) {
    free(frame->releaseContext);
    ++framesReleased;
}

static int copyFrame(FWRawClipHandle* handle, int64_t index, FWRawFrame* frame) {
    const PatternClip* clip = clipOf(handle);
    if (strcmp(clip->mode, "fail") == 0 && index >= clip->modeFrame) return 1;
    const size_t w = (size_t)clip->width, h = (size_t)clip->height;
    uint8_t* pixels = malloc(w * h * 4);
    if (!pixels) return 1;
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
            uint8_t* p = pixels + (y * w + x) * 4;
            p[0] = (uint8_t)(x * 255 / (w > 1 ? w - 1 : 1));
            p[1] = (uint8_t)(y * 255 / (h > 1 ? h - 1 : 1));
            p[2] = (uint8_t)(16 + (index * 23) % 224);
            p[3] = 255;
        }
    frame->width = clip->width;
    frame->height = clip->height;
    frame->bgraData = pixels;
    frame->byteCount = w * h * 4 - (strcmp(clip->mode, "short") == 0 && index == clip->modeFrame);
    if (strcmp(clip->mode, "huge") == 0 && index == clip->modeFrame) frame->width = INT64_C(1) << 62;
    frame->releaseContext = pixels;
    frame->release = releaseFrame;
    ++framesHandedOut;
    return 0;
}

__attribute__((visibility("default"))) FWRawDecoderPlugin patternRawPlugin(void) {
    FWRawDecoderPlugin plugin = {FW_RAW_PLUGIN_API_VERSION, PATTERN_PLUGIN_IDENTIFIER, NULL, canOpen, openClip,
                                 frameCount, frameRate, width, height, copyFrame, closeClip};
    return plugin;
}

#ifdef PATTERN_PLUGIN_SELF_REGISTERS
/* The registration result, for the test to read. */
__attribute__((visibility("default"))) int patternRawRegistration = 1;

__attribute__((constructor)) static void registerOnLoad(void) {
    const FWRawDecoderPlugin plugin = patternRawPlugin();
    patternRawRegistration = FWRawDecoderRegistryRegisterPlugin(&plugin);
}
#endif
