// Where each moment of a day lies in the day's stream, and back. The server
// gives the stretches of continuous sound with their bytes in the stream; the
// stream is constant-bitrate MP3, so within a stretch bytes and time go
// together, and the player's time is the byte offset over the byte rate.

export class Timeline {
  constructor(day) {
    this.day = day;
    this.bytesPerSecond = day.kbps * 125;
  }

  // The stream time (s) that plays the moment, or the start of the next
  // stretch when nothing was recorded then; null after the last.
  streamTimeOf(ms) {
    const s = this.day.segments.find((seg) => seg.endMs > ms);
    if (!s) return null;
    const at = Math.max(ms, s.startMs);
    const byte = s.streamStart + ((at - s.startMs) / (s.endMs - s.startMs)) * (s.streamEnd - s.streamStart);
    return byte / this.bytesPerSecond;
  }

  // The moment the stream plays at time t (s).
  momentOf(t) {
    const byte = t * this.bytesPerSecond;
    const s = this.day.segments.find((seg) => seg.streamEnd > byte) || this.day.segments.at(-1);
    if (!s) return null;
    const share = Math.min(1, Math.max(0, (byte - s.streamStart) / (s.streamEnd - s.streamStart)));
    return s.startMs + share * (s.endMs - s.startMs);
  }
}
