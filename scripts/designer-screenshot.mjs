// Takes the README's picture of the designer page: node scripts/designer-screenshot.mjs OUT.png
// (after make web; uses the browser-test harness for the server and headless Chromium).
import { readFileSync } from 'node:fs';

import { encodeState } from '../web/state.js';
import { open, page } from '../tests/web/harness.mjs';

const out = process.argv[2] ?? 'docs/designer.png';
const example = (path) => readFileSync(new URL(`../examples/${path}`, import.meta.url), 'utf8');
const env = await open();
try {
  const state = {
    profile: example('profiles/default.prof'),
    font: example('fonts/symbols.fnt'),
    script: '',
    rows: ['Vimbra LCD \\x00\\x02', 'Temp 21.5\\x01C \\x05\\x06'],
  };
  const p = await page(env, encodeState(state));
  await p.setViewport({ width: 1280, height: 1000 });
  await p.evaluate(() => window.dispatchEvent(new Event('resize')));
  await p.$eval('#glyph-code', (input) => {
    input.value = '0x01';
    input.dispatchEvent(new Event('change'));
  });
  await p.focus('#glyph-grid .dot:nth-child(2)');
  await p.screenshot({ path: out });
  console.log(`Wrote ${out}`);
} finally {
  await env.close();
}
