/* Loaded into vorta with LD_PRELOAD: the 30th ALSA read reports an overrun
 * (-EPIPE) instead of reading, as a device does whose buffer ran full. The
 * pulse plugin never reports one, so this is how the overrun path runs. */
#define _GNU_SOURCE
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <errno.h>

typedef snd_pcm_sframes_t (*ReadFunction)(snd_pcm_t*, void*, snd_pcm_uframes_t);

snd_pcm_sframes_t snd_pcm_readi(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t size) {
  static int reads; /* one reading thread */
  ReadFunction real = (ReadFunction)dlsym(RTLD_NEXT, "snd_pcm_readi");
  if (++reads == 30) return -EPIPE;
  return real(pcm, buffer, size);
}
