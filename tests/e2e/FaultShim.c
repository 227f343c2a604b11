/* Loaded into vorta with LD_PRELOAD, the faults listed in VORTA_FAULT:
 *   overrun       the 30th ALSA read reports an overrun (-EPIPE) instead of
 *                 reading, as a device does whose buffer ran full; the pulse
 *                 plugin never reports one;
 *   stall         the 60th read first stands still for 1.5 s and then throws
 *                 away what waits, as a server whose buffer ran full drops
 *                 sound without a word;
 *   fsync         every fsync of an MP3 file fails with EIO, as on a failing
 *                 disk (the sound server's client syncs files of its own);
 *   slow-encoder  every MP3 encode call takes 200 ms more, so the encoder
 *                 falls far behind the sound and a stop has a long drain;
 *   unsync        the kernel reports the clock as not synchronised
 *                 (STA_UNSYNC); without it the shim reports it in step, so
 *                 no test depends on this machine's clock.
 * With VORTA_READS set, the frames read so far stand in the file it names. */
#define _GNU_SOURCE
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timex.h>
#include <time.h>

static int fault(const char* name) {
  const char* chosen = getenv("VORTA_FAULT");
  return chosen && strstr(chosen, name) != NULL;
}

snd_pcm_sframes_t snd_pcm_readi(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t size) {
  typedef snd_pcm_sframes_t (*Read)(snd_pcm_t*, void*, snd_pcm_uframes_t);
  const Read read = (Read)dlsym(RTLD_NEXT, "snd_pcm_readi");
  static int reads; /* one reading thread */
  if (++reads == 30 && fault("overrun")) return -EPIPE;
  if (reads == 60 && fault("stall")) {
    const struct timespec stall = {1, 500 * 1000 * 1000};
    nanosleep(&stall, NULL);
    for (snd_pcm_sframes_t waiting; (waiting = snd_pcm_avail_update(pcm)) > 0;)
      if (read(pcm, buffer, (snd_pcm_uframes_t)waiting < size ? (snd_pcm_uframes_t)waiting : size) <= 0) break;
  }
  const snd_pcm_sframes_t got = read(pcm, buffer, size);
  static long long total;
  static int out = -2;
  if (out == -2) out = getenv("VORTA_READS") ? open(getenv("VORTA_READS"), O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -1;
  char text[24];
  if (got > 0 && out >= 0) pwrite(out, text, (size_t)snprintf(text, sizeof text, "%20lld\n", total += got), 0);
  return got;
}

int fsync(int fd) {
  typedef int (*Sync)(int);
  char link[64], name[4096] = "";
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, name, sizeof name - 1);
  if (!fault("fsync") || n < 4 || strcmp(name + n - 4, ".mp3") != 0) return ((Sync)dlsym(RTLD_NEXT, "fsync"))(fd);
  errno = EIO;
  return -1;
}

int lame_encode_buffer_interleaved(void* flags, short* pcm, int frames, unsigned char* out, int size) {
  typedef int (*Encode)(void*, short*, int, unsigned char*, int);
  const struct timespec pause = {0, 200 * 1000 * 1000};
  if (fault("slow-encoder")) nanosleep(&pause, NULL);
  return ((Encode)dlsym(RTLD_NEXT, "lame_encode_buffer_interleaved"))(flags, pcm, frames, out, size);
}

int adjtimex(struct timex* state) {
  typedef int (*Adjust)(struct timex*);
  const int result = ((Adjust)dlsym(RTLD_NEXT, "adjtimex"))(state);
  if (result == -1) return result;
  if (fault("unsync")) {
    state->status |= STA_UNSYNC;
    return TIME_ERROR;
  }
  state->status &= ~STA_UNSYNC;
  return result == TIME_ERROR ? TIME_OK : result;
}
