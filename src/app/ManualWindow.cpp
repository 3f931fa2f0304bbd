#include "app/ManualWindow.h"

#include "app/TextStyle.h"
#include "ui/ControlStyle.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace fw::app {

namespace {

struct Section {
    const char* title;
    const char* symbol;
    const char* body;
};

// Shown as written, not translated.
constexpr Section kSections[] = {
    {"Adding media", "plus.rectangle.on.folder",
     "Drag files onto the queue or use Add Files… (Ctrl+O). Framewright accepts common video and audio containers plus "
     "still images (PNG/JPEG/TIFF/HEIC/HEIF/BMP). Drop a folder into a Watch Folder to auto-encode new files as they "
     "arrive."},
    {"Output format", "slider.horizontal.3",
     "Choose a codec in the Output card: ProRes (4 variants), H.264 (with a file-size “crush” slider or exact "
     "bitrate), HEVC, Hap/Hap-Q, animated GIF, or a still image (PNG/JPEG/HEIC). Still images can be exported as a "
     "single poster frame or a full image sequence. HEVC with alpha (HEVC+Alpha) is not available on this system: "
     "for transparency use ProRes 4444 or Hap Alpha."},
    {"Presets", "wand.and.stars",
     "Apply a built-in or saved preset, or save the current settings as your own. Presets can be assigned per job "
     "from the queue’s row menu, and to a Watch Folder so new files use them automatically."},
    {"Resize & trim", "aspectratio",
     "Resize to a target size with Fit, Fill, Aspect Ratio, or Pixel-Perfect modes. Use Trim to encode only an in/out "
     "sub-range of each clip."},
    {"Filters", "camera.filters",
     "Apply a colour LUT (.cube), overlay a watermark image (corner + opacity), and burn in a running timecode. "
     "Filters render during the encode and honour your resize settings."},
    {"Audio", "waveform",
     "Normalize loudness to a target LUFS (EBU R128) and/or sum to mono. Audio-only files are re-encoded to AAC "
     "(.m4a), so you can re-LUFS or downmix without video."},
    {"Proxies", "square.stack.3d.down.right",
     "“Make Proxies” (Ctrl+Alt+R) creates lightweight editing copies — ProRes 422 Proxy or small H.264 at a chosen "
     "resolution — with a _proxy suffix, independent of the main settings."},
    {"Destinations & publishing", "externaldrive",
     "Outputs land beside each source file by default, or pick an Output Folder. Enable Publish to upload finished "
     "outputs over HTTP(S) (WebDAV, S3 presigned URLs, or any PUT/POST endpoint) automatically or on demand."},
    {"Performance & background", "cpu",
     "Settings ▸ Performance sets how many files encode in parallel. Settings ▸ Background can run Framewright "
     "in the system tray and launch it at login so Watch Folders keep working with the window closed."},
    {"Notifications & updates", "bell",
     "A desktop notification appears when a batch finishes (toggle in Settings ▸ Performance). Check for Updates… "
     "(in the Help menu) looks for a newer version and opens its download page; nothing is installed by itself."},
    {"Keyboard shortcuts", "keyboard",
     "Add Files Ctrl+O · Start Encoding Ctrl+R, or Return outside a text field · Make Proxies Ctrl+Alt+R · "
     "Cancel Ctrl+. · Clear Finished Ctrl+Shift+K · Settings Ctrl+,"},
};

QWidget* sectionBlock(const Section& section) {
    auto* block = new QWidget;
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* heading = new QHBoxLayout;
    heading->setSpacing(8);
    auto* icon = new QLabel;
    auto* title = new QLabel(QString::fromUtf8(section.title));
    applyTextStyle(title, TextRole::title3, TextTone::primary, true);
    const int iconSize = QFontMetrics(title->font()).height();
    ui::showTintedSymbol(icon, section.symbol, iconSize,
                         [](const QPalette& palette) { return palette.color(QPalette::Highlight); });
    heading->addWidget(icon);
    heading->addWidget(title, 1);
    layout->addLayout(heading);

    auto* body = new QLabel(QString::fromUtf8(section.body));
    body->setObjectName(QStringLiteral("manualParagraph"));
    body->setWordWrap(true);
    body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    applyTextStyle(body, TextRole::body, TextTone::secondary);
    layout->addWidget(body);
    return block;
}

}  // namespace

ManualWindow::ManualWindow(QWidget* parent) : QScrollArea(parent) {
    setWindowTitle(tr("Framewright User Manual"));
    ui::useReadableControlEdges();  // the focus ring of the page
    setMinimumSize(520, 480);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(20);
    auto* title = new QLabel(tr("Framewright User Manual"));
    title->setWordWrap(true);
    applyTextStyle(title, TextRole::largeTitle, TextTone::primary, true);
    column->addWidget(title);
    for (const Section& section : kSections) column->addWidget(sectionBlock(section));
    column->addStretch(1);
    setWidget(page);
    // The page is the window's only stop: it has the focus from the start, so
    // that the arrows scroll it and Tab rings it. A window with no focused
    // widget can be left with none when it is activated.
    setFocusPolicy(Qt::StrongFocus);
    setFocus(Qt::OtherFocusReason);
}

}  // namespace fw::app
