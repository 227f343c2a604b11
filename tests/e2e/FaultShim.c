/* Loaded into vorta with LD_PRELOAD, a fault chosen by VORTA_FAULT:
 *   overrun       the 30th ALSA read reports an overrun (-EPIPE) instead of
 *                 reading, as a device does whose buffer ran full; the pulse
 *                 plugin never reports one;
 *   slow-encoder  every MP3 encode call takes 200 ms more, so the encoder
 *                 falls far behind the sound and a stop has a long drain. */
#define _GNU_SOURCE
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int fault(const char* name) {
  const char* chosen = getenv("VORTA_FAULT");
  return chosen && strcmp(chosen, name) == 0;
}

snd_pcm_sframes_t snd_pcm_readi(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t size) {
  typedef snd_pcm_sframes_t (*Read)(snd_pcm_t*, void*, snd_pcm_uframes_t);
  static int reads; /* one reading thread */
  if (++reads == 30 && fault("overrun")) return -EPIPE;
  return ((Read)dlsym(RTLD_NEXT, "snd_pcm_readi"))(pcm, buffer, size);
}

int lame_encode_buffer_interleaved(void* flags, short* pcm, int frames, unsigned char* out, int size) {
  typedef int (*Encode)(void*, short*, int, unsigned char*, int);
  const struct timespec pause = {0, 200 * 1000 * 1000};
  if (fault("slow-encoder")) nanosleep(&pause, NULL);
  return ((Encode)dlsym(RTLD_NEXT, "lame_encode_buffer_interleaved"))(flags, pcm, frames, out, size);
}
