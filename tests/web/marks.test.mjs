// What the page shows of a log besides its picture: the marks on the time slider, the
// profile an example log's module line picks, and the glyphs a log defines in the strip.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { encodeState } from '../../web/state.js';
import { bmpPixels, canvasPixels, example, open, page, runCliReplay } from './harness.mjs';

let env;
before(async () => {
  env = await open();
});
after(() => env.close());

const MARKED = [
  'init', 'print "one"', 'mark first', 'wait 1s', 'clear', 'print "two"', 'mark second',
  'wait 250ms', 'backlight off', 'mark dark', 'wait 1s', 'mark first', '',
].join('\n');

test('the slider lists the marks, and each one shows the display at its mark', async () => {
  const p = await page(env, encodeState({ log: MARKED, rows: [] }));
  await p.waitForFunction(() => !document.getElementById('timeline').hidden);
  const marks = await p.$$eval('#time-marks button', (list) => list.map((b) => [b.textContent, Number(b.dataset.at)]));
  // In log order, each name once at its first line: times by hand from the waits.
  assert.deepEqual(marks, [['first', 0], ['second', 1_000_000], ['dark', 1_250_000]]);
  const ticks = await p.$$eval('#time-ticks option', (list) => list.map((o) => Number(o.value)));
  assert.deepEqual(ticks, [0, 1_000_000, 1_250_000]);
  for (const [name, at] of marks) {
    await p.click(`#time-marks button[data-at="${at}"]`);
    await p.waitForFunction((t) => document.body.dataset.moment === String(t), {}, at);
    const cli = bmpPixels(runCliReplay(env, { log: MARKED, args: ['--at', name] }).file);
    assert.ok((await canvasPixels(p)).rgb.equals(cli.rgb), `${name}: canvas differs from --at ${name}`);
  }
  await p.close();
});

test('a log without marks shows no mark list', async () => {
  const p = await page(env, encodeState({ log: 'init\nprint "x"\nwait 1s\n', rows: [] }));
  await p.waitForFunction(() => !document.getElementById('timeline').hidden);
  assert.equal(await p.$eval('#time-marks', (e) => e.hidden), true);
  assert.equal(await p.$$eval('#time-marks button', (list) => list.length), 0);
  await p.close();
});

test('an example log picks a profile of its module', async () => {
  const cases = [
    // 20 x 4: the example profile named for that grid.
    { log: 'menu.log', profile: example('profiles/green-20x4.prof') },
    // 16 x 2, the default grid: the profile pane stays as it was.
    { log: 'storyboard.log', profile: '' },
  ];
  for (const c of cases) {
    const p = await page(env);
    const answers = await p.evaluate(() => Number(document.body.dataset.answers));
    await p.select('#example-log', c.log);
    await p.waitForFunction((n) => Number(document.body.dataset.answers) > n && !document.getElementById('timeline').hidden, {}, answers);
    assert.equal(await p.$eval('#profile', (e) => e.value), c.profile, c.log);
    await p.evaluate(() => window.designer.render());
    const cli = bmpPixels(runCliReplay(env, { log: example(`logs/${c.log}`), profile: c.profile }).file);
    const shown = await canvasPixels(p);
    assert.deepEqual([shown.width, shown.height], [cli.width, cli.height], c.log);
    assert.ok(shown.rgb.equals(cli.rgb), `${c.log}: canvas differs from the tool's picture`);
    await p.close();
  }
});

// The strip's cell of `code`: its 5 x 8 canvas as rows of '1' (dark) and '0' (light).
function stripDots(p, code) {
  return p.evaluate((c) => {
    const small = document.getElementById('glyph-strip').children[c].firstChild;
    const data = small.getContext('2d').getImageData(0, 0, 5, 8).data;
    const rows = [];
    for (let r = 0; r < 8; r += 1) {
      let row = '';
      for (let x = 0; x < 5; x += 1) row += data[(r * 5 + x) * 4] < 128 ? '1' : '0';
      rows.push(row);
    }
    return rows;
  }, code);
}

test('the strip shows the glyphs the log defines at the moment shown', async () => {
  const log = [
    'init', 'wait 1s', 'define 2', 'o...o', '.o.o.', '..o..', '.o.o.', 'o...o', '.....', '.....', 'ooooo',
    'cmd 0x40', 'data 0x1F 0x11 0x11 0x11 0x11 0x11 0x1F 0x00', 'home', '',
  ].join('\n');
  const p = await page(env, encodeState({ log, rows: [] }));
  await p.waitForFunction(() => !document.getElementById('timeline').hidden);
  assert.equal(await p.$eval('#glyph-strip', (s) => s.children[2].dataset.source), 'log');
  assert.deepEqual(await stripDots(p, 2), ['10001', '01010', '00100', '01010', '10001', '00000', '00000', '11111']);
  assert.deepEqual(await stripDots(p, 0), ['11111', '10001', '10001', '10001', '10001', '10001', '11111', '00000']);
  // Before the defines, CGRAM holds the font's glyphs 0..7: blank without a font.
  await p.evaluate(() => window.designer.seek(0));
  await p.waitForFunction(() => document.body.dataset.moment === '0');
  assert.deepEqual(await stripDots(p, 2), Array(8).fill('00000'));
  // Without a log the strip shows the font's glyphs again.
  const rows = await page(env, encodeState({ rows: ['x'] }));
  assert.equal(await rows.$eval('#glyph-strip', (s) => s.children[2].dataset.source), 'font');
  await rows.close();
  await p.close();
});
