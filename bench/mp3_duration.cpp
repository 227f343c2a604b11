// mp3_duration FILE: decodes an MP3 with libmpg123 and prints, on one line,
//   <seconds decoded> <seconds from the first to the last sound> <longest gap in ms>
// "Sound" is a sample above -50 dB full scale on either channel; the longest
// gap is the longest run below that level between the first and the last
// sound, so a recording of a continuous signal that lost sound on the way
// shows it there. No gapless trimming: encoder delay and padding count.
#include <mpg123.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mp3_duration FILE\n");
    return 2;
  }
#if MPG123_API_VERSION < 46
  mpg123_init();
#endif
  int err = 0;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) return 2;
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  mpg123_format_none(h);
  for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
    mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(h, argv[1]) != MPG123_OK) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    mpg123_delete(h);
    return 2;
  }
  long rate = 0;
  int channels = 0, encoding = 0;
  constexpr int kThreshold = 104;  // -50 dBFS of 32767
  std::vector<unsigned char> buffer(1 << 16);
  unsigned long long frames = 0, firstSound = 0, lastSound = 0, gapStart = 0, longestGap = 0;
  bool heard = false, inGap = false;
  for (;;) {
    std::size_t done = 0;
    const int rc = mpg123_read(h, buffer.data(), buffer.size(), &done);
    if (rc == MPG123_NEW_FORMAT) mpg123_getformat(h, &rate, &channels, &encoding);
    if (channels > 0) {
      const auto* s = reinterpret_cast<const short*>(buffer.data());
      const std::size_t n = done / sizeof(short) / static_cast<std::size_t>(channels);
      for (std::size_t i = 0; i < n; ++i, ++frames) {
        bool loud = false;
        for (int c = 0; c < channels; ++c)
          loud = loud || std::abs(int(s[i * std::size_t(channels) + std::size_t(c)])) > kThreshold;
        if (loud) {
          if (!heard) firstSound = frames;
          if (inGap) longestGap = std::max(longestGap, frames - gapStart);
          heard = true;
          inGap = false;
          lastSound = frames;
        } else if (heard && !inGap) {
          inGap = true;
          gapStart = frames;
        }
      }
    }
    if (rc == MPG123_DONE) break;
    if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
      std::fprintf(stderr, "decoding stopped: %s\n", mpg123_strerror(h));
      break;
    }
  }
  mpg123_close(h);
  mpg123_delete(h);
  if (rate == 0) {
    std::printf("0 0 0\n");
    return 1;
  }
  const double r = double(rate);
  std::printf("%.3f %.3f %.0f\n", double(frames) / r,
              heard ? double(lastSound - firstSound + 1) / r : 0.0, double(longestGap) / r * 1000);
  return 0;
}
