// The page's whole state in the URL fragment:
// profile=...&font=...&script=...&stdin=...&log=...&hold=...&loop=...&row=...&row=...
// (percent-encoded UTF-8).

const TEXTS = ['profile', 'font', 'script', 'stdin', 'log', 'hold', 'loop'];

// Empty texts and trailing empty rows are left out; rows keep their order.
export function encodeState(state) {
  const parts = [];
  for (const key of TEXTS) {
    if (state[key]) parts.push(`${key}=${encodeURIComponent(state[key])}`);
  }
  const rows = state.rows ?? [];
  let last = rows.length;
  while (last > 0 && rows[last - 1] === '') last -= 1;
  for (let i = 0; i < last; i += 1) parts.push(`row=${encodeURIComponent(rows[i])}`);
  return parts.join('&');
}

function decode(value) {
  try {
    return decodeURIComponent(value);
  } catch {
    return value; // a stray % in a hand-made link: keep the text as written
  }
}

// The state a fragment (with or without its '#') describes; null when it names nothing.
export function decodeState(fragment) {
  const text = fragment.startsWith('#') ? fragment.slice(1) : fragment;
  const state = { profile: '', font: '', script: '', stdin: '', log: '', hold: '', loop: '', rows: [] };
  let any = false;
  for (const part of text.split('&')) {
    const eq = part.indexOf('=');
    const key = eq < 0 ? part : part.slice(0, eq);
    const value = eq < 0 ? '' : decode(part.slice(eq + 1));
    if (key === 'row') state.rows.push(value);
    else if (TEXTS.includes(key)) state[key] = value;
    else continue;
    any = true;
  }
  return any ? state : null;
}
