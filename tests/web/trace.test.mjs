// The Log pane opens a .vcd trace (file picker or drop): the library decodes it into the log,
// and the picture is the tool's --replay of the same trace.
import assert from 'node:assert/strict';
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { bmpPixels, canvasPixels, open, page, runCliReplay } from './harness.mjs';

let env;
before(async () => {
  env = await open();
});
after(() => env.close());

// A 4-bit bus, written edge by edge (ns): the entry, display on, "Hi". `names` are the
// signals' names for RS, E and D4..D7.
function trace(names) {
  const ids = ['!', '"', '#', '$', '%', '&'];
  let text = '$timescale 1ns $end\n$scope module board $end\n';
  names.forEach((name, i) => {
    text += `$var wire 1 ${ids[i]} ${name} $end\n`;
  });
  text += '$upscope $end\n$enddefinitions $end\n#0\n0! 0" 0# 0$ 0% 0&\n';
  let t = 50_000_000;
  const nibble = (rs, value) => {
    text += `#${t}\n${rs}!\n`;
    for (let bit = 0; bit < 4; bit += 1) text += `${(value >> bit) & 1}${ids[2 + bit]}\n`;
    text += `#${t + 100}\n1"\n#${t + 600}\n0"\n`;
    t += 1000;
  };
  for (const v of [3, 3, 3, 2]) {
    nibble(0, v);
    t += 5_000_000;
  }
  for (const [rs, byte] of [[0, 0x28], [0, 0x0c], [0, 0x01], [1, 0x48], [1, 0x69]]) {
    nibble(rs, byte >> 4);
    nibble(rs, byte & 15);
    t += 2_000_000;
  }
  return text;
}

const BY_NAME = trace(['RS', 'E', 'D4', 'D5', 'D6', 'D7']);
const ANALYSER = trace(['D0', 'D1', 'D4', 'D5', 'D6', 'D7']);
const ANALYSER_PINS = 'rs=D0,e=D1,d4=D4,d5=D5,d6=D6,d7=D7';

// Drops a file of this text on the Log pane, as a user drags one there.
async function drop(p, name, text) {
  await p.evaluate((fileName, content) => {
    const data = new DataTransfer();
    data.items.add(new File([content], fileName));
    const log = document.getElementById('log');
    log.dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
  }, name, text);
}

async function decodedLog(p) {
  await p.waitForFunction(() => document.getElementById('log').value.includes('data 0x69'));
  await p.evaluate(() => window.designer.render());
  return p.$eval('#log', (e) => e.value);
}

test('a trace opened or dropped becomes the log, and the picture is the tool\'s', async () => {
  const cases = [
    { what: 'file picker with a pin map', text: ANALYSER, pins: ANALYSER_PINS, pick: true },
    { what: 'dropped, signals named like the lines', text: BY_NAME, pins: '', pick: false },
  ];
  for (const { what, text, pins, pick } of cases) {
    const p = await page(env);
    if (pins) await p.type('#trace-pins', pins);
    if (pick) {
      const path = join(env.dir, 'board.vcd');
      writeFileSync(path, text);
      await (await p.$('#trace-file')).uploadFile(path);
    } else {
      await drop(p, 'board.vcd', text);
    }
    const log = await decodedLog(p);
    assert.match(log, /\ncmd 0x28\n/, what);
    assert.match(log, /\ndata 0x48\nwait 2002us\ndata 0x69\n/, what);
    const cli = bmpPixels(runCliReplay(env, { log: text, args: pins ? ['--pins', pins] : [] }).file);
    const shown = await canvasPixels(p);
    assert.deepEqual([shown.width, shown.height], [cli.width, cli.height], what);
    assert.ok(shown.rgb.equals(cli.rgb), `${what}: canvas pixels differ from the tool's BMP`);
    await p.close();
  }
});

test('a malformed trace or a wrong pin map leaves the log and says why', async () => {
  const cases = [
    { text: '$date\nnow\n$end\n$var wire 1 ! e $end\n', pins: '',
      note: 'bad.vcd: line 5: the header ends without $enddefinitions' },
    { text: ANALYSER, pins: 'rs=D0,e=D9,d4=D4,d5=D5,d6=D6,d7=D7',
      note: "bad.vcd: --pins: the trace has no signal 'D9' (its signals: D0, D1, D4, D5, D6, D7)" },
  ];
  for (const { text, pins, note } of cases) {
    const p = await page(env);
    await p.$eval('#log', (e) => {
      e.value = 'init\n';
    });
    if (pins) await p.type('#trace-pins', pins);
    await drop(p, 'bad.vcd', text);
    await p.waitForFunction(() => !document.getElementById('trace-note').textContent.startsWith('Decoding'));
    assert.equal((await p.$eval('#trace-note', (e) => e.textContent)).trim(), note);
    assert.equal(await p.$eval('#log', (e) => e.value), 'init\n');
    await p.close();
  }
});

// ---- Captures as analysers save them -----------------------------------------------------

// The same bus as trace() (RS, E, D4..D7 as bits 0 to 5), sampled every `ns`: one byte a sample.
function samples(ns) {
  const changes = [[0, 0]];
  let t = 50_000_000;
  const nibble = (rs, value) => {
    changes.push([t, rs | (value << 2)], [t + 100, rs | 2 | (value << 2)], [t + 600, rs | (value << 2)]);
    t += 1000;
  };
  for (const v of [3, 3, 3, 2]) {
    nibble(0, v);
    t += 5_000_000;
  }
  for (const [rs, byte] of [[0, 0x28], [0, 0x0c], [0, 0x01], [1, 0x48], [1, 0x69]]) {
    nibble(rs, byte >> 4);
    nibble(rs, byte & 15);
    t += 2_000_000;
  }
  const out = Buffer.alloc(Math.ceil(t / ns));
  let next = 0;
  let level = 0;
  for (let k = 0; k < out.length; k += 1) {
    while (next < changes.length && changes[next][0] <= k * ns) level = changes[next++][1];
    out[k] = level;
  }
  return { out, changes };
}

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// A zip archive of stored members, as the zip format lays them out.
function zip(members) {
  const parts = [];
  const directory = [];
  let offset = 0;
  for (const [name, data] of members) {
    const body = Buffer.from(data);
    const header = Buffer.alloc(30);
    header.writeUInt32LE(0x04034b50, 0);
    header.writeUInt16LE(20, 4);
    header.writeUInt32LE(crc32(body), 14);
    header.writeUInt32LE(body.length, 18);
    header.writeUInt32LE(body.length, 22);
    header.writeUInt16LE(name.length, 26);
    const entry = Buffer.alloc(46);
    entry.writeUInt32LE(0x02014b50, 0);
    entry.writeUInt16LE(20, 4);
    entry.writeUInt16LE(20, 6);
    entry.writeUInt32LE(crc32(body), 16);
    entry.writeUInt32LE(body.length, 20);
    entry.writeUInt32LE(body.length, 24);
    entry.writeUInt16LE(name.length, 28);
    entry.writeUInt32LE(offset, 42);
    parts.push(header, Buffer.from(name), body);
    directory.push(entry, Buffer.from(name));
    offset += 30 + name.length + body.length;
  }
  const dir = Buffer.concat(directory);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(members.length, 8);
  end.writeUInt16LE(members.length, 10);
  end.writeUInt32LE(dir.length, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...parts, dir, end]);
}

const NAMES = ['RS', 'E', 'D4', 'D5', 'D6', 'D7'];
const { out: SAMPLES, changes: CHANGES } = samples(100);
const SESSION = zip([
  ['version', '2'],
  ['metadata', `[device 1]\ncapturefile=logic-1\ntotal probes=6\nsamplerate=10 MHz\n${
    NAMES.map((n, i) => `probe${i + 1}=${n}\n`).join('')}unitsize=1\n`],
  ['logic-1-1', SAMPLES],
]);
const CSV = `Time [s],${NAMES.join(',')}\n${CHANGES.map(([ns, v]) =>
  `${(ns / 1e9).toFixed(9)},${NAMES.map((_, i) => (v >> i) & 1).join(',')}`).join('\n')}\n`;

test('a sigrok session or a Saleae CSV export opens as a VCD does', async () => {
  const cases = [
    { what: 'session, file picker', name: 'board.sr', bytes: SESSION, pick: true },
    { what: 'CSV export, dropped', name: 'board.csv', bytes: Buffer.from(CSV), pick: false },
  ];
  for (const { what, name, bytes, pick } of cases) {
    const p = await page(env);
    if (pick) {
      const path = join(env.dir, name);
      writeFileSync(path, bytes);
      await (await p.$('#trace-file')).uploadFile(path);
    } else {
      await drop(p, name, bytes.toString('latin1'));
    }
    const log = await decodedLog(p);
    assert.match(log, /\ncmd 0x28\n/, what);
    assert.match(log, /\ndata 0x48\nwait 2002us\ndata 0x69\n/, what);
    const cli = bmpPixels(runCliReplay(env, { log: bytes }).file);
    const shown = await canvasPixels(p);
    assert.ok(shown.rgb.equals(cli.rgb), `${what}: canvas pixels differ from the tool's BMP`);
    await p.close();
  }
});

test('a damaged session is refused with one line and leaves the log', async () => {
  const p = await page(env);
  await p.$eval('#log', (e) => {
    e.value = 'init\n';
  });
  const path = join(env.dir, 'bad.sr');
  writeFileSync(path, zip([['version', '2'], ['metadata', '[device 1]\nsamplerate=fast\n']]));
  await (await p.$('#trace-file')).uploadFile(path);
  await p.waitForFunction(() => !document.getElementById('trace-note').textContent.startsWith('Decoding'));
  assert.equal((await p.$eval('#trace-note', (e) => e.textContent)).trim(),
    "bad.sr: metadata: samplerate 'fast' is not a rate from 1 Hz to 1 THz (for example '1 MHz')");
  assert.equal(await p.$eval('#log', (e) => e.value), 'init\n');
  await p.close();
});
