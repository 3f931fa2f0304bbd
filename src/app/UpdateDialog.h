#pragma once
// The window that announces a newer version: its number, its release notes
// and a button that opens its download page in the user's browser. Nothing
// is downloaded or installed from here.

#include "app/UpdateFeed.h"

#include <QDialog>

#include <functional>

namespace fw::app {

class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    // `openUrl` opens the download page (QDesktopServices::openUrl unless a test gives another).
    UpdateDialog(const UpdateItem& item, const QString& currentVersion, QWidget* parent = nullptr,
                 std::function<void(const QUrl&)> openUrl = {});
};

}  // namespace fw::app
