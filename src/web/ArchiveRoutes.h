// The archive part of the JSON API and the audio it serves:
//   /api/archives                          the archives
//   /api/archives/A/month/YYYY-MM          the days of a month with recordings
//   /api/archives/A/day/YYYY-MM-DD         a day: files, stretches of sound, levels
//   /api/archives/A/stream/YYYY-MM-DD.mp3  the day's files as one MP3 stream
//   /api/archives/A/clip?from=MS&to=MS     a clip as one MP3 file
//   /files/A/NAME                          one file of the archive as it is
// Moments are milliseconds since the epoch.
//
// Contract: any connection's thread; the archives are only read.
#pragma once

#include <string_view>
#include <vector>

#include "web/Archive.h"
#include "web/Http.h"

namespace vorta::web {

// The answer for a path below /api/archives or /files, or 404.
Response archiveRoute(const std::vector<Archive>& archives, const Request& request, Clock& clock);

}  // namespace vorta::web
