// The loudness meter over libebur128, in its short-term mode only: the
// cheapest that gives the 3 s figure.
#include <ebur128.h>

#include <limits>

#include "platform/Loudness.h"

namespace vorta {
namespace {

struct StateCloser {
  void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

class Ebur128Meter final : public LoudnessMeter {
 public:
  Ebur128Meter(int sampleRate, int channels)
      : state_(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                            EBUR128_MODE_S)) {}

  void add(const std::int16_t* samples, std::size_t frames) override {
    if (state_ && frames > 0) static_cast<void>(ebur128_add_frames_short(state_.get(), samples, frames));
  }

  std::optional<double> shortTerm() override {
    double lufs = 0;
    if (!state_ || ebur128_loudness_shortterm(state_.get(), &lufs) != EBUR128_SUCCESS)
      return std::nullopt;
    // libebur128 gives -HUGE_VAL for silence.
    if (lufs < -1000) return -std::numeric_limits<double>::infinity();
    return lufs;
  }

 private:
  std::unique_ptr<ebur128_state, StateCloser> state_;
};

}  // namespace

std::unique_ptr<LoudnessMeter> makeLoudnessMeter(int sampleRate, int channels) {
  return std::make_unique<Ebur128Meter>(sampleRate, channels);
}

}  // namespace vorta
