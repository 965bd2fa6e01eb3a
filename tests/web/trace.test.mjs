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
