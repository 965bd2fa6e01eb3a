// The page's server: which paths it serves and how it refuses the rest, without a browser.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { request } from 'node:http';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { serve } from '../../web/serve.mjs';

// Sends `path` exactly as written; resolves to the status and body.
function get(port, path, method = 'GET') {
  return new Promise((done, fail) => {
    const req = request({ host: '127.0.0.1', port, path, method }, (res) => {
      let body = '';
      res.on('data', (chunk) => {
        body += chunk;
      });
      res.on('end', () => done({ status: res.statusCode, body }));
    });
    req.on('error', fail);
    req.end();
  });
}

test('the server answers every path with the page file or a refusal, and keeps running', async () => {
  const dir = mkdtempSync(join(tmpdir(), 'vimbra-serve-'));
  const site = join(dir, 'site');
  mkdirSync(join(site, 'examples'), { recursive: true });
  mkdirSync(join(dir, 'site-old'));
  writeFileSync(join(site, 'index.html'), 'page');
  writeFileSync(join(site, 'examples', 'a.prof'), 'CHCNT_X = 8\n');
  writeFileSync(join(site, 'examples', 'a.log'), 'init\n');
  writeFileSync(join(site, 'CMakeCache.txt'), 'cache');
  writeFileSync(join(site, 'site.tar.gz'), 'archive');
  writeFileSync(join(dir, 'CMakeCache.txt'), 'cache');
  writeFileSync(join(dir, 'site-old', 'index.html'), 'secret');
  symlinkSync(join(dir, 'site-old', 'index.html'), join(site, 'old.html'));
  mkdirSync(join(site, '.hid'));
  mkdirSync(join(site, 'examples', '.git'));
  writeFileSync(join(site, '.hid', 'x.html'), 'hidden');
  writeFileSync(join(site, '.x.html'), 'hidden');
  writeFileSync(join(site, 'examples', '.git', 'a.log'), 'hidden');
  symlinkSync(join(site, '.hid', 'x.html'), join(site, 'shown.html'));
  writeFileSync(join(site, 'empty.log'), '');
  const server = await serve(site, 0);
  const { port } = server.address();
  const cases = [
    ['/%', 400, ''],
    ['/%FF', 400, ''],
    ['/%C0%AF', 400, ''],
    ['/a%00.html', 400, ''],
    ['/..%2fsite-old%2findex.html', 403, ''],
    ['/..%2fsite-old/', 403, ''],
    ['/..%2fCMakeCache.txt', 403, ''],
    ['/old.html', 403, ''],
    ['/CMakeCache.txt', 404, ''],
    ['/site.tar.gz', 404, ''],
    ['/missing.html', 404, ''],
    ['/examples', 404, ''],
    ['/', 200, 'page'],
    ['/examples/a.prof', 200, 'CHCNT_X = 8\n'],
    ['/%65xamples/a.prof', 200, 'CHCNT_X = 8\n'],
    ['/examples/a.log', 200, 'init\n'],
    ['/empty.log', 200, ''],
    // Hidden files and folders, however they are reached.
    ['/.hid/x.html', 404, ''],
    ['/.x.html', 404, ''],
    ['/%2Ehid/x.html', 404, ''],
    ['/examples/.git/a.log', 404, ''],
    ['/examples/../.hid/x.html', 404, ''],
    ['/.hid/', 404, ''],
    ['/shown.html', 404, ''],
  ];
  try {
    for (const [path, status, body] of cases) {
      assert.deepEqual(await get(port, path), { status, body }, path);
    }
    assert.deepEqual(await get(port, '/', 'POST'), { status: 405, body: '' });
  } finally {
    await new Promise((done) => server.close(done));
    rmSync(dir, { recursive: true, force: true });
  }
});

test('a FIFO in the served folder is refused without being opened, and the server keeps answering', async () => {
  const dir = mkdtempSync(join(tmpdir(), 'vimbra-serve-'));
  writeFileSync(join(dir, 'a.log'), 'init\n');
  execFileSync('mkfifo', [join(dir, 'x.log')]);
  const server = await serve(dir, 0);
  const { port } = server.address();
  try {
    // More requests than node has file-system threads: an opened FIFO would hold each one.
    const fifo = await Promise.all(Array.from({ length: 8 }, () => get(port, '/x.log')));
    for (const answer of fifo) assert.deepEqual(answer, { status: 404, body: '' });
    assert.deepEqual(await get(port, '/a.log'), { status: 200, body: 'init\n' });
  } finally {
    await new Promise((done) => server.close(done));
    rmSync(dir, { recursive: true, force: true });
  }
});

test('large files are streamed: six at once keep the server small', async () => {
  const dir = mkdtempSync(join(tmpdir(), 'vimbra-serve-'));
  const size = 100 * 1024 * 1024;
  execFileSync('truncate', ['-s', String(size), join(dir, 'big.log')]); // sparse: no disk used
  const server = spawn(process.execPath, [new URL('../../web/serve.mjs', import.meta.url).pathname, dir, '0'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  try {
    const port = await new Promise((done) => {
      server.stdout.once('data', (line) => done(Number(/:(\d+)\//.exec(String(line))[1])));
    });
    const lengths = await Promise.all(Array.from({ length: 6 }, () => new Promise((done, fail) => {
      const req = request({ host: '127.0.0.1', port, path: '/big.log' }, (res) => {
        let length = 0;
        res.on('data', (chunk) => {
          length += chunk.length;
        });
        res.on('end', () => done(length));
      });
      req.on('error', fail);
      req.end();
    })));
    assert.deepEqual(lengths, Array(6).fill(size));
    // The peak resident size of the server: node itself and buffers, not six whole files.
    const peakKiB = Number(/VmHWM:\s+(\d+)/.exec(readFileSync(`/proc/${server.pid}/status`, 'utf8'))[1]);
    assert.ok(peakKiB < 200 * 1024, `the server peaked at ${peakKiB} KiB`);
  } finally {
    server.kill();
    rmSync(dir, { recursive: true, force: true });
  }
});
