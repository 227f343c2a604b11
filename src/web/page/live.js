// The recorders now, from the server's event stream: each one's state, level
// meter, file, losses and free disk, and a banner while any has an alarm.

const ALARM_TEXT = { stopped: 'recorder stopped', 'dead-air': 'dead air', 'input-lost': 'input lost' };
const gib = (bytes) => `${(bytes / 2 ** 30).toFixed(1)} GiB free`;

function peaksOf(status) {
  const p = status && (status.peak_dbfs ?? status.peaks_dbfs ?? status.meter?.peak_dbfs);
  return Array.isArray(p) ? p : [];
}

function card(a) {
  const s = a.status || {};
  const div = document.createElement('div');
  div.className = `recorder${a.alarms.length ? ' alarmed' : ''}`;
  div.dataset.archive = a.name;
  const head = document.createElement('strong');
  head.textContent = `${a.name}: ${a.status ? s.state ?? 'unknown' : 'no status'}`;
  const meter = document.createElement('div');
  meter.className = 'meter';
  for (const dbfs of peaksOf(s)) {
    const bar = document.createElement('div');
    bar.style.width = `${Math.max(0, Math.min(100, ((dbfs + 60) / 60) * 100))}%`;
    bar.title = `${dbfs} dBFS`;
    meter.append(bar);
  }
  const losses = s.losses ? Object.entries(s.losses).map(([k, v]) => `${k} ${v}`).join(', ') : '';
  const facts = document.createElement('div');
  facts.textContent = [s.file, losses, a.freeBytes >= 0 ? gib(a.freeBytes) : ''].filter(Boolean).join(' · ');
  div.append(head, meter, facts);
  return div;
}

export function watchLive(panel, banner) {
  const source = new EventSource(new URL('/api/live', location.origin).href);  // no login in it
  source.onmessage = (event) => {
    const { archives } = JSON.parse(event.data);
    panel.replaceChildren(...archives.map(card));
    const alarms = archives.flatMap((a) => a.alarms.map((k) => `${a.name}: ${ALARM_TEXT[k] ?? k}`));
    banner.textContent = alarms.join(' — ');
    banner.hidden = alarms.length === 0;
  };
  return source;
}
