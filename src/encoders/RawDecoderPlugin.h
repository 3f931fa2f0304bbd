/* The camera-RAW plug-in interface: the whole contract between Framewright
 * and a decoder plug-in (a bridge over a camera maker's decoding library).
 * Plain C, so that a plug-in may be built with any compiler.
 *
 * A plug-in fills one FWRawDecoderPlugin and hands it to
 * FWRawDecoderRegistryRegisterPlugin(), which the program exports. The
 * program itself never searches for nor loads plug-ins: whatever brings the
 * plug-in into the process (a preload, an embedding application) makes it
 * register before a camera-RAW file is encoded.
 *
 * Versions: apiVersion must be FW_RAW_PLUGIN_API_VERSION; a later version
 * adds members only at the end of the structures.
 *
 * Threads: registration may come from any thread. canOpen and openClip may
 * be called from any thread; a clip's members are called by one thread at a
 * time.
 *
 * Memory: the registry copies the plug-in structure and its identifier; the
 * context and the functions must stay valid for the life of the process.
 * Each clip opened is closed exactly once with closeClip. Each frame that
 * copyFrame fills is handed back exactly once through its release function
 * (when not null), whatever copyFrame returned and whether or not its pixels
 * were usable. */
#ifndef FRAMEWRIGHT_RAW_DECODER_PLUGIN_H
#define FRAMEWRIGHT_RAW_DECODER_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FW_RAW_PLUGIN_API_VERSION 1u

/* An opened clip; its layout is the plug-in's own. */
typedef struct FWRawClipHandle FWRawClipHandle;

/* One decoded frame: height rows from top to bottom, each width x 4 bytes
 * without padding, each pixel blue, green, red, alpha (straight alpha).
 * byteCount is the length of bgraData; extra bytes are ignored. */
typedef struct FWRawFrame {
    int64_t width;
    int64_t height;
    const uint8_t* bgraData;
    uint64_t byteCount;
    /* The plug-in's own, for release. */
    void* releaseContext;
    /* Frees what the frame holds; called once by the program. May be null. */
    void (*release)(struct FWRawFrame* frame);
} FWRawFrame;

typedef struct FWRawDecoderPlugin {
    uint32_t apiVersion;
    /* Identity of the plug-in (UTF-8); a later registration with an equal
     * identifier replaces the earlier one. */
    const char* identifier;
    /* Handed to canOpen and openClip. */
    void* context;
    /* Non-zero when the plug-in can decode the file at `path` (UTF-8). */
    int (*canOpen)(void* context, const char* path);
    /* Opens the clip; null when it cannot be opened. */
    FWRawClipHandle* (*openClip)(void* context, const char* path);
    int64_t (*frameCount)(FWRawClipHandle* clip);
    /* Frames per second; 0 or less (or not a number) means 24. */
    double (*frameRate)(FWRawClipHandle* clip);
    int64_t (*width)(FWRawClipHandle* clip);
    int64_t (*height)(FWRawClipHandle* clip);
    /* Decodes frame `index` (0-based) into *frame, which the program has
     * zeroed. Returns 0 on success, anything else when the frame cannot be
     * decoded. */
    int (*copyFrame)(FWRawClipHandle* clip, int64_t index, FWRawFrame* frame);
    void (*closeClip)(FWRawClipHandle* clip);
} FWRawDecoderPlugin;

/* Results of registration. */
#define FW_RAW_REGISTERED 0
#define FW_RAW_INCOMPLETE_PLUGIN (-1) /* null plug-in, identifier or function */
#define FW_RAW_UNSUPPORTED_VERSION (-2)
#define FW_RAW_REGISTRATION_FAILED (-3) /* out of memory */

/* Registers `plugin` (copied). Exported by the program. */
__attribute__((visibility("default"))) int FWRawDecoderRegistryRegisterPlugin(const FWRawDecoderPlugin* plugin);

#ifdef __cplusplus
}
#endif

#endif
