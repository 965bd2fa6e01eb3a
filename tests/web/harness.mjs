// Shared by the browser tests: a static server over build-web/site, headless Chromium, the
// native tool, and BMP pixels.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { serve } from '../../web/serve.mjs';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');

export const ROOT = fileURLToPath(new URL('../../', import.meta.url));
const WEB_BUILD = join(ROOT, process.env.VIMBRA_WEB_BUILD ?? 'build-web', 'site');
const CLI = join(ROOT, process.env.VIMBRA_BUILD ?? 'build', 'vimbracli');

export function example(path) {
  return readFileSync(join(ROOT, 'examples', path), 'utf8');
}

// A server, a browser and a scratch folder for one test file; close() ends all three.
export async function open() {
  const server = await serve(WEB_BUILD, 0);
  const dir = mkdtempSync(join(tmpdir(), 'vimbra-web-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    userDataDir: join(dir, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const url = `http://127.0.0.1:${server.address().port}/`;
  return {
    url,
    dir,
    browser,
    async close() {
      await browser.close();
      await new Promise((done) => server.close(done));
      rmSync(dir, { recursive: true, force: true });
    },
  };
}

// Opens the page at `fragment` and waits for its first answer: a picture or a refusal.
export async function page(env, fragment = '') {
  const p = await env.browser.newPage();
  await p.goto(`${env.url}${fragment ? `#${fragment}` : ''}`);
  await p.waitForFunction(() => Number(document.body.dataset.answers ?? 0) > 0);
  return p;
}

// The canvas: its size and RGB pixels, top row first.
export async function canvasPixels(p) {
  const { width, height, data } = await p.evaluate(() => {
    const c = document.getElementById('lcd');
    const rgba = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let rgb = '';
    for (let i = 0; i < rgba.length; i += 4) rgb += String.fromCharCode(rgba[i], rgba[i + 1], rgba[i + 2]);
    return { width: c.width, height: c.height, data: btoa(rgb) };
  });
  return { width, height, rgb: Buffer.from(data, 'base64') };
}

// Runs the native tool on these texts as files; the output file's bytes and what it printed.
// A script is named by a SCRIPT line added to the end of the profile, where it wins.
export function runCli(env, { profile = '', font = '', script = '', rows = [], name = 'out.bmp', stdin = '' }) {
  const at = (file) => join(env.dir, file);
  writeFileSync(at('p.prof'), script ? `${profile}\nSCRIPT = ${at('s.bas')}\n` : profile);
  writeFileSync(at('f.fnt'), font);
  writeFileSync(at('s.bas'), script);
  rmSync(at(name), { force: true });
  const stdout = execFileSync(CLI, [at('p.prof'), at('f.fnt'), at(name), ...(rows.length ? rows : [''])],
    { input: stdin, encoding: 'utf8', maxBuffer: 1 << 26 });
  return { file: readFileSync(at(name)), stdout };
}

// The tool's option form on these texts as files, with the log as --replay: the output's
// bytes, or the failure's standard error (stderr) with the log's path cut from its lines.
export function runCliReplay(env, { profile = '', font = '', script = '', log, args = [], name = 'out.bmp' }) {
  const at = (file) => join(env.dir, file);
  writeFileSync(at('p.prof'), script ? `${profile}\nSCRIPT = ${at('s.bas')}\n` : profile);
  writeFileSync(at('f.fnt'), font);
  writeFileSync(at('s.bas'), script);
  writeFileSync(at('l.log'), log);
  rmSync(at(name), { force: true });
  try {
    execFileSync(CLI, ['--profile', at('p.prof'), '--font', at('f.fnt'), '--replay', at('l.log'), ...args, at(name)],
      { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (failure) {
    return { stderr: failure.stderr.split(`${at('l.log')}: `).join('') };
  }
  return { file: readFileSync(at(name)) };
}

// RGB pixels, top row first, of a 24-bit bottom-up BMP.
export function bmpPixels(bmp) {
  const offset = bmp.readUInt32LE(10);
  const width = bmp.readInt32LE(18);
  const height = bmp.readInt32LE(22);
  const stride = Math.ceil((width * 3) / 4) * 4;
  const rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; y += 1) {
    const row = offset + (height - 1 - y) * stride;
    for (let x = 0; x < width; x += 1) {
      const s = row + x * 3;
      const d = (y * width + x) * 3;
      rgb[d] = bmp[s + 2];
      rgb[d + 1] = bmp[s + 1];
      rgb[d + 2] = bmp[s];
    }
  }
  return { width, height, rgb };
}
