#pragma once
// An encode route written out in one line, so that tables of route decisions read as what the encoder is handed:
//   "<name size>: <encoder> [<writer size> <profile> <bit/s>] [| frames <size> <mode> [flags]]"

#include "encoders/EncodeRoute.h"

#include <string>
#include <variant>

namespace fw::test {

inline std::string sizeText(IntSize size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

inline std::string framesText(const std::optional<FrameScaling>& scaling) {
    if (!scaling) return "";
    std::string text =
        " | frames " + sizeText({scaling->width, scaling->height}) + " " + std::string(rawValue(scaling->mode));
    if (scaling->tenBit) text += " 10-bit";
    if (scaling->preservesAlpha) text += " alpha";
    if (scaling->filters) text += " filters";
    if (scaling->geometry) text += " geometry";
    if (scaling->targetFrameRate) text += " rate=" + std::to_string(static_cast<int>(*scaling->targetFrameRate));
    return text;
}

inline std::string profileText(std::optional<ProfileLevel> level) {
    if (!level) return "auto";
    switch (*level) {
    case ProfileLevel::h264BaselineAutoLevel: return "Baseline";
    case ProfileLevel::h264MainAutoLevel:
    case ProfileLevel::hevcMainAutoLevel: return "Main";
    case ProfileLevel::h264HighAutoLevel: return "High";
    case ProfileLevel::hevcMain10AutoLevel: return "Main10";
    }
    return "?";
}

inline std::string writerText(const VideoWriterSettings& settings) {
    std::string text;
    switch (settings.family) {
    case VideoCodecFamily::proRes:
        text = "ProRes " + std::string(rawValue(settings.proResVariant.value_or(ProResVariant::hq)));
        break;
    case VideoCodecFamily::h264: text = "H.264"; break;
    case VideoCodecFamily::hevc: text = "HEVC"; break;
    }
    text += " " + sizeText({settings.width, settings.height});
    if (const auto& compression = settings.compression) {
        text += " " + profileText(compression->profileLevel) + " " + std::to_string(compression->averageBitRate);
    }
    if (settings.colorProperties) text += " tagged";
    return text;
}

inline std::string describe(const EncodeRoute& route) {
    std::string text = sizeText(route.nameSize) + ": ";
    const auto still = [](const StillTarget& target) {
        return " " + (target.size ? sizeText(*target.size) : std::string("unsized")) + " " +
               std::string(rawValue(target.mode)) + (target.filters ? " filters" : "");
    };
    if (const auto* gif = std::get_if<GIFRequest>(&route.encoder)) {
        text += "GIF" + still(gif->target);
    } else if (const auto* image = std::get_if<ImageRequest>(&route.encoder)) {
        text += std::string(fileNameSuffix(image->codec)) + still(image->target);
    } else if (const auto* hap = std::get_if<HapRequest>(&route.encoder)) {
        text += hap->kind == HapKind::hapQ ? "Hap-Q" : hap->kind == HapKind::hapAlpha ? "Hap Alpha" : "Hap";
        text += framesText(hap->scaling);
    } else if (const auto* dxv = std::get_if<DXVRequest>(&route.encoder)) {
        text += dxv->kind == DXVKind::dxv3 ? "DXV3" : "DXV2";
        if (dxv->alpha) text += " alpha";
        if (dxv->highQuality) text += " hq";
        text += framesText(dxv->scaling);
    } else if (const auto* hapStill = std::get_if<HapStillRequest>(&route.encoder)) {
        text += "Hap still";
        text += hapStill->kind == HapKind::hapQ ? " Q" : hapStill->kind == HapKind::hapAlpha ? " alpha" : "";
        text += still(hapStill->clip.target);
    } else if (const auto* dxvStill = std::get_if<DXVStillRequest>(&route.encoder)) {
        text += dxvStill->kind == DXVKind::dxv3 ? "DXV3 still" : "DXV2 still";
        if (dxvStill->alpha) text += " alpha";
        if (dxvStill->highQuality) text += " hq";
        text += still(dxvStill->clip.target);
    } else if (const auto* stillMovie = std::get_if<StillMovieRequest>(&route.encoder)) {
        text += std::string(rawValue(stillMovie->codec)) + " still";
        if (stillMovie->h264) text += " h264";
        text += still(stillMovie->clip.target);
    } else {
        const auto& movie = std::get<MovieEncoder>(route.encoder);
        text += writerText(movie.videoSettings) + framesText(movie.scaling);
    }
    return text;
}

}  // namespace fw::test
