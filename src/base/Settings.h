// The settings of one run, read from the command line.
//
// Filled on the main thread from the command line before any other thread starts;
// read-only afterwards, so every thread reads it without locks. Every value
// that depends on another (bitrate, channel mode, buffer size, the first split
// name) is resolved when the command line is read: no later step rewrites a
// field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorta {

enum class SplitMode { None, Daily, Weekly, Monthly };
enum class ChannelMode { Stereo, JointStereo, Mono };
enum class Quality { Low, High };
enum class Language { English, Russian };
// The MPEG version a sample rate takes: 32, 44.1, 48 kHz are MPEG-1; 16,
// 22.05, 24 kHz MPEG-2; 8, 11.025, 12 kHz MPEG-2.5.
enum class MpegVersion { Mpeg1, Mpeg2, Mpeg25 };

// The version as its name reads ("MPEG2.5" gives 2.5).
constexpr double mpegVersionNumber(MpegVersion v) {
  return v == MpegVersion::Mpeg1 ? 1.0 : v == MpegVersion::Mpeg2 ? 2.0 : 2.5;
}

// The process's exit status.
enum class ExitCode {
  Ok = 0,             // the recording ended normally (ESC, stop-file, time limit, a signal)
  NothingToDo = 1,    // no arguments: the help was shown
  EncoderFailed = 2,  // the encoder ended on a failure (engine, file)
  Error = 3,          // a bad command line, a device error, out of memory
};

struct Settings {
  // A file name (output or stop-file) holds at most this many bytes.
  static constexpr std::size_t kMaxNameBytes = 259;

  Language language = Language::English;
  int sampleRate = 44100;
  MpegVersion mpegVersion = MpegVersion::Mpeg1;
  int bitrate = 128;      // kbit/s
  ChannelMode channelMode = ChannelMode::JointStereo;
  Quality quality = Quality::High;
  std::int32_t bufferSize = 262144;  // bytes of pcmRing
  int timeLimitSeconds = 0;          // 0 = no limit
  bool silenceEnabled = false;
  int silenceThreshold = 103;        // absolute 16-bit level, about -50 dB
  bool raiseEncoderPriority = false;  // -a: the encoder starts one level above normal
  // The file to record into; in split mode the name of the first hour's file.
  std::string outputName = "out.mp3";
  std::string stopFileName;          // empty = no stop-file
  SplitMode splitMode = SplitMode::None;
  // --device: the capture device to open; empty = AUDIODEV, else the system's default.
  std::string device;
  // --dir: the folder the files go to (empty: the current folder).
  std::string outputDir;
  // --name: a pattern for the split files' names (empty: the split mode's).
  std::string namePattern;
  // --keep-days: files of namePattern older than this many days are deleted
  // (0: none).
  int keepDays = 0;
  // --keep-free: while the free space of the files' file system is below
  // this mark, the oldest files of namePattern are deleted. A size in bytes,
  // or a share of the file system's size; both 0: no mark.
  std::uint64_t keepFreeBytes = 0;
  int keepFreePercent = 0;  // 1..99
  std::string keepFreeText;  // as given (500M, 10%), for the messages
  // --utc: names, hours and dates come from UTC instead of local time.
  bool utc = false;
  // --log: every message as whole lines, the status line once a minute and
  // the run's losses at the end, for a journal, a pipe or a file.
  bool logLines = false;
  // --meter: the status line also shows each channel's peak and the clipped samples.
  bool meter = false;
  // --dead-air: how long (ms) the input stays below the silence level before
  // it is reported as dead air (0: not watched).
  std::int64_t deadAirMs = 0;
  // Each file gets a time map beside it (NAME.times): --time-map, or an
  // archive named by --name. Resolved when the command line is read.
  bool timeMap = false;
  // --status: a JSON file replaced once a second with the run's state
  // (empty: none).
  std::string statusFile;
  // --on-event: a shell command run for each reported event (empty: none).
  std::string onEvent;

  int channels() const { return channelMode == ChannelMode::Mono ? 1 : 2; }
  int bytesPerSecond() const { return sampleRate * 2 * channels(); }
};

}  // namespace vorta
