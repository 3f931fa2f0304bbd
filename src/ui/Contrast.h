#pragma once
// Readable text colours: the WCAG 2 contrast ratio, and secondary or tinted
// text made as faint (or as light a tint) as it can be while it still reads
// at 4.5:1 on every background it is drawn on.
//
// Threads: plain values; any thread.

#include <QColor>

#include <initializer_list>
#include <span>

namespace fw::ui {

// The contrast the web's accessibility guidelines ask of small text.
inline constexpr double kReadableContrast = 4.5;
// The least contrast of a disabled control's label: fainter than live text,
// still legible.
inline constexpr double kDisabledContrast = 3.0;
// The least contrast of what shows where a control is (a check box's box, a
// field's frame, a slider's track) against what it lies on: the guidelines'
// figure for the parts of a control.
inline constexpr double kControlEdgeContrast = 3.0;
// The least contrast of a symbol that carries meaning (a job's state, a
// warning) against what it is drawn on: the guidelines' figure for graphics.
inline constexpr double kSymbolContrast = 3.0;

// (L1 + 0.05) / (L2 + 0.05) of the relative luminances, lighter first: 1 to 21.
// Alpha is ignored (give opaque colours).
double contrastRatio(const QColor& a, const QColor& b);
// `top` (with its alpha) laid over the opaque `bottom`.
QColor over(const QColor& top, const QColor& bottom);

// `ink` at `alpha`, or at the least alpha above it, that reaches `minimum`
// over each of `backgrounds`; when even opaque ink does not (a light tint),
// the ink is drawn toward `strongest` (the palette's text colour) until it
// does.
QColor readableOn(QColor ink, double alpha, std::span<const QColor> backgrounds, const QColor& strongest,
                  double minimum = kReadableContrast);
QColor readableOn(QColor ink, double alpha, std::initializer_list<QColor> backgrounds, const QColor& strongest,
                  double minimum = kReadableContrast);

}  // namespace fw::ui
