// Owns the WebAssembly module: renders the texts it is sent and answers with the picture,
// the messages and what the page needs to know of the image; shows other moments of a
// replayed log; writes animations; edits glyphs of a font text.
// One request at a time, each announced with { id, started: true } as it begins, so that the
// page times the request itself and not its wait in the queue.
import createDesigner from './designer.mjs';

const DIR = '/designer';
const MESSAGE_CAP = 1 << 20; // bytes of messages kept; the rest is counted
const encoder = new TextEncoder();
const decoder = new TextDecoder();

// Standard output of one run. A device rather than a file: the bytes beyond the cap are
// counted and dropped as they come, however many a script prints.
const messages = { kept: new Uint8Array(MESSAGE_CAP), size: 0 };

function makeMessageDevice(m) {
  const fs = m.FS;
  const device = fs.makedev(99, 0);
  fs.registerDevice(device, {
    open() {},
    close() {},
    read: () => 0,
    write(stream, buffer, offset, length) {
      const keep = Math.min(length, Math.max(0, MESSAGE_CAP - messages.size));
      if (keep > 0) messages.kept.set(buffer.subarray(offset, offset + keep), messages.size);
      messages.size += length;
      return length;
    },
  });
  fs.mkdev(`${DIR}/messages.txt`, device);
}

// The messages as text: all of them, or those up to the last line end within the cap and a
// last line saying how much was cut.
function messageText() {
  if (messages.size <= MESSAGE_CAP) return decoder.decode(messages.kept.subarray(0, messages.size));
  const end = messages.kept.lastIndexOf(10) + 1 || MESSAGE_CAP;
  const shown = decoder.decode(messages.kept.subarray(0, end));
  const cut = messages.size - end;
  return `${shown}${shown.endsWith('\n') ? '' : '\n'}… ${cut} more bytes of messages cut (${messages.size} in all).\n`;
}

const ready = createDesigner().then((m) => {
  m.FS.mkdir(DIR);
  makeMessageDevice(m);
  // The library's sizes, asked once: geometry values, glyphs, bytes per glyph, CGRAM's bytes
  // and a profile text setting's capacity.
  const ptr = m._malloc(5 * 4);
  m._designer_sizes(ptr);
  const [geometry, glyphs, glyphBytes, cgram, text] = m.HEAP32.subarray(ptr >> 2, (ptr >> 2) + 5);
  m._free(ptr);
  m.sizes = { geometry, glyphs, glyphBytes, cgram, text };
  return m;
});

// Copies `text` into the module's memory as a NUL-terminated string; free it afterwards.
function allocString(m, text) {
  const bytes = encoder.encode(text);
  const ptr = m._malloc(bytes.length + 1);
  m.HEAPU8.set(bytes, ptr);
  m.HEAPU8[ptr + bytes.length] = 0;
  return ptr;
}

function readString(m, ptr) {
  const end = m.HEAPU8.indexOf(0, ptr);
  return decoder.decode(m.HEAPU8.subarray(ptr, end < 0 ? ptr : end));
}

// Every row as UTF-8 ended by a NUL byte; a row's own NUL ends it, as it would in argv.
function rowsFile(rows) {
  const parts = rows.map((row) => encoder.encode(row.split('\0')[0]));
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length + 1, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length + 1;
  }
  return out;
}

// The image's geometry, glyph table and text grid, and for a preview its pixels as RGBA.
function readImage(m, img, result, preview) {
  const count = m.sizes.geometry;
  const geometryPtr = m._malloc(count * 4);
  m._designer_geometry(img, geometryPtr);
  const g = Array.from(m.HEAP32.subarray(geometryPtr >> 2, (geometryPtr >> 2) + count));
  m._free(geometryPtr);
  const [width, height] = g;
  result.geometry = {
    width, height, chcntX: g[2], chcntY: g[3], chofsX: g[4], chofsY: g[5], chgapX: g[6],
    chgapY: g[7], pixsizX: g[8], pixsizY: g[9], pixgapX: g[10], pixgapY: g[11],
    frameX: g[12], frameY: g[13],
  };
  if (preview && result.status === 0) {
    const rgba = m._designer_rgba(img);
    if (rgba === 0) {
      result.status = 1;
      result.memory = true;
    } else {
      result.pixels = new Uint8ClampedArray(m.HEAPU8.slice(rgba, rgba + width * height * 4).buffer);
      m._free(rgba);
    }
  }
  const fontPtr = m._designer_font(img);
  result.font = m.HEAPU8.slice(fontPtr, fontPtr + m.sizes.glyphs * m.sizes.glyphBytes);
  const textPtr = m._designer_text(img);
  result.text = m.HEAPU8.slice(textPtr, textPtr + g[2] * g[3]);
}

// The session of the latest preview: its image, and its replayed log for other moments.
let session = 0;
let generation = 0;

function writeTexts(m, req) {
  const fs = m.FS;
  fs.writeFile(`${DIR}/profile.prof`, req.profile);
  fs.writeFile(`${DIR}/font.fnt`, req.font);
  fs.writeFile(`${DIR}/script.bas`, req.script);
  fs.writeFile(`${DIR}/rows`, rowsFile(req.rows));
  fs.writeFile(`${DIR}/stdin.txt`, req.stdin);
  fs.writeFile(`${DIR}/log.txt`, req.log ?? '');
}

// Opens a session of the request's texts, writing the picture to `output` when named.
function openSession(m, req, output, result) {
  writeTexts(m, req);
  messages.size = 0;
  const pathPtr = allocString(m, output);
  const holdPtr = allocString(m, req.hold ?? '');
  const statusPtr = m._malloc(4);
  const charsetPtr = m._malloc(m.sizes.text);
  const opened = m._designer_render(pathPtr, req.budgetMs, req.at ?? -1, holdPtr, statusPtr, charsetPtr);
  result.status = opened === 0 ? 1 : m.HEAP32[statusPtr >> 2];
  result.charset = readString(m, charsetPtr);
  [pathPtr, holdPtr, statusPtr, charsetPtr].forEach((ptr) => m._free(ptr));
  return opened;
}

// The log's end, the hold and the moments of a session, for the page's slider.
function readTimeline(m, opened, result) {
  const end = m._designer_log_end(opened);
  if (end < 0) return;
  const countPtr = m._malloc(4);
  const at = m._designer_moments(opened, countPtr);
  const count = m.HEAP32[countPtr >> 2];
  m._free(countPtr);
  result.timeline = { end, hold: m._designer_hold(opened), moments: m.HEAPF64.slice(at >> 3, (at >> 3) + count), marks: readMarks(m, opened) };
}

// The log's marks as { name, at } in log order, from the library's reader.
function readMarks(m, opened) {
  return readString(m, m._designer_marks(opened)).split('\n').filter(Boolean).map((line) => {
    const [name, at] = line.split(' ');
    return { name, at: Number(at) };
  });
}

// The glyphs the log has defined at the moment shown: CGRAM's 64 row bytes, or none.
function readCgram(m, opened, result) {
  const at = m._designer_cgram(opened);
  if (at !== 0) result.cgram = m.HEAPU8.slice(at, at + m.sizes.cgram);
}

// A file the library wrote, read and removed.
function takeFile(m, path) {
  // The file system's umask emulation leaves a new file with no permissions at all.
  m.FS.chmod(path, 0o644);
  const file = m.FS.readFile(path);
  m.FS.unlink(path);
  return file;
}

function render(m, req) {
  const output = req.format ? `${DIR}/picture.${req.format === 'png' ? 'png' : 'bmp'}` : '';
  const result = { id: req.id };
  const started = performance.now();
  const opened = openSession(m, req, output, result);
  const img = opened === 0 ? 0 : m._designer_image(opened);
  if (img !== 0) readImage(m, img, result, !req.format);
  if (result.status === 0) {
    readTimeline(m, opened, result);
    readCgram(m, opened, result);
  }
  result.renderMs = performance.now() - started;
  if (output && result.status === 0) result.file = takeFile(m, output);
  result.messages = messageText() + (result.memory ? 'Memory Allocation Error.\n' : '');
  if (req.format) {
    m._designer_close(opened); // a download leaves the preview's session as it was
  } else {
    m._designer_close(session);
    session = result.status === 0 ? opened : 0;
    if (session === 0) m._designer_close(opened);
    generation = req.id;
    Object.assign(result, { preview: true, generation, at: req.at ?? -1 });
  }
  return result;
}

// Another moment of the latest preview's log: its pixels and messages, or stale: true when
// a newer preview has replaced the session it was asked of.
function frame(m, req) {
  if (req.generation !== generation || session === 0) return { id: req.id, stale: true };
  messages.size = 0;
  const result = { id: req.id, generation, at: req.at };
  const started = performance.now();
  result.status = m._designer_frame(session, req.at, req.budgetMs);
  if (result.status === 0) {
    readImage(m, m._designer_image(session), result, true);
    readCgram(m, session, result);
  }
  result.renderMs = performance.now() - started;
  result.messages = messageText() + (result.memory ? 'Memory Allocation Error.\n' : '');
  return result;
}

// The texts' animation, GIF or APNG, as the command line writes it.
function animation(m, req) {
  const output = `${DIR}/animation.${req.format}`;
  const result = { id: req.id };
  const opened = openSession(m, { ...req, at: -1 }, '', result);
  if (result.status === 0) {
    const pathPtr = allocString(m, output);
    result.status = m._designer_animation(opened, pathPtr, req.format === 'apng' ? 1 : 0, req.loop, req.budgetMs);
    m._free(pathPtr);
  }
  if (m.FS.analyzePath(output).exists) {
    const file = takeFile(m, output);
    if (result.status === 0) result.file = file;
  }
  m._designer_close(opened);
  result.messages = messageText();
  return result;
}

// Toggles one dot of `req.code` in `req.font` through the library's font reader; answers
// the new text and the glyph's five column bytes, or ok: false with the text unchanged.
function editGlyph(m, req) {
  const path = `${DIR}/glyph.fnt`;
  m.FS.writeFile(path, req.font);
  const pathPtr = allocString(m, path);
  const glyphPtr = m._malloc(m.sizes.glyphBytes);
  m.HEAPU8.set(req.glyph, glyphPtr);
  const ok = m._designer_glyph_toggle(pathPtr, req.code, req.row, req.column, glyphPtr) === 0;
  const result = {
    id: req.id,
    ok,
    font: ok ? decoder.decode(m.FS.readFile(path)) : req.font, // a NUL byte stays in the text
    glyph: m.HEAPU8.slice(glyphPtr, glyphPtr + m.sizes.glyphBytes),
  };
  m._free(pathPtr);
  m._free(glyphPtr);
  return result;
}

// A trace (the bytes of a VCD, a sigrok session or a Saleae CSV export) decoded as the chip
// reads its bus, into a command log for the Log pane: { log } on status 0, and the messages
// (warnings, or why it was refused).
function decodeTrace(m, req) {
  const path = `${DIR}/trace.capture`;
  const out = `${DIR}/trace.log`;
  m.FS.writeFile(path, req.bytes);
  messages.size = 0;
  const ptrs = [path, req.name, req.pins ?? '', out].map((text) => allocString(m, text));
  const status = m._designer_trace(...ptrs);
  ptrs.forEach((ptr) => m._free(ptr));
  const result = { id: req.id, status, messages: messageText() };
  if (m.FS.analyzePath(out).exists) {
    const file = takeFile(m, out);
    if (status === 0) result.log = decoder.decode(file);
  }
  m.FS.unlink(path);
  return result;
}

self.onmessage = async (event) => {
  const req = event.data;
  let result;
  try {
    const m = await ready;
    self.postMessage({ id: req.id, started: true });
    const work = { glyph: editGlyph, frame, animation, trace: decodeTrace }[req.kind] ?? render;
    result = work(m, req);
  } catch (error) {
    result = { id: req.id, status: -1, failed: true, messages: `The renderer failed: ${error}\n` };
  }
  const transfer = [result.pixels?.buffer, result.file?.buffer].filter(Boolean);
  self.postMessage(result, transfer);
};
