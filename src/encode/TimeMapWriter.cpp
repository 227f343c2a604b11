#include "encode/TimeMapWriter.h"

#include <algorithm>
#include <cmath>

namespace vorta {

TimeMapWriter::TimeMapWriter(FileSystem& files, TimeStampQueue& stamps,
                             const TimeMapHeader& header, std::unique_ptr<LoudnessMeter> meter,
                             const Reporter& reporter)
    : files_(files),
      reporter_(reporter),
      stamps_(stamps),
      header_(header),
      levels_(header.rate, header.channels, std::move(meter)),
      refineSamples_(static_cast<std::uint64_t>(header.rate) * 3) {}

void TimeMapWriter::sound(const std::int16_t* samples, std::uint32_t frames) {
  const auto frameBytes = static_cast<std::uint64_t>(header_.channels) * 2;
  takeStamps((samples_ + frames) * frameBytes);
  measure(samples, frames);
  forgetOldAnchors();
}

// The stamps of the stretches that begin in the sound now taken.
void TimeMapWriter::takeStamps(std::uint64_t pcmEnd) {
  const auto frameBytes = static_cast<std::uint64_t>(header_.channels) * 2;
  while (const std::optional<TimeStamp> stamp = stamps_.popBefore(pcmEnd)) {
    const std::uint64_t sample = stamp->pcmByte / frameBytes;
    // A later stamp for the same place (the sound after it was dropped)
    // replaces the earlier one.
    while (!anchors_.empty() && anchors_.back().sample >= sample) anchors_.pop_back();
    anchors_.push_back({sample, stamp->epochMs});
    if (stamp->reason != SegmentReason::Continued)
      queue({frameOf(sample), sample, stamp->reason}, false);
  }
}

void TimeMapWriter::measure(const std::int16_t* samples, std::uint32_t frames) {
  while (frames > 0) {
    const std::uint32_t took = levels_.add(samples, frames);
    samples += static_cast<std::size_t>(took) * static_cast<std::size_t>(header_.channels);
    frames -= took;
    samples_ += took;
    if (std::optional<LevelLine> level = levels_.take())
      queue({frameOf(samples_ - 1), samples_, *level}, false);
  }
}

// In frame order; a file's first line goes before the others of its frame.
void TimeMapWriter::queue(Pending pending, bool first) {
  const auto byFrame = [](const Pending& a, const Pending& b) { return a.frame < b.frame; };
  const auto at = first ? std::lower_bound(pending_.begin(), pending_.end(), pending, byFrame)
                        : std::upper_bound(pending_.begin(), pending_.end(), pending, byFrame);
  pending_.insert(at, std::move(pending));
}

std::uint64_t TimeMapWriter::frameOf(std::uint64_t sample) const {
  return (sample + kEncoderDelay) / static_cast<std::uint64_t>(header_.frameSamples);
}

std::uint64_t TimeMapWriter::firstSampleOf(std::uint64_t frame) const {
  const std::uint64_t first = frame * static_cast<std::uint64_t>(header_.frameSamples);
  return first > kEncoderDelay ? first - kEncoderDelay : 0;
}

// Counted from the last stamp at or before the sample (the first stamp for
// the sound before it).
std::int64_t TimeMapWriter::timeOf(std::uint64_t sample) const {
  if (anchors_.empty()) return 0;
  auto after = std::upper_bound(anchors_.begin(), anchors_.end(), sample,
                                [](std::uint64_t s, const Anchor& a) { return s < a.sample; });
  const Anchor& a = after == anchors_.begin() ? *after : *(after - 1);
  const double ms = (static_cast<double>(sample) - static_cast<double>(a.sample)) * 1000.0 /
                    static_cast<double>(header_.rate);
  return a.epochMs + static_cast<std::int64_t>(std::floor(ms + 0.5));
}

// Anchors are kept while a waiting line, or a file that may still start,
// could need them: 10 s behind the sound taken covers the engine's delay.
void TimeMapWriter::forgetOldAnchors() {
  const std::uint64_t margin = static_cast<std::uint64_t>(header_.rate) * 10;
  std::uint64_t needed = samples_ > margin ? samples_ - margin : 0;
  if (!pending_.empty()) needed = std::min(needed, pending_.front().sample);
  needed = std::min(needed, firstSampleOf(file_.firstFrame));
  while (anchors_.size() > 1 && anchors_[1].sample <= needed) anchors_.pop_front();
}

void TimeMapWriter::encoded(std::span<const std::uint8_t> bytes) { frames_.add(bytes); }

void TimeMapWriter::fileStarted(const std::string& name, std::uint64_t streamStart,
                                std::uint64_t keptBytes, bool append) {
  // Everything before the new file's first byte is in the file before.
  emitReady(streamStart, true);
  if (file_.sidecar) file_.sidecar->finish();
  file_ = File{};
  file_.sidecar = std::make_unique<SidecarFile>(files_, name, header_, append, reporter_);
  file_.streamStart = streamStart;
  file_.keptBytes = keptBytes;
  // An appended file holds whole frames of this same format.
  file_.keptFrames =
      static_cast<std::uint64_t>(std::llround(static_cast<double>(keptBytes) / header_.frameBytes()));
  file_.firstFrame = frames_.indexAt(streamStart);
  // Lines of frames before the new file that were not written are lost
  // with their file (it could not hold them).
  std::erase_if(pending_, [&](const Pending& p) { return p.frame < file_.firstFrame; });
  const SegmentReason why = append ? SegmentReason::Append : SegmentReason::Start;
  queue({file_.firstFrame, firstSampleOf(file_.firstFrame), why}, true);
}

void TimeMapWriter::written(std::uint64_t held) { emitReady(held, false); }

void TimeMapWriter::finish(std::uint64_t held) {
  emitReady(held, true);
  if (file_.sidecar) file_.sidecar->finish();
  file_.sidecar.reset();
}

// Writes the waiting lines whose frame the files hold whole: its end is
// known and held, or, at a file's end, it starts before `held`.
// A stream that is not the engine's chain of frames gets no more lines.
void TimeMapWriter::emitReady(std::uint64_t held, bool final) {
  if (!frames_.ok()) pending_.clear();
  std::size_t done = 0;
  for (; done < pending_.size(); ++done) {
    const Pending& p = pending_[done];
    const std::optional<std::uint64_t> start = frames_.offsetOf(p.frame);
    if (!start && p.frame < frames_.count()) continue;  // long gone: no place to give
    const std::optional<std::uint64_t> end = frames_.offsetOf(p.frame + 1);
    const bool whole = end ? *end <= held : final && start && *start < held;
    // The capture side may still move a stretch's first stamp earlier.
    if (!whole || (!final && p.sample + refineSamples_ > samples_)) break;
    if (*start >= file_.streamStart) emit(p, *start);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

void TimeMapWriter::emit(const Pending& p, std::uint64_t offset) {
  if (!file_.sidecar) return;
  const FramePlace at{timeOf(p.sample), p.frame - file_.firstFrame + file_.keptFrames,
                      offset - file_.streamStart + file_.keptBytes};
  if (const SegmentReason* reason = std::get_if<SegmentReason>(&p.line)) {
    // One S line per frame: the file's own start says it first.
    if (file_.lastSegmentFrame == at.frame) return;
    file_.lastSegmentFrame = at.frame;
    file_.sidecar->writeLine(segmentText({at, *reason}));
    return;
  }
  LevelLine level = std::get<LevelLine>(p.line);
  level.at = at;
  file_.sidecar->writeLine(levelText(level));
}

}  // namespace vorta
