#pragma once
// What the main window says when a store of the user's data reports on its
// file (platform/core/StoredFileReport.h): one plain sentence or two naming
// the file, where it was kept, and the system's reason.
// Thread-safety: a pure function.

#include "platform/core/StoredFileReport.h"

#include <QString>

namespace fw::app {

// The store the report came from.
enum class StoredData { settings, queue, history };

QString storedFileNotice(StoredData data, const StoredFileReport& report);

}  // namespace fw::app
