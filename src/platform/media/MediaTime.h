#pragma once
// The media layer's times are the system's one MediaTime.

#include "platform/core/MediaTime.h"

namespace fw::media {
using fw::MediaTime;
using fw::TimeRange;
}  // namespace fw::media
