// The Log pane, its time slider and its animations, checked against the tool's --replay files.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { encodeState } from '../../web/state.js';
import { bmpPixels, canvasPixels, example, open, page, runCliReplay } from './harness.mjs';

let env;
before(async () => {
  env = await open();
});
after(() => env.close());

const STORYBOARD = example('logs/storyboard.log');

// The canvas after the slider is moved to `at` (microseconds), against the tool's BMP.
async function assertMoment(p, inputs, at, what) {
  await p.evaluate((t) => window.designer.seek(t), at);
  const cli = bmpPixels(runCliReplay(env, { ...inputs, args: ['--at', `${at}us`] }).file);
  const shown = await canvasPixels(p);
  assert.deepEqual([shown.width, shown.height], [cli.width, cli.height], what);
  assert.ok(shown.rgb.equals(cli.rgb), `${what}: canvas pixels differ from the tool's BMP`);
  return cli.rgb;
}

test('the Log pane shows the replayed display, rows ignored, at the moment chosen', async () => {
  const cases = [
    { what: 'storyboard, mid-marquee', log: STORYBOARD, rows: ['not drawn'], at: 1_450_000 },
    { what: '20 x 4 menu with a script', log: example('logs/menu.log'), at: 2_000_000,
      profile: example('profiles/green-20x4.prof'), script: example('scripts/bargraph.bas') },
  ];
  for (const { what, at, rows = [], ...inputs } of cases) {
    const p = await page(env, encodeState({ ...inputs, rows }));
    assert.equal(await p.$eval('#rows-ignored', (e) => e.hidden), false, what);
    // At first the log's end, as the tool without --at.
    const end = bmpPixels(runCliReplay(env, inputs).file);
    assert.ok((await canvasPixels(p)).rgb.equals(end.rgb), `${what}: the log's end`);
    await assertMoment(p, inputs, at, what);
    await p.close();
  }
});

test('the slider shows each moment in its blink phase', async (t) => {
  // The cursor blinks from 0; its phases are 409.6 ms long, and the marquee starts at 1 s.
  const inputs = { log: STORYBOARD };
  const p = await page(env);
  await p.select('#example-log', 'storyboard.log');
  await p.waitForFunction(() => !document.getElementById('timeline').hidden);
  const on = await assertMoment(p, inputs, 200_000, 'first blink phase');
  const off = await assertMoment(p, inputs, 600_000, 'second blink phase');
  assert.ok(!on.equals(off), 'the two phases differ');
  assert.ok((await assertMoment(p, inputs, 900_000, 'third blink phase')).equals(on));
  // A moment from the worker, then again from the cache.
  const seconds = [2.55, 3.0, 3.45, 3.9, 4.35]; // each in a blink phase of its own
  const times = await p.evaluate(async (list) => {
    const out = [];
    for (const pass of [0, 1]) {
      for (const s of list) {
        const t0 = performance.now();
        await window.designer.seek(s * 1e6);
        out.push([pass, performance.now() - t0]);
      }
    }
    return out;
  }, seconds);
  const median = (pass) => times.filter(([p0]) => p0 === pass).map(([, ms]) => ms).sort((a, b) => a - b)[2];
  t.diagnostic(`a moment from the worker: median ${median(0).toFixed(1)} ms; from the cache: ${median(1).toFixed(1)} ms`);
  await p.close();
});

test('GIF and APNG downloads are the command line files, byte for byte', async () => {
  const inputs = { profile: example('profiles/blue-16x2.prof'), log: STORYBOARD, hold: '500ms', loop: '3' };
  const p = await page(env, encodeState(inputs));
  const folder = join(env.dir, 'animations');
  const cdp = await env.browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  for (const format of ['gif', 'apng']) {
    const file = join(folder, `lcd.${format}`);
    rmSync(file, { force: true });
    await p.click(`#save-${format}`);
    const complete = () => existsSync(file) && readdirSync(folder).every((f) => !f.endsWith('.crdownload'));
    for (let i = 0; i < 200 && !complete(); i += 1) {
      await new Promise((done) => setTimeout(done, 50));
    }
    const bytes = readFileSync(file);
    const magic = format === 'gif' ? 'GIF89a' : '\x89PNG';
    assert.equal(bytes.subarray(0, magic.length).toString('latin1'), magic);
    const cli = runCliReplay(env, { ...inputs, args: ['--hold', '500ms', '--loop', '3'], name: `out.${format}` });
    assert.ok(bytes.equals(cli.file), format);
  }
  await p.close();
});

test('a malformed log is refused with its line, as the tool refuses it', async () => {
  const logs = [
    'init\nprint "ok"\nfrob 3\n',
    'init\ngoto 16 0\n',
    'init\nwait 1s\ncmd 0x34\nwait 1s\n', // 5 x 10 dots: refused when replayed
  ];
  for (const log of logs) {
    const p = await page(env, encodeState({ log }));
    const { stderr } = runCliReplay(env, { log });
    assert.match(stderr, /^line \d+: .+\n$/);
    assert.equal(await p.$eval('#messages', (e) => e.textContent), stderr);
    assert.equal(await p.$eval('#stage', (e) => e.classList.contains('stale')), true);
    await p.close();
  }
});
