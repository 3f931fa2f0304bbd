#pragma once
// What the build says about itself: the version from the project's version
// and the optional build number from the FW_BUILD_NUMBER cache variable, and
// the address of the update feed from FW_UPDATE_FEED_URL. Only BuildInfo.cpp
// sees these definitions, so changing one rebuilds one file.

#include <QString>

namespace fw::app {

// "0.1.0"-style dotted version of this build.
QString applicationVersion();
// The build number, or empty when the build was given none.
QString buildNumber();
// Where the update service looks for newer versions.
QString updateFeedAddress();

}  // namespace fw::app
