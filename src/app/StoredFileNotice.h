#pragma once
// What the main window says when a store of the user's data reports on its
// file (platform/core/StoredFileReport.h): one plain sentence or two naming
// the file, where it was kept, and the system's reason; and what a Quit
// says of a store it could not save.
// Thread-safety: a pure function.

#include "platform/core/StoredFileReport.h"

#include <QString>

namespace fw::app {

// The store the report came from.
enum class StoredData { settings, queue, history };

// Empty for a saved report: it says nothing, it ends what was said.
QString storedFileNotice(StoredData data, const StoredFileReport& report);

// The title of the notice's button, for a report the user can act on: queued
// files not found, which the user may forget (their entries then leave the
// queue file); empty for any other.
QString storedFileNoticeAction(const StoredFileReport& report);

// One sentence for a report that left the store unsaved (writeFailed,
// notSetAside): which file, and the system's reason.
QString unsavedNotice(StoredData data, const StoredFileReport& report);

}  // namespace fw::app
