// Makes an archive as a recorder under the pattern %Y-%m-%d/%H.mp3 would
// (in UTC): one MP3 stream of the time code, whose moment is the clock time
// modulo 8 s, cut at frame boundaries into hourly files with time maps.
//   vorta_web_archive FOLDER START_MS SECONDS
//   vorta_web_archive --read FILE [RATE]
// prints the time code heard in an MP3 file, or in mono 16-bit samples at
// RATE: the moment at its start (counted back from the first clear reading),
// the last moment, the most sound missing between and the length (s).
//   vorta_web_archive --code FROM SECONDS FILE
// writes the time code from moment FROM as 48 kHz stereo for paplay --raw.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "Mp3Decode.h"
#include "encode/MpegFrame.h"
#include "platform/Mp3Engine.h"

using namespace vorta;

namespace {

// The code is read in tenths: one reading places the start to a twentieth.
// Read from ten places a hundredth apart, the placings average to the moment.
double startMoment(const test::Samples& mono, long rate, double first) {
  double sum = 0;
  int count = 0;
  for (long shift = 0; shift < 10; ++shift) {
    const test::Samples part(mono.begin() + std::min<long>(long(mono.size()), rate * shift / 100), mono.end());
    const test::CodeHeard h = test::codeHeard(test::TimeCode::read(part, rate));
    if (h.first < 0) continue;
    sum += std::remainder(h.first - h.firstAt - double(shift) / 100 - first, test::TimeCode::kTurn);
    ++count;
  }
  return first + (count ? sum / count : 0);
}

int readCode(const std::string& path, long rate) {
  const std::vector<std::uint8_t> bytes = test::readFileBytes(path);
  test::Samples mono(bytes.size() / 2);
  std::memcpy(mono.data(), bytes.data(), mono.size() * 2);
  double seconds = double(mono.size()) / double(rate);
  if (rate == 0) {
    const test::DecodedMp3 mp3 = test::decodeMp3Bytes(bytes);
    if (!mp3.ok) return 1;
    mono = mp3.channel(0), rate = mp3.rate, seconds = mp3.seconds();
  }
  const test::CodeHeard heard = test::codeHeard(test::TimeCode::read(mono, rate));
  std::printf("%.3f %.2f %.2f %.3f\n", startMoment(mono, rate, heard.first - heard.firstAt), heard.last, heard.lost,
              seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--read") return readCode(argv[2], argc > 3 ? std::stol(argv[3]) : 0);
  if (argc == 5 && std::string(argv[1]) == "--code")
    return test::TestSignal(48000, 2).timeCode(std::stod(argv[2]), std::stod(argv[3])).writeRaw(argv[4]) ? 0 : 1;
  if (argc < 4) return 2;
  const std::string folder = argv[1];
  const long long startMs = std::stoll(argv[2]);
  const double seconds = std::stod(argv[3]);
  const double codeFrom = std::fmod(double(startMs) / 1000.0, test::TimeCode::kTurn);
  const test::Samples pcm = test::TestSignal(48000, 2).timeCode(codeFrom, seconds).samples();

  auto stream = makeLameEngine()->open(Mp3Params{48000, Mp3Params::Channels::JointStereo, 128});
  if (!stream.ok()) return 1;
  std::vector<std::uint8_t> mp3;
  const std::uint32_t chunk = stream.value().samplesPerChunk();
  for (std::size_t at = 0; at < pcm.size(); at += chunk) {
    auto out = stream.value().encode({pcm.data() + at, std::min<std::size_t>(chunk, pcm.size() - at)});
    mp3.insert(mp3.end(), out.value().begin(), out.value().end());
  }
  auto rest = stream.value().flush();
  mp3.insert(mp3.end(), rest.value().begin(), rest.value().end());

  struct Out { std::ofstream mp3, times; long long frames = 0, bytes = 0; };
  std::map<long long, Out> files;  // by hour since the epoch
  for (std::size_t at = 0, frame = 0; at + 4 <= mp3.size(); ++frame) {
    const std::uint32_t length = mpegFrameLength(&mp3[at]);
    if (length == 0 || at + length > mp3.size()) break;
    const double offset = double(frame) * 1152 / 48000;
    const long long ms = startMs + std::llround(offset * 1000);
    Out& f = files[ms / 3600000];
    if (!f.mp3.is_open()) {
      const std::time_t hourStart = ms / 3600000 * 3600;
      char name[32];
      std::strftime(name, sizeof name, "%Y-%m-%d/%H.mp3", std::gmtime(&hourStart));
      std::filesystem::create_directories(folder + "/" + std::string(name).substr(0, 10));
      f.mp3.open(folder + "/" + name, std::ios::binary);
      f.times.open(folder + "/" + name + ".times");
      f.times << "vorta-times 1 rate=48000 channels=2 frame-samples=1152 kbps=128\n";
      f.times << "S " << ms << " 0 0 start\n";
    } else if (std::llround(offset * 1000) % 10000 < 24) {
      f.times << "L " << ms << ' ' << f.frames << ' ' << f.bytes << " -20.5 -6.0 -6.0\n";
    }
    f.mp3.write(reinterpret_cast<const char*>(&mp3[at]), length);
    f.frames += 1, f.bytes += length;
    at += length;
  }
  return 0;
}
