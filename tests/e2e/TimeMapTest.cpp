// The time map an archive gets, end to end: 12 s of the time code, 5 s of
// silence (cut to 2), half a second of it, 5 s of silence again, 8 s more,
// under a faked clock, at 48 kHz (10 s of sound end inside a frame). The map
// must hold an S line at the start and one after each cut (the silence before
// the code may be cut too, on a slow start; the line after the first cut is
// written after the second cut's stamp came), an L line at each 10 s of sound
// with the code's peaks and a loudness of sound (its last 3 s may hold a
// pause), offsets on frame headers, and clock times that match the time code
// heard at each line's place.
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <thread>

#include "E2eTest.h"
#include "archive/TimeMap.h"

namespace vorta::test {
namespace {

using namespace std::chrono;

// The moment of the code at decoded sample `at`, counted from the nearest
// clear reading at or after it (the sound is continuous up to there).
std::optional<double> codeAt(const std::vector<double>& moments, double at, long rate) {
  const double tenth = double(rate) * TimeCode::kStep;
  for (auto i = std::size_t(at / tenth); i < moments.size() && i < std::size_t(at / tenth) + 15; ++i)
    if (moments[i] >= 0 && i + 1 < moments.size() && std::fabs(moments[i + 1] - moments[i] - 0.1) < 0.05)
      return moments[i] - (double(i) - at / tenth) * TimeCode::kStep;
  return std::nullopt;
}

TEST_F(E2eTest, TimeMapOfAnArchiveMatchesTheSound) {
  auto options = vorta({"-d", "48", "--name", "%F/%H.mp3", "-s", "50", "-x", "stop.now", "r"});
  for (const auto& entry : wallClockAt("2026-12-07 10:20:00")) options.env.push_back(entry);
  const auto started = steady_clock::now();
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  const auto played = steady_clock::now();
  // The code's moments go on through the silence: moment = time played.
  ASSERT_EQ(play(TestSignal(48000, 2).timeCode(0, 12).silence(5).timeCode(17, 0.5).silence(5).timeCode(22.5, 8))
                ->wait(40000), 0);
  std::this_thread::sleep_for(milliseconds(200));
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();

  const std::string file = path("2026-12-07/10.mp3");
  const std::vector<std::uint8_t> bytes = readFileBytes(file);
  const std::vector<std::uint8_t> text = readFileBytes(file + ".times");
  const std::optional<TimeMap> map = TimeMap::parse(std::string(text.begin(), text.end()));
  ASSERT_TRUE(map && map->skippedLines() == 0) << std::string(text.begin(), text.end());
  EXPECT_EQ(headerText(map->header()), "vorta-times 1 rate=48000 channels=2 frame-samples=1152 kbps=128");
  ASSERT_TRUE(map->segments().size() == 3 || map->segments().size() == 4);
  EXPECT_TRUE(map->segments()[0].reason == SegmentReason::Start && map->segments()[0].at.offset == 0);
  std::vector<FramePlace> places;
  for (const SegmentLine& s : map->segments()) {
    EXPECT_EQ(s.reason, &s == &map->segments()[0] ? SegmentReason::Start : SegmentReason::Silence);
    places.push_back(s.at);
  }
  ASSERT_EQ(map->levels().size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const LevelLine& l = map->levels()[i];
    EXPECT_EQ(l.at.frame, ((i + 1) * 480000 - 1 + 576) / 1152);  // the last sound of each 10 s
    EXPECT_TRUE(l.lufs && *l.lufs > -20 && *l.lufs < 0) << levelText(l);
    EXPECT_TRUE(l.peakDb[0] > -7.5 && l.peakDb[0] < -4.5 && l.peakDb[1] > -7.5) << levelText(l);
    places.push_back(l.at);
  }
  // Every place is the header of the frame of its index.
  std::map<std::uint64_t, std::uint64_t> frameAt;
  FrameWalker walk(bytes, 0);
  for (std::uint64_t index = 0; walk.frame(); walk.next()) frameAt[walk.offset()] = index++;
  EXPECT_EQ(walk.offset(), bytes.size());
  for (const FramePlace& p : places) EXPECT_EQ(frameAt.count(p.offset) ? frameAt[p.offset] : ~0ull, p.frame);

  // Clock time minus code moment is the moment the code began: the same at
  // every line (the start, before the code, excepted), and about when the
  // player was started on the faked clock (which began with the process;
  // the player's own latency comes on top).
  const DecodedMp3 decoded = decodeWhole(file);
  const std::vector<double> moments = TimeCode::read(decoded.channel(0), decoded.rate);
  const double fakedStart = double(duration_cast<seconds>(
      (sys_days{year{2026} / 12 / 7} + hours(10) + minutes(20)).time_since_epoch()).count());
  const double codeBegan = fakedStart + duration<double>(played - started).count();
  std::optional<double> first;
  for (std::size_t i = 1; i < places.size(); ++i) {
    // Input sample s is decoded at s + 1105 (the engine's and the decoder's
    // delays); a frame's first is frame * 1152 - 576.
    const std::optional<double> code = codeAt(moments, double(places[i].frame * 1152 + 529), decoded.rate);
    ASSERT_TRUE(code) << "no code at frame " << places[i].frame;
    const double began = double(places[i].epochMs) / 1000 - *code;
    if (!first) first = began;
    // The code turns every 8 s: it tells the moment within a turn.
    EXPECT_NEAR(std::remainder(began - *first, TimeCode::kTurn), 0, 0.2) << "frame " << places[i].frame;
    EXPECT_NEAR(std::remainder(began - codeBegan, TimeCode::kTurn), 0, 1.0) << "frame " << places[i].frame;
  }
}

}  // namespace
}  // namespace vorta::test
