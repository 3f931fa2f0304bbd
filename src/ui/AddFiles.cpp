#include "ui/AddFiles.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/ControlStyle.h"
#include "ui/FilePicker.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <system_error>

namespace fw::ui {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("AddFiles", text); }

// Names past this many are counted, not listed.
constexpr qsizetype kListedNames = 8;

QString displayName(const std::filesystem::path& file) {
    const QString name = QFile::decodeName(file.filename().c_str());
    return name.isEmpty() ? QFile::decodeName(file.c_str()) : name;
}

void tellRefused(const std::vector<std::filesystem::path>& refused, QWidget* parent) {
    QWidget* window = parent ? parent->window() : nullptr;
    // One message at a time: a newer refusal replaces an open one.
    if (window)
        if (auto* open = window->findChild<QMessageBox*>(QStringLiteral("refusedFiles"))) open->close();
    QStringList names;
    for (const auto& file : refused)
        if (names.size() < kListedNames) names.append(QStringLiteral("“%1”").arg(displayName(file)));
    if (const auto more = qsizetype(refused.size()) - names.size(); more > 0)
        names.append(tr("and %1 more").arg(QLocale().toString(static_cast<qlonglong>(more))));
    const QString text = refused.size() == 1
                             ? tr("%1 was not added to the queue: it is not a supported media file.").arg(names.front())
                             : tr("These were not added to the queue: they are not supported media files.");
    auto* box = new QMessageBox(QMessageBox::Information, tr("Not Added"), text, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("refusedFiles"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (refused.size() > 1) box->setInformativeText(names.join(QLatin1Char('\n')));
    box->open();
}

}  // namespace

QString addFilesTitle() { return tr("Choose media files to encode"); }

void addFilesFromChooser(CardContext& context, QWidget* parent) {
    UserDefaults& defaults = context.flags.defaults();
    std::optional<std::filesystem::path> start;
    if (const auto folder = defaults.string(kAddFilesFolderKey)) {
        std::error_code error;
        if (std::filesystem::is_directory(*folder, error)) start = std::filesystem::path(*folder);
    }
    // Whatever the dialog and the window manager leave focused, the control
    // that opened it has the focus again, accepted or not.
    const KeptFocus focus(parent ? parent->window() : nullptr);
    const std::vector<std::filesystem::path> files = context.picker.chooseFiles(parent, addFilesTitle(), start);
    focus.restore();
    if (files.empty()) return;
    defaults.set(kAddFilesFolderKey, files.front().parent_path().string());
    queueFiles(context.coordinator, files, parent);
}

std::vector<std::filesystem::path> queueFiles(EncodingCoordinator& coordinator,
                                              const std::vector<std::filesystem::path>& files, QWidget* parent) {
    // The queue refuses folders, pipes and devices along with unsupported types.
    std::vector<std::filesystem::path> refused = coordinator.addFiles(files, EncodingCoordinator::Duplicates::allowed);
    if (!refused.empty()) tellRefused(refused, parent);
    return refused;
}

}  // namespace fw::ui
