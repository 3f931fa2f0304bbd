#pragma once
// The application's icon: the installed theme icon named after the
// application id, else the same picture painted here (a film strip over a
// rounded square), so that a build run from its folder has one too.

#include <QIcon>

namespace fw::app {

QIcon applicationIcon();

}  // namespace fw::app
