// Ten minutes of music-like PCM (44.1 kHz stereo, 128 kbit/s) through pcmRing
// and the encoder thread to a file, against the same PCM encoded with bare
// libmp3lame calls at the same settings. Prints the encoding thread's CPU
// time for both and their ratio, at high and at low quality.
//
// Thread CPU time does not count the time other programs take the processor
// away, but caches and frequency still move with a busy machine: the runs
// are interleaved (pipeline, bare, pipeline, bare ...) and the minimum of
// each is compared. pipeline_bench [repetitions], 3 by default.
#include <lame/lame.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "base/RunState.h"
#include "base/Settings.h"
#include "encode/EncoderThread.h"
#include "base/RingBuffer.h"
#include "platform/Files.h"
#include "platform/Mp3Engine.h"

namespace {

using namespace vorta;

constexpr int kRate = 44100;
constexpr int kSeconds = 600;

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::vector<std::int16_t> musicLikePcm() {
  std::vector<std::int16_t> pcm(std::size_t(kRate) * kSeconds * 2);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 1500.0);
  const double tones[] = {110.0, 220.0, 329.6, 440.0, 659.3, 880.0, 1760.0};
  for (std::size_t i = 0; i < pcm.size() / 2; ++i) {
    const double t = double(i) / kRate;
    double v = 0.0;
    for (std::size_t k = 0; k < std::size(tones); ++k) {
      const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * (0.1 + 0.07 * k) * t);
      v += 2500.0 * envelope * std::sin(2 * M_PI * tones[k] * t);
    }
    pcm[2 * i] = static_cast<std::int16_t>(std::clamp(v + noise(rng), -32000.0, 32000.0));
    pcm[2 * i + 1] =
        static_cast<std::int16_t>(std::clamp(0.8 * v + noise(rng), -32000.0, 32000.0));
  }
  return pcm;
}

// Times the encoder thread's work in that thread's CPU time: from its first
// engine call (version) to its last act on the file (finish).
struct EncoderTimes {
  double start = 0, end = 0;
};

class TimedEngine : public Mp3Engine {
 public:
  TimedEngine(std::unique_ptr<Mp3Engine> real, EncoderTimes& times)
      : real_(std::move(real)), times_(times) {}
  Mp3Version version() override {
    times_.start = threadCpuSeconds();
    return real_->version();
  }
  Result<Mp3Stream> open(const Mp3Params& params) override { return real_->open(params); }

 private:
  std::unique_ptr<Mp3Engine> real_;
  EncoderTimes& times_;
};

class TimedFiles : public FileSystem {
 public:
  explicit TimedFiles(EncoderTimes& times) : times_(times) {}
  Result<std::unique_ptr<OutputFile>> open(const std::string& name) override {
    Result<std::unique_ptr<OutputFile>> real = systemFileSystem().open(name);
    if (!real.ok()) return real;
    return std::unique_ptr<OutputFile>(std::make_unique<File>(std::move(real).value(), times_));
  }
  bool exists(const std::string& path) override { return systemFileSystem().exists(path); }
  void remove(const std::string& path) override { systemFileSystem().remove(path); }

 private:
  class File : public OutputFile {
   public:
    File(std::unique_ptr<OutputFile> real, EncoderTimes& times)
        : real_(std::move(real)), times_(times) {}
    const FileFacts& facts() const override { return real_->facts(); }
    Result<std::size_t> readAt(std::uint64_t at, void* bytes, std::size_t n) override {
      return real_->readAt(at, bytes, n);
    }
    Status write(const void* bytes, std::size_t n) override { return real_->write(bytes, n); }
    Status truncate(std::uint64_t size) override { return real_->truncate(size); }
    Status finish() override {
      Status done = real_->finish();
      times_.end = threadCpuSeconds();
      return done;
    }

   private:
    std::unique_ptr<OutputFile> real_;
    EncoderTimes& times_;
  };
  EncoderTimes& times_;
};

class KeepPriority : public PrioritySeam {
 public:
  PriorityLevel current() override { return PriorityLevel::Normal; }
  void set(PriorityLevel) override {}
};

struct PipelineTimes {
  double encoder = 0;  // the encoder thread, from its first engine call to its last
  double feeder = 0;   // the capture side's work per buffer: the ring write and the wake-up
};

PipelineTimes pipelineSeconds(const std::vector<std::int16_t>& pcm, Quality quality) {
  Settings settings;
  settings.sampleRate = kRate;
  settings.channelMode = ChannelMode::JointStereo;
  settings.bitrate = 128;
  settings.quality = quality;
  settings.bufferSize = 16 << 20;
  settings.outputName = "/tmp/vorta-bench-pipeline.mp3";
  RunState run;
  RingBuffer pcmRing(static_cast<std::uint32_t>(settings.bufferSize));
  EncoderTimes times;
  TimedEngine engine(makeLameEngine(), times);
  TimedFiles files(times);
  KeepPriority priority;
  const Reporter reporter;  // no sinks: the bench measures the work, not the texts
  run.encoderEvent.open();
  double feeder = 0;
  {
    EncoderThread thread({settings, run, pcmRing, engine, files, systemClock(), priority, reporter},
                         PriorityLevel::Normal);
    // The capture side: half-second buffers, as fast as the ring takes them.
    // Only its work per buffer counts, as in the program, not this loop's
    // waiting for room.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    const std::uint32_t piece = kRate * 4 / 2;
    for (std::size_t at = 0; at < total;) {
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(piece, total - at));
      if (pcmRing.size() - pcmRing.available() < n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      const double writeStart = threadCpuSeconds();
      static_cast<void>(pcmRing.write(bytes + at, n));  // room was checked above
      run.encoderEvent.set();
      feeder += threadCpuSeconds() - writeStart;
      at += n;
    }
    run.captureStopped.fetch_add(1, std::memory_order_release);
    run.encoderEvent.set();
  }
  if (run.encoderFailed.load()) std::fprintf(stderr, "pipeline failed\n");
  return {times.end - times.start, feeder};
}

double bareSeconds(const std::vector<std::int16_t>& pcm, Quality quality) {
  const double start = threadCpuSeconds();
  lame_global_flags* g = lame_init();
  lame_set_num_channels(g, 2);
  lame_set_in_samplerate(g, kRate);
  lame_set_out_samplerate(g, kRate);
  lame_set_mode(g, JOINT_STEREO);
  lame_set_VBR(g, vbr_off);
  lame_set_brate(g, 128);
  lame_set_quality(g, quality == Quality::High ? 2 : 7);
  lame_set_bWriteVbrTag(g, 0);
  lame_set_write_id3tag_automatic(g, 0);
  lame_set_original(g, 1);
  lame_init_params(g);
  std::FILE* out = std::fopen("/tmp/vorta-bench-bare.mp3", "wb");
  std::vector<unsigned char> mp3(static_cast<std::size_t>(1.25 * 2304) + 7200);
  const std::size_t frames = pcm.size() / 2;
  for (std::size_t at = 0; at < frames; at += 1152) {
    const int n = static_cast<int>(std::min<std::size_t>(1152, frames - at));
    const int got = lame_encode_buffer_interleaved(g, const_cast<short*>(pcm.data() + 2 * at), n,
                                                   mp3.data(), static_cast<int>(mp3.size()));
    if (got > 0) std::fwrite(mp3.data(), 1, static_cast<std::size_t>(got), out);
  }
  const int got = lame_encode_flush(g, mp3.data(), static_cast<int>(mp3.size()));
  if (got > 0) std::fwrite(mp3.data(), 1, static_cast<std::size_t>(got), out);
  std::fclose(out);
  lame_close(g);
  return threadCpuSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const auto pcm = musicLikePcm();
  std::printf("10 min, 44.1 kHz stereo, 128 kbit/s joint stereo; CPU seconds, minimum of %d "
              "interleaved runs\n",
              repetitions);
  for (Quality quality : {Quality::High, Quality::Low}) {
    double encoder = 1e9, feeder = 1e9, total = 1e9, bare = 1e9;
    for (int i = 0; i < repetitions; ++i) {
      const PipelineTimes p = pipelineSeconds(pcm, quality);
      encoder = std::min(encoder, p.encoder);
      feeder = std::min(feeder, p.feeder);
      total = std::min(total, p.encoder + p.feeder);
      bare = std::min(bare, bareSeconds(pcm, quality));
    }
    std::printf("%-4s quality: pipeline %.3f s (encoder thread %.3f, ring writes %.3f), "
                "bare libmp3lame %.3f s, ratio %.4f\n",
                quality == Quality::High ? "high" : "low", total, encoder, feeder, bare,
                total / bare);
    std::fflush(stdout);
  }
  return 0;
}
