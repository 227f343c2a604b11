// A strip of time [fromMs, toMs) drawn as boxes: recorded, silence cut, dead
// air (readings whose peak stays below -50 dBFS), nothing recorded (the
// strip's own colour), and the loudness as a line over it.

const DEAD_AIR_DBFS = -50;
const LEVEL_SPAN_MS = 10000;  // a reading covers the 10 s before the next

function box(strip, cls, from, to, range) {
  const [a, b] = [Math.max(from, range.from), Math.min(to, range.to)];
  if (b <= a) return;
  const div = document.createElement('div');
  div.className = cls;
  div.style.left = `${((a - range.from) / (range.to - range.from)) * 100}%`;
  div.style.width = `max(1px, ${((b - a) / (range.to - range.from)) * 100}%)`;
  strip.append(div);
}

function loudness(strip, levels, range) {
  const points = levels.filter(([ms, lufs]) => lufs !== null && ms >= range.from && ms < range.to)
    .map(([ms, lufs]) => `${((ms - range.from) / (range.to - range.from)) * 1000},${Math.min(100, (-lufs / 60) * 100)}`);
  if (points.length < 2) return;
  const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
  svg.setAttribute('viewBox', '0 0 1000 100');
  svg.setAttribute('preserveAspectRatio', 'none');
  const line = document.createElementNS('http://www.w3.org/2000/svg', 'polyline');
  line.setAttribute('points', points.join(' '));
  svg.append(line);
  strip.append(svg);
}

export function drawStrip(strip, day, from, to) {
  const range = { from, to };
  strip.replaceChildren();
  strip.dataset.from = from;
  strip.dataset.to = to;
  day.segments.forEach((s, i) => {
    const before = day.segments[i - 1];
    if (before && s.reason === 'silence') box(strip, 'cut', before.endMs, s.startMs, range);
    box(strip, 'rec', s.startMs, s.endMs, range);
  });
  for (const [ms, , peak] of day.levels)
    if (peak === null || peak < DEAD_AIR_DBFS) box(strip, 'dead', ms - LEVEL_SPAN_MS, ms, range);
  loudness(strip, day.levels, range);
}

// The moment under a click on the strip.
export function momentAt(strip, event) {
  const r = strip.getBoundingClientRect();
  const share = Math.min(1, Math.max(0, (event.clientX - r.left) / r.width));
  return +strip.dataset.from + share * (+strip.dataset.to - +strip.dataset.from);
}
