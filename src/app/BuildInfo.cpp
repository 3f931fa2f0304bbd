#include "app/BuildInfo.h"

namespace fw::app {

QString applicationVersion() { return QStringLiteral(FW_APPLICATION_VERSION); }

QString buildNumber() { return QStringLiteral(FW_BUILD_NUMBER); }

QString updateFeedAddress() { return QStringLiteral(FW_UPDATE_FEED_URL); }

}  // namespace fw::app
