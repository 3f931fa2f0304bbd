// JPEG through libjpeg-turbo, turned upright by the file's EXIF orientation.
//
// libjpeg reports errors by calling error_exit, which must not return: we
// longjmp back to the setjmp in trapped(). Only plain C data lives in the
// frames between the two, so no destructor is skipped; C++ objects (the row
// buffer, the canvas) are made outside the trapped steps.

#include "platform/media/MediaError.h"
#include "platform/media/image/ImageReaders.h"
#include "platform/media/image/OrientedCanvas.h"

#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

namespace fw::media::image {

namespace {
// Progressive files with more scans than this are refused: each scan costs a
// pass over the whole picture, and real files have at most a few dozen
// (libjpeg-turbo's own TurboJPEG interface draws the line at the same place).
constexpr int kMaxScans = 500;

struct ErrorTrap {
    jpeg_error_mgr manager;  // first: libjpeg hands us back its address
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void leave(j_common_ptr info) {
    auto* trap = reinterpret_cast<ErrorTrap*>(info->err);
    std::longjmp(trap->jump, 1);
}

[[noreturn]] void onError(j_common_ptr info) {
    info->err->format_message(info, reinterpret_cast<ErrorTrap*>(info->err)->message);
    leave(info);
}

// Level -1 is a warning about damaged data. A premature end is fatal: libjpeg
// would fill the rest of the picture with grey. Other damage (stray bytes
// between markers) is passed over, as viewers do.
void onMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    if (info->err->msg_code == JWRN_JPEG_EOF) onError(info);
    ++info->err->num_warnings;
}

void onProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) {
        std::snprintf(reinterpret_cast<ErrorTrap*>(info->err)->message, JMSG_LENGTH_MAX,
                      "more than %d progressive scans", kMaxScans);
        leave(info);
    }
}

struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorTrap trap{};
    jpeg_progress_mgr progress{};
    bool created = false;

    Decompressor() {
        info.err = jpeg_std_error(&trap.manager);
        trap.manager.error_exit = onError;
        trap.manager.emit_message = onMessage;
        progress.progress_monitor = onProgress;
    }
    ~Decompressor() {
        if (created) jpeg_destroy_decompress(&info);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Runs a step that calls libjpeg; throws with libjpeg's message when it fails.
    template <class Step>
    void trapped(Step&& step) {
        if (!run(step)) throw MediaError(std::string("the JPEG data is damaged: ") + trap.message);
    }

private:
    template <class Step>
    bool run(Step& step) {
        if (setjmp(trap.jump)) return false;
        step();
        return true;
    }
};

std::uint16_t read16(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<std::uint16_t>(p[0] << 8 | p[1]) : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}
std::uint32_t read32(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3])
                     : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
}

// The orientation tag (274) of IFD0 in an EXIF block: "Exif\0\0", then a TIFF
// header ("II" or "MM", 42, IFD0's offset) and the IFD (a 16-bit count, then
// 12-byte entries: tag, type, count, value). 1 when absent or unreadable.
bool isExif(std::span<const std::uint8_t> segment) {
    return segment.size() >= 6 && std::memcmp(segment.data(), "Exif\0\0", 6) == 0;
}

int exifOrientation(std::span<const std::uint8_t> exif) {
    if (exif.size() < 14) return 1;
    const std::span<const std::uint8_t> tiff = exif.subspan(6);
    const bool bigEndian = tiff[0] == 'M' && tiff[1] == 'M';
    if (!bigEndian && !(tiff[0] == 'I' && tiff[1] == 'I')) return 1;
    if (read16(tiff.data() + 2, bigEndian) != 42) return 1;
    const std::uint32_t ifd = read32(tiff.data() + 4, bigEndian);
    if (ifd > tiff.size() - 2) return 1;
    const std::size_t count = read16(tiff.data() + ifd, bigEndian);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (entry + 12 > tiff.size()) return 1;
        const std::uint8_t* p = tiff.data() + entry;
        if (read16(p, bigEndian) != 274) continue;
        // A SHORT, stored in the first two bytes of the value field.
        const int value = read16(p + 2, bigEndian) == 3 ? read16(p + 8, bigEndian) : 1;
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

// The EXIF orientation from the first APP1 segment holding EXIF, found by
// walking the marker segments up to the first scan.
int jpegOrientation(std::span<const std::uint8_t> file) {
    std::size_t offset = 2;  // past SOI
    while (offset + 4 <= file.size()) {
        if (file[offset] != 0xFF) return 1;
        const std::uint8_t marker = file[offset + 1];
        if (marker == 0xFF) {  // fill byte
            ++offset;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 1;              // start of scan, end of image
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // segments without a length
            offset += 2;
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(file[offset + 2]) << 8 | file[offset + 3];
        if (length < 2 || offset + 2 + length > file.size()) return 1;
        // APP1 also carries XMP; the first one that is EXIF decides.
        const std::span<const std::uint8_t> segment = file.subspan(offset + 4, length - 2);
        if (marker == 0xE1 && isExif(segment)) return exifOrientation(segment);
        offset += 2 + length;
    }
    return 1;
}

// CMYK as stored by libjpeg into BGRA, in place. Adobe's writers store the
// inks inverted (255 = no ink), which is what nearly every CMYK JPEG is.
void cmykToBgra(std::uint8_t* row, int width, bool inverted) {
    for (int x = 0; x < width; ++x, row += 4) {
        int c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        row[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        row[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        row[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
        row[3] = 255;
    }
}
}  // namespace

void readJpeg(std::span<const std::uint8_t> file, const CanvasProvider& canvas) {
    if (file.empty()) throw MediaError("the JPEG data is damaged: the file is empty");
    Decompressor jpeg;
    bool cmyk = false;
    jpeg.trapped([&] {
        jpeg_create_decompress(&jpeg.info);
        jpeg.created = true;
        jpeg.info.progress = &jpeg.progress;
        jpeg_mem_src(&jpeg.info, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&jpeg.info, TRUE);
        cmyk = jpeg.info.jpeg_color_space == JCS_CMYK || jpeg.info.jpeg_color_space == JCS_YCCK;
        jpeg.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
        // The size the rows will have, which the canvas is made for.
        jpeg_calc_output_dimensions(&jpeg.info);
    });
    const int width = static_cast<int>(std::min<JDIMENSION>(jpeg.info.output_width, kMaxSide + 1));
    const int height = static_cast<int>(std::min<JDIMENSION>(jpeg.info.output_height, kMaxSide + 1));
    checkImageSize(width, height);
    if (jpeg.info.output_components != 4) throw MediaError("the JPEG data is damaged: its colours cannot be read");

    const int orientation = jpegOrientation(file);
    const bool swaps = OrientedCanvas::swapsSides(orientation);
    const OrientedCanvas target(canvas(swaps ? height : width, swaps ? width : height), width, height, orientation);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
    jpeg.trapped([&] {
        jpeg_start_decompress(&jpeg.info);
        while (jpeg.info.output_scanline < jpeg.info.output_height) {
            const int y = static_cast<int>(jpeg.info.output_scanline);
            std::uint8_t* direct = cmyk ? nullptr : target.directRow(y);
            JSAMPROW rows[] = {direct ? direct : row.data()};
            if (jpeg_read_scanlines(&jpeg.info, rows, 1) != 1) break;
            if (cmyk) cmykToBgra(row.data(), width, jpeg.info.saw_Adobe_marker);
            if (!direct) target.writeRow(y, row.data());
        }
    });
    // The picture is whole; what follows the last scan (the end marker) is not
    // needed, so a file cut just there is still read.
    if (jpeg.info.output_scanline < jpeg.info.output_height)
        throw MediaError("the JPEG data is damaged: it ends early");
}

}  // namespace fw::media::image
