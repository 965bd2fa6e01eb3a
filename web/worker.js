// Owns the WebAssembly module: renders the texts it is sent and answers with the picture,
// the messages and what the page needs to know of the image. One request at a time.
import createDesigner from './designer.mjs';

const DIR = '/designer';
const encoder = new TextEncoder();
const ready = createDesigner().then((m) => {
  m.FS.mkdir(DIR);
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

function render(m, req) {
  const fs = m.FS;
  fs.writeFile(`${DIR}/profile.prof`, req.profile);
  fs.writeFile(`${DIR}/font.fnt`, req.font);
  fs.writeFile(`${DIR}/script.bas`, req.script);
  fs.writeFile(`${DIR}/rows`, rowsFile(req.rows));
  fs.writeFile(`${DIR}/stdin.txt`, req.stdin);
  const output = `${DIR}/picture.${req.format === 'png' ? 'png' : 'bmp'}`;
  const pathPtr = allocString(m, output);
  const statusPtr = m._malloc(4);
  const geometryPtr = m._malloc(14 * 4);
  const started = performance.now();
  const img = m._designer_render(pathPtr, req.stepLimit, statusPtr);
  const result = { id: req.id, status: m.HEAP32[statusPtr >> 2] };
  if (img !== 0) {
    m._designer_geometry(img, geometryPtr);
    const g = Array.from(m.HEAP32.subarray(geometryPtr >> 2, (geometryPtr >> 2) + 14));
    const [width, height] = g;
    result.geometry = {
      width, height, chcntX: g[2], chcntY: g[3], chofsX: g[4], chofsY: g[5], chgapX: g[6],
      chgapY: g[7], pixsizX: g[8], pixsizY: g[9], pixgapX: g[10], pixgapY: g[11],
      frameX: g[12], frameY: g[13],
    };
    if (result.status === 0) {
      const rgb = m.HEAPU8.subarray(m._designer_pixels(img), m._designer_pixels(img) + width * height * 3);
      const rgba = new Uint8ClampedArray(width * height * 4);
      for (let i = 0, j = 0; i < rgb.length; i += 3, j += 4) {
        rgba[j] = rgb[i];
        rgba[j + 1] = rgb[i + 1];
        rgba[j + 2] = rgb[i + 2];
        rgba[j + 3] = 255;
      }
      result.pixels = rgba;
    }
    const fontPtr = m._designer_font(img);
    result.font = m.HEAPU8.slice(fontPtr, fontPtr + 256 * 5);
    const textPtr = m._designer_text(img);
    result.text = m.HEAPU8.slice(textPtr, textPtr + g[2] * g[3]);
    m._designer_close(img);
  }
  result.renderMs = performance.now() - started;
  if (req.format && result.status === 0) {
    // The file system's umask emulation leaves a new file with no permissions at all.
    fs.chmod(output, 0o644);
    result.file = fs.readFile(output);
  }
  try {
    fs.unlink(output);
  } catch {
    // nothing was written: a refused row or a failed set-up
  }
  result.messages = fs.readFile(`${DIR}/messages.txt`, { encoding: 'utf8' });
  m._free(pathPtr);
  m._free(statusPtr);
  m._free(geometryPtr);
  return result;
}

self.onmessage = async (event) => {
  const m = await ready;
  let result;
  try {
    result = render(m, event.data);
  } catch (error) {
    result = { id: event.data.id, status: -1, failed: true, messages: `The renderer failed: ${error}\n` };
  }
  const transfer = [result.pixels?.buffer, result.file?.buffer].filter(Boolean);
  self.postMessage(result, transfer);
};
