#include "archive/TimeMapLines.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace vorta {
namespace {

constexpr std::string_view kMagic = "vorta-times";
constexpr SegmentReason kReasons[] = {SegmentReason::Start,   SegmentReason::Append,
                                      SegmentReason::Silence, SegmentReason::Overrun,
                                      SegmentReason::Stall,   SegmentReason::Restart};

// Words separated by single spaces; an empty word makes the line invalid.
std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  for (std::size_t from = 0;;) {
    const std::size_t space = text.find(' ', from);
    out.push_back(text.substr(from, space == std::string_view::npos ? space : space - from));
    if (space == std::string_view::npos) return out;
    from = space + 1;
  }
}

template <typename Number>
bool readNumber(std::string_view word, Number& out) {
  if (word.empty() || word.front() == '+') return false;
  const char* end = word.data() + word.size();
  const auto [ptr, ec] = std::from_chars(word.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// One decimal, or -inf; "-" is accepted only where `unknown` may be set.
bool readDb(std::string_view word, double& out) {
  if (word == "-inf") {
    out = -std::numeric_limits<double>::infinity();
    return true;
  }
  return readNumber(word, out) && std::isfinite(out);
}

std::string dbText(double db) {
  if (std::isinf(db) && db < 0) return "-inf";
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, db, std::chars_format::fixed, 1);
  return ec == std::errc() ? std::string(text, end) : "-inf";
}

bool readInt(std::string_view word, std::string_view key, int& out) {
  if (word.substr(0, key.size()) != key) return false;
  return readNumber(word.substr(key.size()), out) && out > 0;
}

std::string placeText(char kind, const FramePlace& at) {
  return std::string(1, kind) + ' ' + std::to_string(at.epochMs) + ' ' + std::to_string(at.frame) +
         ' ' + std::to_string(at.offset);
}

bool readPlace(const std::vector<std::string_view>& w, char kind, FramePlace& at) {
  return w.size() >= 4 && w[0].size() == 1 && w[0][0] == kind && readNumber(w[1], at.epochMs) &&
         readNumber(w[2], at.frame) && readNumber(w[3], at.offset);
}

}  // namespace

const char* reasonName(SegmentReason reason) {
  switch (reason) {
    case SegmentReason::Start: return "start";
    case SegmentReason::Append: return "append";
    case SegmentReason::Silence: return "silence";
    case SegmentReason::Overrun: return "overrun";
    case SegmentReason::Stall: return "stall";
    case SegmentReason::Restart: return "restart";
    case SegmentReason::Continued: break;
  }
  return "continued";
}

double dbfsOf(std::int32_t peak) {
  if (peak <= 0) return -std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(static_cast<double>(peak) / 32768.0);
}

std::string headerText(const TimeMapHeader& h) {
  return std::string(kMagic) + " 1 rate=" + std::to_string(h.rate) +
         " channels=" + std::to_string(h.channels) +
         " frame-samples=" + std::to_string(h.frameSamples) + " kbps=" + std::to_string(h.kbps) +
         (h.approx ? " approx" : "");
}

std::string segmentText(const SegmentLine& line) {
  return placeText('S', line.at) + ' ' + reasonName(line.reason);
}

std::string levelText(const LevelLine& line) {
  std::string text = placeText('L', line.at) + ' ' + (line.lufs ? dbText(*line.lufs) : "-");
  for (int c = 0; c < line.channels && c < 2; ++c) text += ' ' + dbText(line.peakDb[c]);
  return text;
}

std::optional<TimeMapHeader> parseHeader(std::string_view text) {
  const std::vector<std::string_view> w = words(text);
  TimeMapHeader h;
  if (w.size() < 6 || w.size() > 7 || w[0] != kMagic || w[1] != "1") return std::nullopt;
  if (!readInt(w[2], "rate=", h.rate) || !readInt(w[3], "channels=", h.channels) ||
      !readInt(w[4], "frame-samples=", h.frameSamples) || !readInt(w[5], "kbps=", h.kbps))
    return std::nullopt;
  if (h.channels > 2 || (h.frameSamples != 576 && h.frameSamples != 1152)) return std::nullopt;
  if (w.size() == 7 && w[6] != "approx") return std::nullopt;
  h.approx = w.size() == 7;
  return h;
}

std::optional<SegmentLine> parseSegment(std::string_view text) {
  const std::vector<std::string_view> w = words(text);
  SegmentLine line;
  if (w.size() != 5 || !readPlace(w, 'S', line.at)) return std::nullopt;
  for (SegmentReason reason : kReasons) {
    if (w[4] != reasonName(reason)) continue;
    line.reason = reason;
    return line;
  }
  return std::nullopt;
}

std::optional<LevelLine> parseLevel(std::string_view text) {
  const std::vector<std::string_view> w = words(text);
  LevelLine line;
  if (w.size() < 6 || w.size() > 7 || !readPlace(w, 'L', line.at)) return std::nullopt;
  double lufs = 0;
  if (w[4] != "-" && !readDb(w[4], lufs)) return std::nullopt;
  if (w[4] != "-") line.lufs = lufs;
  line.channels = static_cast<int>(w.size()) - 5;
  for (int c = 0; c < line.channels; ++c)
    if (!readDb(w[5 + static_cast<std::size_t>(c)], line.peakDb[static_cast<std::size_t>(c)]))
      return std::nullopt;
  return line;
}

}  // namespace vorta
