#pragma once
// The window tests' application: a QApplication on Qt's offscreen platform
// (set before it is made, with no desktop named and no platform theme), so
// the suites run without a display.

#include <QString>

namespace fw::test {

// Lets queued signals and deferred deletions run.
void processEvents();

}  // namespace fw::test
