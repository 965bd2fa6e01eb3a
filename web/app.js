// The designer page: panes in, picture out. Rendering happens in a Web Worker, so the page
// answers while a script runs; a worker that does not answer in time is replaced.
import { EXAMPLES } from './examples.js';
import { decodeState, encodeState } from './state.js';

// Time a script may run per render, measured by the worker's clock. The command line has
// no such limit.
const SCRIPT_BUDGET_MS = 2000;
// The scripts of all an animation's frames together; its watchdog leaves room for encoding
// up to the most moments an animation may have.
const ANIMATION_BUDGET_MS = 20000;
const ANIMATION_WATCHDOG_MS = 120000;
// RGBA bytes of a log's moments kept for the slider and for playing; the oldest go first.
const FRAME_CACHE_BYTES = 256 * 1024 * 1024;
// From the moment the worker starts a request: the script's two seconds, the largest
// picture the page draws, and room to spare.
const WATCHDOG_MS = 8000;
const DEBOUNCE_MS = 30;
const LINK_LIMIT = 2 * 1024 * 1024; // characters of the longest address Chromium opens
const MIN_SHOWN_PX = 48; // the picture's shorter side is never shown smaller
const EXAMPLE_DIRS = { profile: 'profiles', font: 'fonts', script: 'scripts', log: 'logs' };

const $ = (id) => document.getElementById(id);
const canvas = $('lcd');
const stage = $('stage');
const panes = { profile: $('profile'), font: $('font'), script: $('script'), stdin: $('stdin'), log: $('log') };
// The animation's settings, as --hold and --loop.
const settings = { hold: $('hold'), loop: $('loop') };

// Rows typed so far; only the first rowCount are shown and rendered, the rest are kept so
// that a profile edit passing through a smaller CHCNT_Y loses nothing.
let rows = [];
let rowCount = 2;
let image = null; // geometry, glyph table and text grid of the latest picture
let charset = ''; // the profile's CHARSET as the library read it at the latest answer
let code = 0; // the glyph being edited
let dotFocus = 0; // the grid's one tab stop

// ---- The worker ----------------------------------------------------------------------

class Renderer {
  constructor() {
    this.nextId = 1;
    this.pending = new Map();
    this.start();
  }

  start() {
    this.worker = new Worker('worker.js', { type: 'module' });
    this.worker.onmessage = (event) => this.answer(event.data);
  }

  request(message, watchdogMs = WATCHDOG_MS) {
    return new Promise((resolve) => {
      const id = this.nextId++;
      this.pending.set(id, { resolve, timer: 0, watchdogMs });
      this.worker.postMessage({ ...message, id });
    });
  }

  answer(result) {
    const waiting = this.pending.get(result.id);
    if (!waiting) return;
    if (result.started) {
      waiting.timer = setTimeout(() => this.restart(), waiting.watchdogMs);
      return;
    }
    clearTimeout(waiting.timer);
    this.pending.delete(result.id);
    waiting.resolve(result);
    if (result.failed) this.restart(); // the module's memory may be in any state now
  }

  restart() {
    this.worker.terminate();
    for (const { resolve, timer } of this.pending.values()) {
      clearTimeout(timer);
      resolve({ status: -1, messages: 'The renderer did not answer in time and was restarted.\n' });
    }
    this.pending.clear();
    this.start();
  }
}

const renderer = new Renderer();

function texts() {
  return {
    profile: panes.profile.value,
    font: panes.font.value,
    script: panes.script.value,
    stdin: panes.stdin.value,
    log: panes.log.value,
    hold: settings.hold.value,
    loop: settings.loop.value,
    rows: rows.slice(0, rowCount).concat(Array(Math.max(0, rowCount - rows.length)).fill('')),
  };
}

// A picture of the texts; with a log, at the slider's moment.
function renderRequest(format) {
  return { kind: 'render', ...texts(), at: timeline.following ? -1 : timeline.at, budgetMs: SCRIPT_BUDGET_MS, format };
}

// ---- Rendering -----------------------------------------------------------------------

let timer = 0;
let busy = false;
let again = false;
let waiters = [];
let renders = 0;

function schedule() {
  clearTimeout(timer);
  timer = setTimeout(renderNow, DEBOUNCE_MS);
  updateLink();
}

// The address bar holds the state while it makes a link Chromium opens; a larger state
// clears it, and the page offers the files instead.
function updateLink() {
  const page = location.href.split('#')[0];
  const fragment = encodeState(texts());
  const size = page.length + 1 + fragment.length;
  const fits = size <= LINK_LIMIT;
  history.replaceState(null, '', fits ? `#${fragment}` : page);
  $('copy-link').disabled = !fits;
  $('link-note').hidden = fits;
  if (!fits) {
    $('link-size').textContent = `${(size / (1024 * 1024)).toFixed(1)} MB`;
  }
}

// Renders the current texts; resolves once a picture of them (or their refusal) is shown.
function renderNow() {
  updateRowsIgnored();
  clearTimeout(timer);
  const done = new Promise((resolve) => waiters.push(resolve));
  if (busy) {
    again = true;
    return done;
  }
  busy = true;
  const mine = waiters;
  waiters = [];
  renderer.request(renderRequest()).then((result) => {
    show(result);
    busy = false;
    mine.forEach((resolve) => resolve(result));
    if (again) {
      again = false;
      renderNow();
    }
  });
  return done;
}

function show(result) {
  document.body.dataset.answers = String(Number(document.body.dataset.answers ?? 0) + 1);
  $('messages').textContent = result.messages;
  $('messages').classList.toggle('empty', result.messages === '');
  stage.classList.toggle('stale', result.status !== 0);
  if (result.charset !== undefined) {
    charset = result.charset;
    updateRowsHint();
  }
  if (result.geometry) {
    image = { geometry: result.geometry, font: result.font, text: result.text, cgram: result.cgram };
    if (result.geometry.chcntY !== rowCount) {
      setRowCount(result.geometry.chcntY);
      schedule(); // the rows sent were for the old count
    } else {
      showRowInputs(rowCount);
    }
    drawGlyphs();
  }
  if (result.preview) setTimeline(result);
  if (result.pixels) {
    const { width, height } = result.geometry;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
      fitCanvas();
    }
    canvas.getContext('2d').putImageData(new ImageData(result.pixels, width, height), 0, 0);
    renders += 1;
    if (renders === 1) performance.mark('first-picture');
    document.body.dataset.renders = String(renders);
  }
  const drawn = result.status === 0 && result.renderMs !== undefined;
  $('timing').textContent = drawn ? `Rendered in ${result.renderMs.toFixed(1)} ms` : '';
}

// As large as the room allows; from twice the size on, whole-number scales keep every dot
// the same width. A picture wider than the page shrinks, but never so far that its shorter
// side is hard to see: a long thin one scrolls instead.
function fitCanvas() {
  const room = stage.clientWidth - 2;
  const tall = Math.max(160, window.innerHeight * 0.6);
  let scale = Math.min(room / canvas.width, tall / canvas.height);
  if (scale >= 2) scale = Math.floor(scale);
  scale = Math.max(scale, Math.min(1, MIN_SHOWN_PX / Math.min(canvas.width, canvas.height)));
  canvas.style.width = `${Math.max(1, Math.floor(canvas.width * scale))}px`;
  canvas.style.height = `${Math.max(1, Math.floor(canvas.height * scale))}px`;
}

// ---- Time: the slider and play/pause over a replayed log ----------------------------

// The latest preview's log: the start of each of its distinct moments (microseconds,
// ascending; empty when there are too many to list), its end and the hold; the slider's
// moment, which follows the log's end until the slider is moved.
const timeline = { generation: 0, end: -1, hold: 0, moments: new Float64Array(0), at: 0, following: true };
// Answers of the preview's moments by moment start; a Map keeps insertion order, the age.
const frames = new Map();
let frameBytes = 0;
let frameBusy = false;
let frameWanted = null;
let frameWaiters = [];
let playing = null; // { startedAt: ms, from: µs, plays: 0 for ever }

function formatTime(us) {
  return `${(us / 1e6).toFixed(3)} s`;
}

// The start of the moment `t` falls in: its picture is the one of that start.
function momentOf(t) {
  const m = timeline.moments;
  if (m.length === 0) return t;
  let lo = 0;
  let hi = m.length - 1;
  while (lo < hi) {
    const mid = (lo + hi + 1) >> 1;
    if (m[mid] <= t) lo = mid;
    else hi = mid - 1;
  }
  return m[lo];
}

function cacheFrame(key, result) {
  if (frames.has(key) || !result.pixels) return;
  frames.set(key, result);
  frameBytes += result.pixels.length;
  for (const [old, kept] of frames) {
    if (frameBytes <= FRAME_CACHE_BYTES) break;
    frames.delete(old);
    frameBytes -= kept.pixels.length;
  }
}

function setSlider(t) {
  $('time').value = String(t);
  $('time-label').textContent = formatTime(t);
}

// A new preview: its log's times, or none.
function setTimeline(result) {
  frames.clear();
  frameBytes = 0;
  timeline.generation = result.generation;
  const t = result.timeline;
  $('timeline').hidden = !t;
  if (!t) {
    stopPlaying();
    timeline.end = -1;
    timeline.following = true;
    return;
  }
  Object.assign(timeline, { end: t.end, hold: t.hold, moments: t.moments });
  showMarks(t.marks ?? []);
  $('time').max = String(t.end + t.hold);
  if (timeline.following || timeline.at > t.end + t.hold) {
    timeline.following = true;
    timeline.at = t.end;
  }
  if (!playing) setSlider(timeline.at);
  if (result.status === 0) cacheFrame(momentOf(result.at < 0 ? t.end : result.at), result);
}

// The log's marks on the slider: a tick each, and a button that moves the slider there.
function showMarks(marks) {
  const ticks = $('time-ticks');
  const list = $('time-marks');
  ticks.replaceChildren();
  list.replaceChildren();
  for (const { name, at } of marks) {
    ticks.append(new Option(name, String(at)));
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'time-mark';
    button.textContent = name;
    button.title = `${name} at ${formatTime(at)} (--at ${name})`;
    button.dataset.at = String(at);
    button.addEventListener('click', () => {
      stopPlaying();
      seek(at);
    });
    list.append(button);
  }
  list.hidden = marks.length === 0;
}

// Shows the moment of time `t` from the cache or the worker; resolves once it is shown, or
// once a newer preview has replaced the log it was asked of.
function showMoment(t) {
  const key = momentOf(t);
  const cached = frames.get(key);
  if (cached) {
    show(cached);
    document.body.dataset.moment = String(key);
    return Promise.resolve(cached);
  }
  frameWanted = key;
  const done = new Promise((resolve) => frameWaiters.push({ key, resolve }));
  if (!frameBusy) fetchFrames();
  return done;
}

// One frame request at a time, always for the latest moment wanted: a slider dragged or a
// log played faster than frames come skips the moments in between.
async function fetchFrames() {
  frameBusy = true;
  while (frameWanted !== null) {
    const key = frameWanted;
    frameWanted = null;
    const result = await renderer.request({ kind: 'frame', generation: timeline.generation, at: key, budgetMs: SCRIPT_BUDGET_MS });
    const current = !result.stale && result.generation === timeline.generation;
    if (current && result.status === 0) cacheFrame(key, result);
    if (current && frameWanted === null) {
      show(result);
      document.body.dataset.moment = String(key);
    }
    const waiting = frameWaiters.filter((w) => w.key === key || !current);
    frameWaiters = frameWaiters.filter((w) => !waiting.includes(w));
    waiting.forEach((w) => w.resolve(result));
  }
  frameBusy = false;
}

// The slider moved (by hand, or by a test): that moment from now on, also for re-renders.
function seek(t) {
  timeline.at = Math.max(0, Math.min(t, timeline.end + timeline.hold));
  timeline.following = false;
  setSlider(timeline.at);
  if (playing) {
    playing.from = timeline.at;
    playing.startedAt = performance.now();
  }
  return showMoment(timeline.at);
}

function plays() {
  return /^\s*\d+\s*$/.test(settings.loop.value) ? Number(settings.loop.value) : 0;
}

function startPlaying() {
  const length = timeline.end + timeline.hold;
  if (timeline.end < 0 || length <= 0) return;
  const from = timeline.following || timeline.at >= length ? 0 : timeline.at;
  playing = { startedAt: performance.now(), from, plays: plays() };
  timeline.following = false;
  $('play').textContent = 'Pause';
  $('play').setAttribute('aria-pressed', 'true');
  requestAnimationFrame(tick);
}

function stopPlaying() {
  playing = null;
  $('play').textContent = 'Play';
  $('play').setAttribute('aria-pressed', 'false');
}

// Plays in real time, as the animation would: round again after the hold, as many times
// as Loop says, then stops at the log's end.
function tick() {
  if (!playing) return;
  const length = timeline.end + timeline.hold;
  const t = playing.from + (performance.now() - playing.startedAt) * 1000;
  if (playing.plays > 0 && t >= length * playing.plays) {
    stopPlaying();
    timeline.at = timeline.end;
    setSlider(timeline.at);
    showMoment(timeline.at);
    return;
  }
  timeline.at = t % length;
  setSlider(timeline.at);
  showMoment(timeline.at);
  requestAnimationFrame(tick);
}

function wireTimeline() {
  $('play').addEventListener('click', () => (playing ? stopPlaying() : startPlaying()));
  $('time').addEventListener('input', () => seek(Number($('time').value)));
}

// ---- Rows ----------------------------------------------------------------------------

// Row inputs are added in one fragment and removed in one range, counted here rather than
// through the box's live child list, which recounts after every change: thousands of rows
// from a link stay linear. Until the first answer gives the module's row count, a link's
// rows are all rendered but at most FIRST_ROW_INPUTS of them shown: laying out thousands of
// inputs that CHCNT_Y then removes would take seconds.
const FIRST_ROW_INPUTS = 64;
let rowInputs = 0;

function setRowCount(count) {
  rowCount = count;
  showRowInputs(count);
}

function showRowInputs(count) {
  const box = $('rows');
  if (rowInputs === count) return;
  if (rowInputs > count) {
    const range = document.createRange();
    range.setStartBefore(box.children[count]);
    range.setEndAfter(box.lastChild);
    range.deleteContents();
    rowInputs = count;
  }
  const added = document.createDocumentFragment();
  for (; rowInputs < count; rowInputs += 1) {
    const index = rowInputs;
    const label = document.createElement('label');
    label.className = 'row';
    const number = document.createElement('span');
    number.textContent = String(index + 1);
    const input = document.createElement('input');
    input.id = `row-${index}`;
    input.spellcheck = false;
    input.autocomplete = 'off';
    input.value = rows[index] ?? '';
    input.setAttribute('aria-label', `Row ${index + 1}`);
    input.addEventListener('input', () => {
      while (rows.length <= index) rows.push('');
      rows[index] = input.value;
      updateRowsHint();
      schedule();
    });
    label.append(number, input);
    added.append(label);
  }
  box.append(added);
  updateRowsHint();
}

// The command line refuses rows together with a log: here the log wins, and says so.
function updateRowsIgnored() {
  const ignored = panes.log.value !== '';
  $('rows-ignored').hidden = !ignored;
  $('rows-box').classList.toggle('ignored', ignored);
}

// Without a character set, a row is read byte by byte and a character outside ASCII shows
// as blank cells: the first such character is named with what it needs.
function updateRowsHint() {
  let hint = '';
  if (charset === '') {
    for (let i = 0; i < rowCount && i < rows.length && !hint; i += 1) {
      const found = /[^\0-\x7f]/u.exec(rows[i]);
      if (found) hint = `Row ${i + 1}: “${found[0]}” needs CHARSET A00 or A02 in the profile.`;
    }
  }
  $('rows-hint').textContent = hint;
  $('rows-hint').hidden = hint === '';
}

// ---- Glyph editor --------------------------------------------------------------------

function hex2(value) {
  return value.toString(16).toUpperCase().padStart(2, '0');
}

// Eight strings of five '0'/'1' for `code` in a glyph table of 5 column bytes per code.
function glyphDots(table, value) {
  const dots = [];
  for (let r = 0; r < 8; r += 1) {
    let row = '';
    for (let c = 0; c < 5; c += 1) row += (table[value * 5 + c] >> r) & 1 ? '1' : '0';
    dots.push(row);
  }
  return dots;
}

// Eight strings of five '0'/'1' for CGRAM glyph `value`: eight row bytes, bit 4 leftmost.
function cgramDots(cgram, value) {
  const dots = [];
  for (let r = 0; r < 8; r += 1) {
    let row = '';
    for (let c = 0; c < 5; c += 1) row += (cgram[value * 8 + r] >> (4 - c)) & 1 ? '1' : '0';
    dots.push(row);
  }
  return dots;
}

function currentDots() {
  return image ? glyphDots(image.font, code) : Array(8).fill('00000');
}

function buildGlyphEditor() {
  const grid = $('glyph-grid');
  for (let i = 0; i < 40; i += 1) {
    const dot = document.createElement('button');
    dot.type = 'button';
    dot.className = 'dot';
    dot.tabIndex = i === 0 ? 0 : -1;
    dot.setAttribute('aria-label', `Row ${Math.floor(i / 5) + 1}, column ${(i % 5) + 1}`);
    dot.addEventListener('click', () => toggleDot(i));
    dot.addEventListener('focus', () => {
      dotFocus = i;
    });
    grid.append(dot);
  }
  grid.addEventListener('keydown', (event) => {
    const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -5, ArrowDown: 5 };
    if (!(event.key in moves)) return;
    event.preventDefault();
    const next = dotFocus + moves[event.key];
    if (next < 0 || next >= 40) return;
    grid.children[dotFocus].tabIndex = -1;
    grid.children[next].tabIndex = 0;
    grid.children[next].focus();
  });
  const strip = $('glyph-strip');
  for (let c = 0; c < 8; c += 1) {
    const pick = document.createElement('button');
    pick.type = 'button';
    pick.className = 'strip-cell';
    pick.setAttribute('aria-label', `Code 0x0${c}`);
    const small = document.createElement('canvas');
    small.width = 5;
    small.height = 8;
    const name = document.createElement('span');
    name.textContent = `0x0${c}`;
    pick.append(small, name);
    pick.addEventListener('click', () => selectCode(c));
    strip.append(pick);
  }
  const input = $('glyph-code');
  input.addEventListener('change', () => {
    const m = /^\s*(?:0x)?([0-9a-f]{1,2})\s*$/i.exec(input.value);
    if (m) selectCode(parseInt(m[1], 16));
    else input.value = `0x${hex2(code)}`;
  });
}

function selectCode(value) {
  code = value;
  $('glyph-code').value = `0x${hex2(code)}`;
  drawGlyphs();
}

function drawGlyphs() {
  const dots = currentDots();
  const grid = $('glyph-grid');
  for (let i = 0; i < 40; i += 1) {
    const lit = dots[Math.floor(i / 5)][i % 5] === '1';
    grid.children[i].classList.toggle('lit', lit);
    grid.children[i].setAttribute('aria-pressed', String(lit));
  }
  $('glyph-char').textContent = code >= 0x20 && code < 0x7f ? `“${String.fromCharCode(code)}” in ASCII` : '';
  const strip = $('glyph-strip');
  for (let c = 0; c < 8; c += 1) {
    const cell = strip.children[c];
    cell.classList.toggle('selected', c === code);
    const ctx = cell.firstChild.getContext('2d');
    const pixels = ctx.createImageData(5, 8);
    // With a log, the strip shows the glyphs the log has defined by the moment shown.
    const fromLog = Boolean(image?.cgram);
    cell.dataset.source = fromLog ? 'log' : 'font';
    const rowsOfC = fromLog ? cgramDots(image.cgram, c) : image ? glyphDots(image.font, c) : Array(8).fill('00000');
    for (let i = 0; i < 40; i += 1) {
      const v = rowsOfC[Math.floor(i / 5)][i % 5] === '1' ? 20 : 235;
      pixels.data.set([v, v, v, 255], i * 4);
    }
    ctx.putImageData(pixels, 0, 0);
  }
}

// Edits go one after another, each on the font text the one before left.
let glyphEdits = Promise.resolve();

// The worker rewrites the font text through the library's own reader; the dot is shown
// toggled at once, and the answer (then the render) confirms it.
function toggleDot(i) {
  const target = code;
  const row = Math.floor(i / 5);
  const column = i % 5;
  const glyph = image ? image.font.slice(target * 5, target * 5 + 5) : new Uint8Array(5);
  if (image) image.font[target * 5 + column] ^= 1 << row;
  drawGlyphs();
  glyphEdits = glyphEdits.then(async () => {
    const font = panes.font.value;
    const answer = await renderer.request({ kind: 'glyph', font, code: target, row, column, glyph });
    if (panes.font.value !== font) return; // typed over meanwhile: the typing wins
    if (answer.ok) {
      panes.font.value = answer.font;
      if (image) image.font.set(answer.glyph, target * 5);
    } else {
      $('messages').textContent = `The dot could not be written into this font text; it is left as it was.\n`;
    }
    drawGlyphs();
    schedule();
  });
}

// The code of the cell under a point of the picture, or -1 between cells.
function cellCodeAt(x, y) {
  if (!image) return -1;
  const g = image.geometry;
  const pick = (p, origin, size, gap, chgap, count, dotsAcross) => {
    const cell = dotsAcross * size + (dotsAcross - 1) * gap;
    const offset = p - (origin - gap);
    const index = Math.floor(offset / (cell + chgap));
    return index >= 0 && index < count && offset - index * (cell + chgap) < cell ? index : -1;
  };
  const c = pick(x, g.frameX + g.chofsX, g.pixsizX, g.pixgapX, g.chgapX, g.chcntX, 5);
  const r = pick(y, g.frameY + g.chofsY, g.pixsizY, g.pixgapY, g.chgapY, g.chcntY, 8);
  return c < 0 || r < 0 ? -1 : image.text[r * g.chcntX + c];
}

canvas.addEventListener('click', (event) => {
  const rect = canvas.getBoundingClientRect();
  const x = Math.floor(((event.clientX - rect.left) * canvas.width) / rect.width);
  const y = Math.floor(((event.clientY - rect.top) * canvas.height) / rect.height);
  const picked = cellCodeAt(x, y);
  if (picked >= 0) selectCode(picked);
});

// ---- Save and share ------------------------------------------------------------------

function save(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10_000);
}

async function savePicture(format) {
  const result = await renderer.request(renderRequest(format));
  if (result.file) save(new Blob([result.file], { type: `image/${format}` }), `lcd.${format}`);
  else show(result);
}

// The animation as the command line writes it for these texts, --hold and --loop.
async function saveAnimation(format) {
  const loop = settings.loop.value.trim();
  if (!/^\d*$/.test(loop)) {
    $('messages').textContent = `Loop: '${loop}' is not a whole number of plays (0 or empty: for ever).\n`;
    return;
  }
  const request = { kind: 'animation', ...texts(), format, loop: Math.min(Number(loop), 2 ** 31 - 1), budgetMs: ANIMATION_BUDGET_MS };
  const result = await renderer.request(request, ANIMATION_WATCHDOG_MS);
  if (result.file) save(new Blob([result.file], { type: format === 'gif' ? 'image/gif' : 'image/apng' }), `lcd.${format}`);
  else show(result);
}

// The grid of a log's first `module COLSxROWS` line, or null.
function logModule(text) {
  const found = /^[ \t]*module[ \t]+([1-9]\d*)x([1-9]\d*)[ \t]*(?:#.*)?$/m.exec(text);
  return found ? { columns: Number(found[1]), rows: Number(found[2]) } : null;
}

// An example log that names its module gets a profile of that grid: the example profile
// named for it, else the grid alone. A profile whose grid matches already is kept.
async function matchProfile(text) {
  const module = logModule(text);
  if (!module) return;
  const g = image?.geometry;
  if (g && g.chcntX === module.columns && g.chcntY === module.rows) return;
  const name = EXAMPLES.profile.find((n) => n.endsWith(`-${module.columns}x${module.rows}.prof`));
  let profile = `CHCNT_X = ${module.columns}\nCHCNT_Y = ${module.rows}\n`;
  if (name) {
    const response = await fetch(`examples/profiles/${name}`);
    if (response.ok) profile = await response.text();
  }
  if (charset !== '') profile = `${profile}${profile.endsWith('\n') ? '' : '\n'}CHARSET = ${charset}\n`;
  panes.profile.value = profile;
}

function wireActions() {
  $('save-gif').addEventListener('click', () => saveAnimation('gif'));
  $('save-apng').addEventListener('click', () => saveAnimation('apng'));
  $('save-png').addEventListener('click', () => savePicture('png'));
  $('save-bmp').addEventListener('click', () => savePicture('bmp'));
  $('save-prof').addEventListener('click', () => save(new Blob([panes.profile.value], { type: 'text/plain' }), 'designer.prof'));
  $('save-fnt').addEventListener('click', () => save(new Blob([panes.font.value], { type: 'text/plain' }), 'designer.fnt'));
  $('save-prof-note').addEventListener('click', () => $('save-prof').click());
  $('save-fnt-note').addEventListener('click', () => $('save-fnt').click());
  $('save-bas-note').addEventListener('click', () => save(new Blob([panes.script.value], { type: 'text/plain' }), 'designer.bas'));
  $('save-stdin-note').addEventListener('click', () => save(new Blob([panes.stdin.value], { type: 'text/plain' }), 'stdin.txt'));
  $('copy-link').addEventListener('click', async () => {
    const button = $('copy-link');
    try {
      await navigator.clipboard.writeText(location.href);
      button.textContent = 'Link copied';
    } catch {
      button.textContent = 'Copy the address bar';
    }
    setTimeout(() => {
      button.textContent = 'Copy link';
    }, 2000);
  });
  for (const [kind, names] of Object.entries(EXAMPLES)) {
    const select = $(`example-${kind}`);
    for (const name of names) select.add(new Option(name, name));
    select.addEventListener('change', async () => {
      if (!select.value) return;
      const response = await fetch(`examples/${EXAMPLE_DIRS[kind]}/${select.value}`);
      if (response.ok) {
        let text = await response.text();
        // The character set belongs to the rows typed, not to the module's looks.
        if (kind === 'profile' && charset !== '') {
          text = `${text}${text === '' || text.endsWith('\n') ? '' : '\n'}CHARSET = ${charset}\n`;
        }
        panes[kind].value = text;
        if (kind === 'log') await matchProfile(text);
        schedule();
      }
      select.value = '';
    });
  }
  wireTrace();
  for (const pane of Object.values(panes)) pane.addEventListener('input', schedule);
  for (const setting of Object.values(settings)) setting.addEventListener('input', schedule);
  window.addEventListener('resize', fitCanvas);
  window.addEventListener('hashchange', () => load(location.hash));
}

// ---- Traces: a VCD, a sigrok session (.sr) or a Saleae CSV export of the bus, decoded by the
// library into the Log pane; the library tells them apart by their content ---------------

async function openTrace(file) {
  const note = $('trace-note');
  note.hidden = false;
  note.classList.remove('warn');
  note.textContent = `Decoding ${file.name}…`;
  const bytes = new Uint8Array(await file.arrayBuffer());
  const result = await renderer.request({ kind: 'trace', bytes, name: file.name, pins: $('trace-pins').value });
  note.classList.toggle('warn', result.status !== 0 || result.messages !== '');
  if (result.status === 0) {
    panes.log.value = result.log;
    note.textContent = result.messages || `${file.name} decoded into the log.`;
    schedule();
  } else {
    note.textContent = result.messages || `${file.name} could not be decoded.`;
  }
}

function wireTrace() {
  const input = $('trace-file');
  input.addEventListener('change', () => {
    if (input.files.length > 0) openTrace(input.files[0]);
    input.value = '';
  });
  panes.log.addEventListener('dragover', (event) => event.preventDefault());
  panes.log.addEventListener('drop', (event) => {
    const file = [...(event.dataTransfer?.files ?? [])].find((f) => /\.(vcd|sr|csv)$/i.test(f.name));
    if (!file) return; // text and other files drop as usual
    event.preventDefault();
    openTrace(file);
  });
}

// ---- Start ---------------------------------------------------------------------------

function load(fragment) {
  const state = decodeState(fragment) ?? { profile: '', font: '', script: '', stdin: '', log: '', hold: '', loop: '', rows: ['Hello, world!'] };
  for (const kind of Object.keys(panes)) panes[kind].value = state[kind];
  for (const kind of Object.keys(settings)) settings[kind].value = state[kind];
  stopPlaying();
  timeline.following = true;
  rows = state.rows.slice();
  $('rows').replaceChildren();
  rowInputs = 0;
  rowCount = Math.max(rows.length, 2);
  showRowInputs(Math.min(rowCount, FIRST_ROW_INPUTS));
  updateLink();
  return renderNow();
}

buildGlyphEditor();
wireActions();
wireTimeline();
fitCanvas();
// For the browser tests and the curious: render on demand and read the figures.
window.designer = { render: renderNow, cellCodeAt, seek };
load(location.hash);
