// Time maps: the lines read and written, a map's lookups, the approximate
// rebuild, frame walking, the capture side's stamps and a map continued
// after a crash.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Fakes.h"
#include "archive/TimeMap.h"
#include "capture/SegmentStamper.h"
#include "encode/SidecarFile.h"
#include "platform/Files.h"

namespace vorta {
namespace {

constexpr const char* kHeader = "vorta-times 1 rate=44100 channels=2 frame-samples=1152 kbps=128\n";

TEST(TimeMap, ParsesWholeValidLinesOnly) {
  const struct { std::string text; bool ok; std::size_t segments, levels, skipped; } rows[] = {
      {kHeader, true, 0, 0, 0},
      {std::string(kHeader) + "S 1000 0 0 start\nL 11000 383 160078 -23.4 -6.0 -inf\n", true, 1, 1, 0},
      {std::string(kHeader) + "S 1000 0 0 start\nL 11000 383 160078 -23.4 -6", true, 1, 0, 1},  // torn
      {std::string(kHeader) + "S 1000 0 0 nap\nS 1 2\nL 1 2 3 - -inf\nS 1 2 3 overrun\n", true, 1, 1, 2},
      {"vorta-times 1 rate=44100 channels=2 frame-samples=1152 kbps=128 approx\n", true, 0, 0, 0},
      {"vorta-times 2 rate=44100 channels=2 frame-samples=1152 kbps=128\n", false, 0, 0, 0},
      {"vorta-times 1 rate=44100 channels=3 frame-samples=1152 kbps=128\n", false, 0, 0, 0},
      {"vorta-times 1 rate=44100 channels=2 frame-samples=1000 kbps=128\n", false, 0, 0, 0},
      {"vorta-times 1 rate=44100 channels=2 frame-samples=1152 kbps=128", false, 0, 0, 0},
  };
  for (const auto& r : rows) {
    const std::optional<TimeMap> map = TimeMap::parse(r.text);
    ASSERT_EQ(map.has_value(), r.ok) << r.text;
    if (!map) continue;
    EXPECT_EQ(map->segments().size(), r.segments) << r.text;
    EXPECT_EQ(map->levels().size(), r.levels) << r.text;
    EXPECT_EQ(map->skippedLines(), r.skipped) << r.text;
  }
}

TEST(TimeMap, LinesReadBackAsWritten) {
  LevelLine mono{{1796637610000, 383, 160078}, -23.44, 1, {-0.04, 0}};
  EXPECT_EQ(levelText(mono), "L 1796637610000 383 160078 -23.4 -0.0");
  mono.lufs.reset();
  mono.peakDb[0] = dbfsOf(0);
  EXPECT_EQ(levelText(mono), "L 1796637610000 383 160078 - -inf");
  for (const char* line : {"S 1796637600000 0 0 start", "S 5 6 7 append", "S 5 6 7 stall",
                           "S 5 6 7 restart", "S 5 6 7 silence"})
    EXPECT_EQ(segmentText(*parseSegment(line)), line);
  for (const char* line : {"L 1 2 3 -inf -inf -6.0", "L 1 2 3 -12.5 -3.1", "L 1 2 3 - -0.5 -0.7"})
    EXPECT_EQ(levelText(*parseLevel(line)), line);
  EXPECT_EQ(headerText(*parseHeader(std::string_view(kHeader).substr(0, 63))), std::string(kHeader, 63));
  EXPECT_NEAR(dbfsOf(16384), -6.02, 0.01);
}

// Two stretches: 0..100 frames from t=1000 s, an L line at frame 50 that
// corrects the count by 40 ms, and after a cut from 5000 s at frame 100.
TimeMap twoSegments() {
  const std::string text = std::string(kHeader) + "S 1000000 0 0 start\n" +
                           "L 1001346 50 20898 -20.0 -6.0 -6.0\nS 5000000 100 41796 silence\n";
  return *TimeMap::parse(text);
}

TEST(TimeMap, ClockTimesMapToFramesAndBack) {
  const TimeMap map = twoSegments();
  const double frameMs = 1152 * 1000.0 / 44100;  // 26.12
  const std::uint64_t fileBytes = 41796 + 418 * 200;  // 200 frames after the cut
  const struct { std::int64_t at; std::optional<std::uint64_t> frame; } rows[] = {
      {999999, std::nullopt},              // before the first sound
      {1000000, 0}, {1000030, 1},          // counted from the S line
      {1001346, 50}, {1001346 + 27, 51},   // from the L line, not from the S line
      {1003000, 100},                      // in the gap: the next sound
      {5000000, 100}, {5000000 + 2613, 200},
      {5000000 + std::int64_t(200 * frameMs) + 1, std::nullopt},  // after the end
  };
  for (const auto& r : rows) {
    const std::optional<FramePlace> place = map.placeAt(r.at, fileBytes);
    ASSERT_EQ(place.has_value(), r.frame.has_value()) << r.at;
    if (!place) continue;
    EXPECT_EQ(place->frame, *r.frame) << r.at;
    // Within two bytes of frame * 417.96, as an average frame length counts.
    EXPECT_NEAR(double(place->offset), *r.frame * 417.959, 2.0) << r.at;
  }
  EXPECT_EQ(map.timeAt(0), 1000000);
  EXPECT_EQ(map.timeAt(418 * 10), 1000000 + std::llround(10 * frameMs));
  EXPECT_EQ(map.timeAt(20898 + 418), 1001346 + std::llround(frameMs));
  EXPECT_EQ(map.timeAt(41796), 5000000);
  EXPECT_EQ(map.segmentEndMs(0, fileBytes), 1001346 + std::llround(50 * frameMs));
  EXPECT_EQ(map.endMs(fileBytes), 5000000 + std::llround(200 * frameMs));
}

TEST(TimeMap, RebuiltFromFramesAndTheFileTime) {
  const std::uint8_t mono22k[4] = {0xFF, 0xF3, 0x80, 0xC4};  // MPEG-2, 64 kbit/s, 22050 Hz, mono
  const TimeMap map = TimeMap::rebuilt(*parseMpegHeader(mono22k), 1000, 2000000);
  EXPECT_EQ(headerText(map.header()), "vorta-times 1 rate=22050 channels=1 frame-samples=576 kbps=64 approx");
  EXPECT_EQ(map.startMs(), 2000000 - std::llround(1000 * 576 * 1000.0 / 22050));
  ASSERT_EQ(map.segments().size(), 1u);
  EXPECT_EQ(map.segments()[0].at.offset, 0u);
}

TEST(MpegHeader, FrameStartsNeedAFollowingHeader) {
  std::vector<std::uint8_t> bytes = {0xFF, 0xFB, 0x90};  // a header's start only: noise
  std::vector<std::uint8_t> frame(417, 0);
  for (std::uint8_t b : {0xFF, 0xFB, 0x90, 0x64}) frame.push_back(b);  // MPEG-1, 128 kbit/s, 44100 Hz
  std::rotate(frame.begin(), frame.end() - 4, frame.end());
  frame.resize(417);
  for (int i = 0; i < 3; ++i) bytes.insert(bytes.end(), frame.begin(), frame.end());
  EXPECT_EQ(nextFrameStart(bytes, 0), 3u);
  EXPECT_EQ(nextFrameStart(bytes, 4), 3u + 417);
  EXPECT_EQ(nextFrameStart(std::span(bytes).first(3 + 417 + 10), 4), std::nullopt);
  FrameWalker walk(bytes, 3);
  int frames = 0;
  while (walk.next()) ++frames;
  EXPECT_EQ(frames, 3);
  EXPECT_EQ(walk.offset(), bytes.size());
}

// 1 s blocks of 1000 bytes: stamps at the start, after each kind of break,
// when the wall clock has drifted from the count, and earlier when a
// stretch's first block came late.
TEST(SegmentStamper, StampsWhereContinuousSoundBegins) {
  SegmentStamper stamper(1000);
  const auto step = [&](std::uint32_t kept, std::int64_t arrivedMs) {
    return stamper.afterBlock(1000, kept, arrivedMs);
  };
  auto s = step(1000, 11000);
  ASSERT_TRUE(s && s->pcmByte == 0 && s->epochMs == 10000 && s->reason == SegmentReason::Start);
  EXPECT_FALSE(step(1000, 12200));  // 200 ms late: within the drift allowed
  s = step(1000, 13400);            // 400 ms late
  ASSERT_TRUE(s && s->pcmByte == 2000 && s->epochMs == 12400 && s->reason == SegmentReason::Continued);
  EXPECT_FALSE(step(400, 14400));   // sound, then silence cut off
  EXPECT_FALSE(step(0, 15400));
  s = step(1000, 16400);
  ASSERT_TRUE(s && s->pcmByte == 3400 && s->epochMs == 15400 && s->reason == SegmentReason::Silence);
  stamper.lost(SegmentReason::Stall);
  s = step(1000, 17900);
  ASSERT_TRUE(s && s->pcmByte == 4400 && s->epochMs == 16900 && s->reason == SegmentReason::Stall);
  s = step(1000, 18800);            // 100 ms earlier than counted: the stall's stamp was late
  ASSERT_TRUE(s && s->pcmByte == 4400 && s->epochMs == 16800 && s->reason == SegmentReason::Continued);
  stamper.dropped(1000);            // the ring was full after all
  s = step(1000, 19900);
  ASSERT_TRUE(s && s->pcmByte == 5400 && s->reason == SegmentReason::Overrun);
  for (std::int64_t at = 20900; at <= 25900; at += 1000) EXPECT_FALSE(step(1000, at));
  s = step(1000, 26500);            // 400 ms early, long after the stretch began
  ASSERT_TRUE(s && s->pcmByte == 12400 && s->epochMs == 25500 && s->reason == SegmentReason::Continued);
  EXPECT_FALSE(step(400, 27500));   // silence cut, then sound lost: the loss is said
  stamper.lost(SegmentReason::Stall);
  s = step(1000, 29000);
  ASSERT_TRUE(s && s->pcmByte == 13800 && s->reason == SegmentReason::Stall);
}

// A map continued by a restarted recorder: a torn last line is cut off; a
// map of another format is replaced; one that cannot be written is said once.
TEST(SidecarFile, AppendCutsATornLineOrStartsAfresh) {
  namespace fs = std::filesystem;
  // A folder of this process's own: the stages' test runs may overlap.
  const fs::path dir = fs::temp_directory_path() / ("vorta-sidecar-test-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string mp3 = (dir / "10.mp3").string();
  const TimeMapHeader header = *parseHeader(std::string_view(kHeader).substr(0, 63));
  const struct { bool append; std::string before, after; } rows[] = {
      {true, std::string(kHeader) + "S 1 0 0 start\nL 2 3", std::string(kHeader) + "S 1 0 0 start\nS 9 9 9 append\n"},
      {true, "vorta-times 1 rate=48000 channels=2 frame-samples=1152 kbps=128\nS 1 0 0 start\n",
       std::string(kHeader) + "S 9 9 9 append\n"},
      {true, "", std::string(kHeader) + "S 9 9 9 append\n"},
      {false, std::string(kHeader) + "S 1 0 0 start\n", std::string(kHeader) + "S 9 9 9 append\n"},  // a new file
  };
  const Reporter quiet;
  for (const auto& r : rows) {
    std::ofstream(mp3 + ".times", std::ios::binary) << r.before;
    SidecarFile sidecar(systemFileSystem(), mp3, header, r.append, quiet);
    sidecar.writeLine("S 9 9 9 append");
    sidecar.finish();
    std::ifstream in(mp3 + ".times", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), r.after) << r.before;
  }
  KeptReport report;
  FlakyFiles refusing;
  refusing.failOpenAt = 0;
  SidecarFile lost(refusing, mp3, header, false, report.reporter);
  lost.writeLine("S 1 0 0 start"), lost.writeLine("S 2 0 0 start"), lost.finish();
  EXPECT_EQ(report.text.err, "\r\n* Time map " + mp3 + ".times not written: open refused\r\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vorta
