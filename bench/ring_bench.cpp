// Ring buffer throughput: a writer thread and a reader thread move blocks of
// 4 KiB to 1 MiB through a 4 MiB RingBuffer, as capture and encoder do, and
// the same block sizes copied by memcpy on one thread for comparison. A
// second set of ring runs uses a 64 MiB ring, large enough that its writer
// gives the pages the reader has passed back to the system and takes page
// faults when it comes round to them again.
//
// Each iteration moves 64 MiB. The side that finds the ring full (writer) or
// short of a block (reader) sleeps until the other side has moved (a futex
// wait on a counter the other side bumps and notifies after each block), as
// capture and encoder sleep on their events. Figures are bytes delivered to
// the reader per second of wall time; run with --benchmark_repetitions and
// take the fastest on a busy machine, where the two threads seldom run
// together.
// The CPU column of the ring is that of both threads (process CPU time): per
// CPU second it can reach at most half of memcpy, as every byte is copied in
// and out.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "base/RingBuffer.h"

namespace {

constexpr std::uint32_t kRingBytes = 4u << 20;
constexpr std::uint32_t kLargeRingBytes = 64u << 20;
constexpr std::uint64_t kBytesPerIteration = 64ull << 20;

void BM_RingTwoThreads(benchmark::State& state) {
  const auto block = static_cast<std::uint32_t>(state.range(0));
  vorta::RingBuffer ring(static_cast<std::uint32_t>(state.range(1)));
  std::vector<std::uint8_t> source(block, 0x5a), target(block);
  const std::uint64_t blocks = kBytesPerIteration / block;
  // Blocks written and read so far; each side waits on the other's count.
  std::atomic<std::uint64_t> written{0}, read{0};
  for (auto _ : state) {
    written = 0;
    read = 0;
    std::thread writer([&] {
      for (std::uint64_t i = 0; i < blocks; ++i) {
        // The count is loaded before the look at the ring: a block read after
        // the look changes it, so the wait cannot miss that block.
        for (std::uint64_t seen = read.load(); ring.size() - ring.available() < block;
             seen = read.load()) {
          read.wait(seen);
        }
        static_cast<void>(ring.write(source.data(), block));  // room was waited for
        written.fetch_add(1);
        written.notify_one();
      }
    });
    for (std::uint64_t i = 0; i < blocks; ++i) {
      for (std::uint64_t seen = written.load(); ring.available() < block; seen = written.load()) {
        written.wait(seen);
      }
      static_cast<void>(ring.read(target.data(), block));  // the block was waited for
      read.fetch_add(1);
      read.notify_one();
    }
    writer.join();
    benchmark::DoNotOptimize(target.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blocks * block));
}

// The same bytes copied once, block by block, through two 4 MiB areas (the
// ring's size), so both figures work on the same amount of memory.
void BM_Memcpy(benchmark::State& state) {
  const auto block = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint8_t> from(kRingBytes, 0x5a), to(kRingBytes);
  const std::uint64_t blocks = kBytesPerIteration / block;
  for (auto _ : state) {
    std::uint32_t at = 0;
    for (std::uint64_t i = 0; i < blocks; ++i) {
      std::memcpy(to.data() + at, from.data() + at, block);
      benchmark::ClobberMemory();
      at += block;
      if (at + block > kRingBytes) at = 0;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blocks * block));
}

void blockSizes(benchmark::internal::Benchmark* b) {
  for (long size = 4 << 10; size <= (1 << 20); size *= 4) b->Arg(size);
}

void blockAndRingSizes(benchmark::internal::Benchmark* b) {
  for (long ring : {long{kRingBytes}, long{kLargeRingBytes}}) {
    for (long size = 4 << 10; size <= (1 << 20); size *= 4) b->Args({size, ring});
  }
}

BENCHMARK(BM_RingTwoThreads)
    ->Apply(blockAndRingSizes)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Apply(blockSizes)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
