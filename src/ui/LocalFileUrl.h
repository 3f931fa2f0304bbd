#pragma once
// File names between the window and Qt. A name on Linux is bytes, most often
// UTF-8; one that is not (a Latin-1 name from an old archive or a FAT drive)
// does not survive a QString: Qt reads each byte that is no UTF-8 as U+FFFD,
// and that text names another file, most often none. A file URL carries the
// bytes, percent-encoded: drops, the choosers and the file manager exchange
// names through it here.
//
// Threads: pure functions (nameLostInText() looks at the file system); any thread.

#include <QUrl>

#include <filesystem>

namespace fw::ui {

// The file a local file URL names, as its bytes; empty for any other URL.
std::filesystem::path localFilePath(const QUrl& url);
// The file URL of `path` (made absolute), its bytes percent-encoded.
QUrl localFileUrl(const std::filesystem::path& path);
// Whether `path` came through a text that could not carry its name: it names
// nothing, and holds U+FFFD where the name's bytes were no UTF-8.
bool nameLostInText(const std::filesystem::path& path);

}  // namespace fw::ui
