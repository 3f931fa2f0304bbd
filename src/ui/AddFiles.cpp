#include "ui/AddFiles.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/ControlStyle.h"
#include "ui/FilePicker.h"
#include "ui/LocalFileUrl.h"
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

// Names the refused files: `unsupported` are no media the queue takes,
// `lost` had names that a text could not carry (nameLostInText).
void tellRefused(const std::vector<std::filesystem::path>& unsupported, const std::vector<std::filesystem::path>& lost,
                 QWidget* parent) {
    QWidget* window = parent ? parent->window() : nullptr;
    // One message at a time: a newer refusal replaces an open one.
    if (window)
        if (auto* open = window->findChild<QMessageBox*>(QStringLiteral("refusedFiles"))) open->close();
    std::vector<std::filesystem::path> refused = lost;
    refused.insert(refused.end(), unsupported.begin(), unsupported.end());
    QStringList names;
    for (const auto& file : refused)
        if (names.size() < kListedNames) names.append(QStringLiteral("“%1”").arg(displayName(file)));
    if (const auto more = qsizetype(refused.size()) - names.size(); more > 0)
        names.append(tr("and %1 more").arg(QLocale().toString(static_cast<qlonglong>(more))));
    QString text;
    if (refused.size() == 1)
        text = lost.empty() ? tr("%1 was not added to the queue: it is not a supported media file.").arg(names.front())
                            : tr("%1 was not added to the queue: its name is not valid UTF-8 and did not reach the "
                                 "window intact. Rename the file to add it.")
                                  .arg(names.front());
    else if (lost.empty())
        text = tr("These were not added to the queue: they are not supported media files.");
    else if (unsupported.empty())
        text =
            tr("These were not added to the queue: their names are not valid UTF-8 and did not reach the window "
               "intact. Rename the files to add them.");
    else
        text =
            tr("These were not added to the queue: some are not supported media files, and the names of the "
               "others are not valid UTF-8 and did not reach the window intact.");
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
    // A name mangled on its way here would queue a file that does not exist.
    std::vector<std::filesystem::path> carried, lost;
    for (const auto& file : files) (nameLostInText(file) ? lost : carried).push_back(file);
    // The queue refuses folders, pipes and devices along with unsupported types.
    std::vector<std::filesystem::path> refused =
        coordinator.addFiles(carried, EncodingCoordinator::Duplicates::allowed);
    if (!refused.empty() || !lost.empty()) tellRefused(refused, lost, parent);
    refused.insert(refused.begin(), lost.begin(), lost.end());
    return refused;
}

}  // namespace fw::ui
