// The Windows build measures no loudness (see Loudness.h).
#include "platform/Loudness.h"

namespace vorta {
namespace {

class NoMeter final : public LoudnessMeter {
 public:
  void add(const std::int16_t*, std::size_t) override {}
  std::optional<double> shortTerm() override { return std::nullopt; }
};

}  // namespace

std::unique_ptr<LoudnessMeter> makeLoudnessMeter(int, int) { return std::make_unique<NoMeter>(); }

}  // namespace vorta
