// Loudness of recorded sound for the time maps: EBU R128 short-term
// loudness (the last 3 s, in LUFS).
//
// Contract: a LoudnessMeter belongs to the thread that made it (the
// encoder's) and is fed the sound in order. On Linux it is libebur128. The
// Windows build measures nothing (shortTerm() gives none, written "-" in the
// time map): its recorder has no archive server to feed, and a second
// library cross-built for it would buy a figure no Windows user asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace vorta {

class LoudnessMeter {
 public:
  virtual ~LoudnessMeter() = default;
  // `frames` frames of interleaved 16-bit samples.
  virtual void add(const std::int16_t* samples, std::size_t frames) = 0;
  // The loudness of the last 3 s added, in LUFS; -infinity for digital
  // silence; none when it cannot be measured.
  virtual std::optional<double> shortTerm() = 0;
};

// Never null: a meter that cannot be made measures nothing.
std::unique_ptr<LoudnessMeter> makeLoudnessMeter(int sampleRate, int channels);

}  // namespace vorta
