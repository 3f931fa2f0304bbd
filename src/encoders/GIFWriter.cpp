#include "encoders/GIFWriter.h"

#include "model/EncodingError.h"
#include "platform/core/WriteFailure.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace fw {

namespace {

constexpr std::int64_t kLongestDelay = 65535;  // the graphic control block's 16-bit field

// giflib's colour tables hold a power of two colours, at least two.
int tableSize(std::size_t colours) {
    int size = 2;
    while (static_cast<std::size_t>(size) < colours) size *= 2;
    return size;
}

struct ColorMapDeleter {
    void operator()(ColorMapObject* map) const noexcept { GifFreeMapObject(map); }
};
using ColorMap = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

ColorMap colorMap(const std::vector<std::array<std::uint8_t, 3>>& palette) {
    std::vector<GifColorType> colours(static_cast<std::size_t>(tableSize(palette.size())), GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < palette.size(); ++i) colours[i] = {palette[i][0], palette[i][1], palette[i][2]};
    return ColorMap(GifMakeMapObject(static_cast<int>(colours.size()), colours.data()));
}

}  // namespace

struct GIFWriter::Impl {
    std::filesystem::path shown;  // the file messages name
    GifFileType* gif = nullptr;
    int width = 0;
    int height = 0;
    std::vector<GifPixelType> row;  // giflib masks the line it is given in place

    ~Impl() { close(); }

    // 0 when closed, else giflib's error.
    int close() {
        if (!gif) return 0;
        int error = 0;
        const bool closed = EGifCloseFile(gif, &error) == GIF_OK;
        gif = nullptr;
        return closed ? 0 : error;
    }

    // `what` failed with giflib's `gifError`: the system's reason (errno,
    // `systemError`, as the failed call left it) when the file would not take
    // the bytes, else giflib's own.
    EncodingError failure(const std::string& what, int gifError, int systemError) const {
        const bool fileFailed = gifError == E_GIF_ERR_OPEN_FAILED || gifError == E_GIF_ERR_WRITE_FAILED ||
                                gifError == E_GIF_ERR_CLOSE_FAILED || gifError == E_GIF_ERR_DISK_IS_FULL;
        const std::string named = what + " \u201c" + shown.filename().string() + "\u201d: ";
        if (fileFailed && systemError != 0)
            return EncodingError::writerFailed(named + writeFailureReason(systemError, shown));
        const char* words = GifErrorString(gifError);
        return EncodingError::writerFailed(named + (words ? words : "unknown error"));
    }
    EncodingError failure(const std::string& what, int systemError) const {
        return failure(what, gif ? gif->Error : 0, systemError);
    }

    bool putControlBlock(std::int64_t delayHundredths, int transparentIndex) {
        GraphicsControlBlock block{};
        block.DisposalMode = DISPOSE_DO_NOT;
        block.UserInputFlag = false;
        block.DelayTime = static_cast<int>(delayHundredths);
        block.TransparentColor = transparentIndex;
        GifByteType bytes[4];
        const std::size_t length = EGifGCBToExtension(&block, bytes);
        return EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), bytes) == GIF_OK;
    }

    // A 1 × 1 transparent frame that keeps the picture on screen for `delay` more.
    bool putHold(std::int64_t delayHundredths) {
        static const std::vector<std::array<std::uint8_t, 3>> kClear{{0, 0, 0}};
        const ColorMap map = colorMap(kClear);
        GifPixelType pixel = 0;
        return map && putControlBlock(delayHundredths, 0) &&
               EGifPutImageDesc(gif, 0, 0, 1, 1, false, map.get()) == GIF_OK && EGifPutLine(gif, &pixel, 1) == GIF_OK;
    }
};

GIFWriter::GIFWriter(const std::filesystem::path& file, int width, int height, Looping looping,
                     const std::filesystem::path& shown)
    : impl_(std::make_unique<Impl>()) {
    impl_->shown = shown.empty() ? file : shown;
    // Opened here rather than by name: giflib would make the file readable by its owner alone.
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) throw impl_->failure("could not create GIF", E_GIF_ERR_OPEN_FAILED, errno);
    int error = 0;
    errno = 0;
    impl_->gif = EGifOpenFileHandle(descriptor, &error);
    if (!impl_->gif) {
        const int systemError = errno;
        ::close(descriptor);
        throw impl_->failure("could not create GIF", error, systemError);
    }
    impl_->width = width;
    impl_->height = height;
    impl_->row.resize(static_cast<std::size_t>(width));
    EGifSetGifVersion(impl_->gif, true);
    // No global colour table: every frame brings its own.
    errno = 0;
    bool written = EGifPutScreenDesc(impl_->gif, width, height, 8, 0, nullptr) == GIF_OK;
    if (written && looping == Looping::forever) {
        // The application extension players read as the loop count; 0 loops forever.
        static const GifByteType kApplication[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        static const GifByteType kLoopForever[] = {1, 0, 0};
        written = EGifPutExtensionLeader(impl_->gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
                  EGifPutExtensionBlock(impl_->gif, sizeof kApplication, kApplication) == GIF_OK &&
                  EGifPutExtensionBlock(impl_->gif, sizeof kLoopForever, kLoopForever) == GIF_OK &&
                  EGifPutExtensionTrailer(impl_->gif) == GIF_OK;
    }
    if (!written) throw impl_->failure("could not create GIF", errno);
}

GIFWriter::~GIFWriter() = default;
GIFWriter::GIFWriter(GIFWriter&&) noexcept = default;
GIFWriter& GIFWriter::operator=(GIFWriter&&) noexcept = default;

void GIFWriter::addFrame(const IndexedPicture& picture, std::optional<std::int64_t> delayHundredths) {
    Impl& writer = *impl_;
    errno = 0;
    const ColorMap map = colorMap(picture.palette);
    bool written =
        map && picture.width == writer.width && picture.height == writer.height &&
        picture.indices.size() == std::size_t(picture.width) * std::size_t(picture.height) &&
        (!delayHundredths || writer.putControlBlock(std::min(*delayHundredths, kLongestDelay), NO_TRANSPARENT_COLOR)) &&
        EGifPutImageDesc(writer.gif, 0, 0, writer.width, writer.height, false, map.get()) == GIF_OK;
    for (int y = 0; written && y < writer.height; ++y) {
        const auto* source = picture.indices.data() + std::size_t(y) * std::size_t(writer.width);
        std::copy(source, source + writer.width, writer.row.begin());
        written = EGifPutLine(writer.gif, writer.row.data(), writer.width) == GIF_OK;
    }
    for (std::int64_t left = delayHundredths.value_or(0) - kLongestDelay; written && left > 0; left -= kLongestDelay)
        written = writer.putHold(std::min(left, kLongestDelay));
    if (!written) throw writer.failure("could not write GIF frame to", errno);
}

void GIFWriter::finish() {
    errno = 0;
    if (const int error = impl_->close()) throw impl_->failure("could not finalize GIF", error, errno);
}

}  // namespace fw
