// /metrics in the Prometheus text format: per archive, whether its recorder
// records, its dead air, overruns and bytes written (from its status file),
// the free disk space and the age of its newest file.
//
// Pure apart from the live feed's latest reading: any connection's thread.
#pragma once

#include <string>
#include <vector>

#include "web/Archive.h"
#include "web/LiveFeed.h"

namespace vorta::web {

std::string metricsText(const LiveFeed& live);

}  // namespace vorta::web
