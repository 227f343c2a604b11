// Clock times as the archive's server shows them: moments are milliseconds
// since the epoch; a day carries its offset from UTC, so the page shows the
// station's local time wherever the browser is.

const pad = (n, width = 2) => String(n).padStart(width, '0');

// "14:20:05" (with tenths when asked) of a moment, in the day's time zone.
export function clockText(ms, offsetMinutes, tenths = false) {
  const d = new Date(ms + offsetMinutes * 60000);
  const text = `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
  return tenths ? `${text}.${Math.floor(d.getUTCMilliseconds() / 100)}` : text;
}

// "14:20", "14:20:05" or "14:20:05.5" as milliseconds after midnight; null
// when it is no clock time.
export function parseClock(text) {
  const m = /^\s*(\d{1,2}):(\d{2})(?::(\d{2})(\.\d+)?)?\s*$/.exec(text);
  if (!m || +m[1] > 24 || +m[2] > 59 || +(m[3] || 0) > 59) return null;
  return ((+m[1] * 60 + +m[2]) * 60 + +(m[3] || 0) + +(m[4] || 0)) * 1000;
}

export function monthName(year, month) {
  return new Date(Date.UTC(year, month - 1, 1)).toLocaleDateString('en', { month: 'long', year: 'numeric', timeZone: 'UTC' });
}

export const dateText = (year, month, day) => `${year}-${pad(month)}-${pad(day)}`;
