// Playing a replayed log on the page, the animation settings it refuses, and an animation of
// rows alone, checked against the tool.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { encodeState } from '../../web/state.js';
import { bmpPixels, canvasPixels, example, open, page, ROOT, runCliReplay } from './harness.mjs';

const CLI = join(ROOT, process.env.VIMBRA_BUILD ?? 'build', 'vimbracli');

let env;
let downloads;
before(async () => {
  env = await open();
  downloads = join(env.dir, 'downloads');
  const cdp = await env.browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
});
after(() => env.close());

const pause = (ms) => new Promise((done) => setTimeout(done, ms));
const slider = (p) => p.$eval('#time', (e) => Number(e.value));
const button = (p) => p.$eval('#play', (e) => [e.textContent, e.getAttribute('aria-pressed')]);

// Clicks a download button; the file's bytes, or null when none came within `ms`.
async function download(p, id, name, ms = 10_000) {
  const file = join(downloads, name);
  rmSync(file, { force: true });
  await p.click(id);
  const complete = () => existsSync(file) && readdirSync(downloads).every((f) => !f.endsWith('.crdownload'));
  for (let waited = 0; waited < ms && !complete(); waited += 50) {
    await pause(50);
  }
  return complete() ? readFileSync(file) : null;
}

// Two seconds of log, each second its own text; one more of hold.
const TWO_SECONDS = 'init\nprint "first"\nwait 1s\ngoto 0 0\nprint "second"\nwait 1s\n';

test('Play runs the log in real time, Pause stops it where it is and Play goes on from there', async () => {
  const p = await page(env, encodeState({ log: TWO_SECONDS }));
  await p.waitForFunction(() => !document.getElementById('timeline').hidden);
  assert.deepEqual(await button(p), ['Play', 'false']);
  assert.equal(await slider(p), 2_000_000, 'at first the log\'s end');
  await p.click('#play');
  assert.deepEqual(await button(p), ['Pause', 'true']);
  await pause(400);
  const playing = await slider(p);
  assert.ok(playing > 0 && playing !== 2_000_000, `played from 0, now at ${playing} us`);
  await p.click('#play');
  assert.deepEqual(await button(p), ['Play', 'false']);
  const paused = await slider(p);
  await pause(400);
  assert.equal(await slider(p), paused, 'paused: the slider stays');
  await p.click('#play');
  await pause(400);
  const resumed = await slider(p);
  assert.ok(resumed > paused + 100_000, `resumed from ${paused} us, now at ${resumed} us`);
  await p.click('#play');
  await p.close();
});

test('Play stops by itself after Loop plays, showing the log\'s end as the tool does', async () => {
  const inputs = { log: 'init\nprint "a"\nwait 300ms\ngoto 0 0\nprint "b"\n', hold: '100ms', loop: '2' };
  const p = await page(env, encodeState(inputs));
  await p.waitForFunction(() => !document.getElementById('timeline').hidden);
  const started = Date.now();
  await p.click('#play');
  await p.waitForFunction(() => document.getElementById('play').textContent === 'Play', { timeout: 10_000 });
  const took = Date.now() - started;
  assert.ok(took >= 700, `two plays of 400 ms each took ${took} ms`);
  assert.equal(await slider(p), 300_000);
  await p.waitForFunction(() => document.body.dataset.moment === '300000');
  const end = bmpPixels(runCliReplay(env, { log: inputs.log }).file);
  assert.ok((await canvasPixels(p)).rgb.equals(end.rgb), 'the canvas shows the log\'s end');
  await p.close();
});

test('Hold and Loop refuse what the tool refuses, and nothing is downloaded', async () => {
  const cases = [
    { what: 'a hold without a unit', hold: '2', loop: '', message: "Hold: not a time: '2' (e.g. 2s, 500ms)\n" },
    { what: 'a hold that is no time', hold: 'soon', loop: '', message: "Hold: not a time: 'soon' (e.g. 2s, 500ms)\n" },
    { what: 'a negative loop', hold: '', loop: '-1',
      message: "Loop: '-1' is not a whole number of plays (0 or empty: for ever).\n" },
    { what: 'a loop past the most', hold: '', loop: '65537',
      message: 'Loop: 65537 is not a number of plays from 0 (forever) to 65536.\n' },
  ];
  for (const { what, message, ...settings } of cases) {
    const inputs = { log: TWO_SECONDS, ...settings };
    const p = await page(env, encodeState(inputs));
    const bytes = await download(p, '#save-gif', 'lcd.gif', 1500);
    assert.equal(bytes, null, `${what}: no file`);
    assert.equal(await p.$eval('#messages', (e) => e.textContent), message, what);
    // The tool refuses the same values on its command line.
    const args = settings.hold ? ['--hold', settings.hold] : ['--loop', settings.loop];
    assert.match(runCliReplay(env, { ...inputs, args, name: 'out.gif' }).stderr ?? '', /^vimbracli: --(hold|loop)/, what);
    await p.close();
  }
});

test('a hold of zero needs no unit: the GIF is the tool\'s, byte for byte', async () => {
  const inputs = { log: TWO_SECONDS, hold: '0' };
  const p = await page(env, encodeState(inputs));
  const bytes = await download(p, '#save-gif', 'lcd.gif');
  assert.ok(bytes, 'a GIF was downloaded');
  const cli = runCliReplay(env, { ...inputs, args: ['--hold', '0'], name: 'out.gif' });
  assert.ok(bytes.equals(cli.file));
  await p.close();
});

test('without a log the GIF download is one still frame of the rows, as the tool writes it', async () => {
  const inputs = { profile: example('profiles/blue-16x2.prof'), font: example('fonts/symbols.fnt'),
    rows: ['Rows only \\x00', 'Temp 21.5\\x01C'] };
  const p = await page(env, encodeState(inputs));
  assert.equal(await p.$eval('#timeline', (e) => e.hidden), true, 'no log, no slider');
  const bytes = await download(p, '#save-gif', 'lcd.gif');
  assert.ok(bytes, 'a GIF was downloaded');
  assert.equal(bytes.subarray(0, 6).toString('latin1'), 'GIF89a');
  const at = (file) => join(env.dir, file);
  writeFileSync(at('rows.prof'), inputs.profile);
  writeFileSync(at('rows.fnt'), inputs.font);
  rmSync(at('rows.gif'), { force: true });
  execFileSync(CLI, ['-p', at('rows.prof'), '-f', at('rows.fnt'), at('rows.gif'), '--', ...inputs.rows]);
  assert.ok(bytes.equals(readFileSync(at('rows.gif'))), 'the page\'s GIF equals the tool\'s');
  await p.close();
});
