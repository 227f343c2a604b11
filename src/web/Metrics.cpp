#include "web/Metrics.h"

#include <cstdio>

namespace vorta::web {
namespace {

struct Metric {
  const char* name;
  const char* type;
  const char* help;
  double (*value)(const LiveArchive&);  // NaN: no sample
};

constexpr double kNone = __builtin_nan("");

double number(const nlohmann::json& doc, std::initializer_list<const char*> path) {
  const nlohmann::json* at = &doc;
  for (const char* key : path) {
    if (!at->is_object() || !at->contains(key)) return kNone;
    at = &(*at)[key];
  }
  return at->is_number() ? at->get<double>() : kNone;
}

const Metric kMetrics[] = {
    {"vorta_recording", "gauge", "1 while the recorder records, else 0",
     [](const LiveArchive& a) { return a.status.is_null() ? kNone : a.alarms.empty() || a.alarms[0] != "stopped" ? 1.0 : 0.0; }},
    {"vorta_dead_air_seconds_total", "counter", "Seconds of dead air in the recorder's run",
     [](const LiveArchive& a) { return number(a.status, {"dead_air", "seconds"}); }},
    {"vorta_overruns_total", "counter", "Sound input overruns in the recorder's run",
     [](const LiveArchive& a) { return number(a.status, {"losses", "overruns"}); }},
    {"vorta_bytes_written_total", "counter", "MP3 bytes the recorder wrote in its run",
     [](const LiveArchive& a) { return number(a.status, {"bytes"}); }},
    {"vorta_disk_free_bytes", "gauge", "Free space on the archive's disk",
     [](const LiveArchive& a) { return a.freeBytes < 0 ? kNone : double(a.freeBytes); }},
    {"vorta_newest_file_age_seconds", "gauge", "Seconds since the archive's newest file changed",
     [](const LiveArchive& a) { return a.newestFileAge < 0 ? kNone : a.newestFileAge; }},
};

}  // namespace

std::string metricsText(const LiveFeed& live) {
  const std::vector<LiveArchive> all = live.latest();
  std::string text;
  for (const Metric& m : kMetrics) {
    text += std::string("# HELP ") + m.name + " " + m.help + "\n# TYPE " + m.name + " " + m.type + "\n";
    for (const LiveArchive& a : all) {
      const double v = m.value(a);
      if (v != v) continue;
      char line[256];
      std::snprintf(line, sizeof line, "%s{archive=\"%s\"} %.17g\n", m.name, a.name.c_str(), v);
      text += line;
    }
  }
  return text;
}

}  // namespace vorta::web
