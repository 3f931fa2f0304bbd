#pragma once
// The windowed application's entry: builds the shared objects once and shows
// the main window. main() calls it when the command-line runner is not chosen.

namespace fw::app {

int runApplication(int argc, char** argv);

}  // namespace fw::app
