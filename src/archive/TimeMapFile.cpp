#include "archive/TimeMapFile.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vorta {
namespace {

namespace fs = std::filesystem;

// A map larger than this is no map of ours.
constexpr std::uintmax_t kLargestMap = 16u << 20;

std::optional<std::string> readText(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || size > kLargestMap) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<std::int64_t> modifiedMs(const std::string& path) {
  std::error_code error;
  const fs::file_time_type modified = fs::last_write_time(path, error);
  if (error) return std::nullopt;
  const auto system = std::chrono::file_clock::to_sys(modified);
  return std::chrono::duration_cast<std::chrono::milliseconds>(system.time_since_epoch()).count();
}

// The first frame's header, found in the file's first 64 KiB (a tag may
// come before it).
std::optional<MpegHeader> firstFrame(std::ifstream& in) {
  std::array<std::uint8_t, 65536> head{};
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const auto got = static_cast<std::size_t>(in.gcount());
  const std::span<const std::uint8_t> bytes(head.data(), got);
  const std::optional<std::size_t> at = nextFrameStart(bytes, 0);
  if (!at) return std::nullopt;
  return parseMpegHeader(head.data() + *at);
}

}  // namespace

std::optional<TimeMap> rebuildTimeMap(const std::string& mp3Path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(mp3Path, error);
  const std::optional<std::int64_t> endMs = modifiedMs(mp3Path);
  std::ifstream in(mp3Path, std::ios::binary);
  if (error || !endMs || !in) return std::nullopt;
  const std::optional<MpegHeader> first = firstFrame(in);
  if (!first) return std::nullopt;
  // A constant bitrate: the frame count is the size over the average frame.
  const double frameBytes = first->frameSamples / 8.0 * first->kbps * 1000.0 / first->rate;
  const auto frames = static_cast<std::uint64_t>(static_cast<double>(size) / frameBytes);
  return TimeMap::rebuilt(*first, frames, *endMs);
}

std::optional<MappedFile> loadMappedFile(const std::string& mp3Path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(mp3Path, error);
  if (error) return std::nullopt;
  if (const std::optional<std::string> text = readText(mp3Path + ".times"))
    if (std::optional<TimeMap> map = TimeMap::parse(*text))
      if (!map->segments().empty()) return MappedFile{mp3Path, size, std::move(*map)};
  std::optional<TimeMap> rebuilt = rebuildTimeMap(mp3Path);
  if (!rebuilt) return std::nullopt;
  return MappedFile{mp3Path, size, std::move(*rebuilt)};
}

std::optional<FilePlace> locate(const std::vector<MappedFile>& files, std::int64_t epochMs) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    const TimeMap& map = files[i].map;
    const std::optional<std::int64_t> start = map.startMs();
    if (!start) continue;
    if (epochMs < *start) {
      if (i == 0) return std::nullopt;
      return FilePlace{i, map.segments().front().at};  // in the gap before this file
    }
    if (const std::optional<FramePlace> place = map.placeAt(epochMs, files[i].bytes))
      return FilePlace{i, *place};
  }
  return std::nullopt;
}

}  // namespace vorta
