#pragma once
// The Output card's two blocks for the codecs with bit-rate controls (H.264,
// HEVC): quality (slider, tier badge, 1080p estimate, exact bit rate) and the
// advanced codec controls (profile, key-frame interval). Both edit the
// coordinator's h264 settings through `binder`, whose running rule they
// follow. The card shows and hides them.

class QWidget;

namespace fw::ui {

class Binder;

QWidget* buildQualityControls(Binder& binder, QWidget* parent);
QWidget* buildAdvancedCodecControls(Binder& binder, QWidget* parent);

}  // namespace fw::ui
