#include "app/AboutWindow.h"

#include "app/BuildInfo.h"
#include "app/TextStyle.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

namespace fw::app {

AboutWindow::AboutWindow(QWidget* parent) : AboutWindow(applicationVersion(), buildNumber(), parent) {}

AboutWindow::AboutWindow(const QString& version, const QString& buildNumber, QWidget* parent) : QWidget(parent) {
    setWindowTitle(tr("About Framewright"));
    setFixedWidth(380);
    ui::useReadableControlEdges();  // the link's focus ring

    auto* icon = new QLabel;
    const QIcon applicationIcon = QApplication::windowIcon();
    if (applicationIcon.isNull())
        ui::showSymbol(icon, "film.stack", 96);
    else
        icon->setPixmap(applicationIcon.pixmap(96, 96));
    icon->setFixedSize(96, 96);
    icon->setAlignment(Qt::AlignCenter);

    auto* name = new QLabel(QStringLiteral("Framewright"));
    applyTextStyle(name, TextRole::largeTitle, TextTone::primary, true);

    auto* versionLine = new QLabel(buildNumber.isEmpty() ? tr("Version %1").arg(version)
                                                         : tr("Version %1 (%2)").arg(version, buildNumber));
    versionLine->setObjectName(QStringLiteral("aboutVersion"));
    versionLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    applyTextStyle(versionLine, TextRole::callout, TextTone::secondary);

    auto* description = new QLabel(
        tr("A native Linux batch media encoder — transcode, resize, filter, and publish video, audio, and stills."));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignCenter);
    applyTextStyle(description, TextRole::callout, TextTone::secondary);

    const QUrl page(QString::fromLatin1(kWebPage));
    auto* link = new QLabel;
    link->setObjectName(QStringLiteral("aboutLink"));
    link->setOpenExternalLinks(true);
    link->setTextFormat(Qt::RichText);
    // A Tab stop: Return opens it as a click does.
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    applyTextStyle(link, TextRole::callout);
    // Rich text takes the application's link colour unless told: the label's
    // own is the one that reads on this window.
    ui::followPalette(link, ui::PaletteUse::picture, [link, page](const QPalette&) {
        link->setText(QStringLiteral("<a href=\"%1\" style=\"color: %2\">%3</a>")
                          .arg(page.toString(), link->palette().color(QPalette::Link).name(),
                               page.toString(QUrl::RemoveScheme).mid(2).toHtmlEscaped()));
    });
    QFont linkFont = link->font();
    linkFont.setWeight(QFont::Medium);
    link->setFont(linkFont);

    auto* copyright = new QLabel(tr("© 2026 The Framewright developers"));
    applyTextStyle(copyright, TextRole::caption, TextTone::tertiary);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 30, 30, 30);
    layout->setSpacing(14);
    for (QLabel* label : {icon, name, versionLine, description, link, copyright})
        layout->addWidget(label, 0, Qt::AlignHCenter);
    description->setFixedWidth(380 - 60);
    setFixedHeight(layout->sizeHint().height());
}

}  // namespace fw::app
