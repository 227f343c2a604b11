// The settings of one run, read from the command line.
//
// Filled on the main thread by readSettings before any other thread starts and
// read without locks afterwards. Two fields change later: encoderBoost, which
// the run sequence resolves before it starts the encoder thread, and
// outputName, which the capture loop rewrites at each new hour in split mode
// while the encoder thread may be reading it; that one is a GuardedName.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace vorta {

// A file name of at most kMaxNameBytes bytes, shared between the main thread
// (split naming rewrites it) and the encoder thread (reads it when it creates
// a file). A mutex, not an atomic: the name is many bytes and both sides touch
// it a few times an hour.
class GuardedName {
 public:
  // The fixed name fields hold 259 bytes and a terminating zero.
  static constexpr std::size_t kMaxNameBytes = 259;

  GuardedName() = default;
  explicit GuardedName(std::string initial) : name_(std::move(initial)) {}
  GuardedName(const GuardedName& other) : name_(other.get()) {}
  GuardedName& operator=(const GuardedName& other) {
    set(other.get());
    return *this;
  }

  std::string get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
  }
  void set(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = std::move(name);
  }

 private:
  mutable std::mutex mutex_;
  std::string name_;
};

enum ChannelMode : int { kStereo = 0, kJointStereo = 1, kMono = 3, kAutoChannels = -1 };
enum Quality : int { kQualityLow = 1, kQualityHigh = 2 };
enum Language : int { kRussian = 1, kEnglish = 2 };

struct Settings {
  int language = kEnglish;
  int sampleRate = 44100;
  float mpegVersion = 0;       // 0 MPEG1, 1.0 MPEG2, 1.5 MPEG2.5; shown as mpegVersion + 1
  int bitrate = 0;             // kbit/s; 0 until derived
  int channelMode = kAutoChannels;
  int quality = kQualityHigh;
  std::int32_t bufferSize = 0;  // bytes of pcmRing; 0 until derived
  int timeLimitSeconds = 0;     // 0 = no limit
  bool silenceEnabled = false;
  int silenceThreshold = 103;   // absolute 16-bit level, about -50 dB
  int encoderBoost = 0;         // 0 platform default, 1 raised (-a), -1 not raised (-a-)
  GuardedName outputName{"out.mp3"};
  std::string stopFileName;     // empty = no stop-file
  int splitMode = 0;            // 0 one file, 1 daily, 2 weekly, 3 monthly

  int channels() const { return channelMode == kMono ? 1 : 2; }
  int bytesPerSecond() const { return sampleRate * 2 * channels(); }
};

}  // namespace vorta
