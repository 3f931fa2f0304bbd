#include "app/UpdateDialog.h"

#include "ui/Glass.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace fw::app {

UpdateDialog::UpdateDialog(const UpdateItem& item, const QString& currentVersion, QWidget* parent,
                           std::function<void(const QUrl&)> openUrl)
    : QDialog(parent) {
    setWindowTitle(tr("Software Update"));
    setMinimumSize(480, 360);

    auto* icon = new QLabel;
    const QIcon applicationIcon = QApplication::windowIcon();
    if (applicationIcon.isNull())
        ui::showSymbol(icon, "arrow.triangle.2.circlepath", 48);
    else
        icon->setPixmap(applicationIcon.pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto* headline = new QLabel(tr("A new version of Framewright is available!"));
    QFont headlineFont = headline->font();
    headlineFont.setBold(true);
    headlineFont.setPointSizeF(headlineFont.pointSizeF() * 1.2);
    headline->setFont(headlineFont);
    headline->setWordWrap(true);

    const QString version = item.channel.isEmpty() ? item.version : tr("%1 (%2)").arg(item.version, item.channel);
    auto* summary = new QLabel(tr("Framewright %1 is available — you have %2. Open its download page to get it.")
                                   .arg(version, currentVersion));
    summary->setObjectName(QStringLiteral("updateSummary"));
    summary->setWordWrap(true);

    auto* texts = new QVBoxLayout;
    texts->addWidget(headline);
    texts->addWidget(summary);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);

    auto* notesTitle = new QLabel(tr("Release Notes:"));
    QFont boldFont = notesTitle->font();
    boldFont.setBold(true);
    notesTitle->setFont(boldFont);
    auto* notes = new QTextBrowser;
    notes->setObjectName(QStringLiteral("releaseNotes"));
    notes->setOpenLinks(false);  // a click in the notes must not navigate the notes view
    connect(notes, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
            QDesktopServices::openUrl(url);
    });
    if (Qt::mightBeRichText(item.notes))
        notes->setHtml(item.notes);
    else
        notes->setPlainText(item.notes);

    auto* later = new QPushButton(tr("Remind Me Later"));
    ui::applyGlassButton(later);
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    auto* download = new QPushButton(tr("Open Download Page"));
    download->setObjectName(QStringLiteral("openDownloadPage"));
    ui::applyGlassProminentButton(download);
    download->setDefault(true);  // after the style, which clears it: Return acts here
    if (!openUrl) openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    connect(download, &QPushButton::clicked, this, [this, openUrl, page = item.downloadPage] {
        openUrl(page);
        accept();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(later);
    buttons->addStretch(1);
    buttons->addWidget(download);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(notesTitle);
    layout->addWidget(notes, 1);
    layout->addLayout(buttons);
}

}  // namespace fw::app
