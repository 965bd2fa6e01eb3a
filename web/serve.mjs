// A tiny static file server for the built page, on 127.0.0.1 only.
// Usage: node web/serve.mjs [folder] [port]   (folder: build-web/site; port 0 picks a free one)
//
// It serves the page's own kinds of files from that one folder and nothing else: a path that
// does not decode answers 400, one that leaves the folder (after decoding, or through a
// link) 403, any other kind of file, a hidden one, a missing one or anything but a regular
// file (a folder, a FIFO, a device) 404. Only a regular file is ever opened: a FIFO would
// hold one of node's few file-system threads until someone wrote to it.
import { createServer } from 'node:http';
import { constants } from 'node:fs';
import { lstat, open, realpath } from 'node:fs/promises';
import { basename, extname, join, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.prof': 'text/plain; charset=utf-8',
  '.fnt': 'text/plain; charset=utf-8',
  '.bas': 'text/plain; charset=utf-8',
  '.log': 'text/plain; charset=utf-8',
};

function inside(base, file) {
  return file === base || file.startsWith(base + sep);
}

// The file a request names inside `base`, or the status that refuses it.
async function locate(base, url) {
  let path;
  try {
    path = decodeURIComponent(new URL(url, 'http://localhost').pathname);
  } catch {
    return { status: 400 }; // a malformed escape or address
  }
  if (path.includes('\0')) return { status: 400 };
  const file = join(base, path.endsWith('/') ? `${path}index.html` : path);
  if (!inside(base, file)) return { status: 403 };
  const type = TYPES[extname(file)];
  if (type === undefined || basename(file).startsWith('.')) return { status: 404 };
  let real;
  try {
    real = await realpath(file);
  } catch {
    return { status: 404 };
  }
  if (!inside(await realpath(base), real)) return { status: 403 };
  return { status: 200, file: real, type };
}

// The bytes of `file` when it is a regular file, else null. It is looked at before it is
// opened, and opened so that no open can block (a FIFO swapped in meanwhile) and checked
// again as opened.
async function readRegular(file) {
  let handle;
  try {
    const seen = await lstat(file);
    if (!seen.isFile()) return null;
    handle = await open(file, constants.O_RDONLY | constants.O_NOFOLLOW | constants.O_NONBLOCK);
    const opened = await handle.stat();
    if (!opened.isFile() || opened.ino !== seen.ino || opened.dev !== seen.dev) return null;
    return await handle.readFile();
  } catch {
    return null;
  } finally {
    await handle?.close();
  }
}

async function answer(base, request, response) {
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    response.writeHead(405, { Allow: 'GET, HEAD' }).end();
    return;
  }
  const found = await locate(base, request.url);
  if (found.status !== 200) {
    response.writeHead(found.status).end();
    return;
  }
  const body = await readRegular(found.file);
  if (body === null) {
    response.writeHead(404).end(); // not a regular file, or gone meanwhile
    return;
  }
  response.writeHead(200, { 'Content-Type': found.type, 'Content-Length': body.length });
  response.end(request.method === 'HEAD' ? undefined : body);
}

// Starts serving `root`; resolves to the listening server (server.address().port).
export function serve(root, port = 0) {
  const base = resolve(root);
  const server = createServer((request, response) => {
    answer(base, request, response).catch(() => {
      if (!response.headersSent) response.writeHead(500);
      response.end();
    });
  });
  return new Promise((done) => server.listen(port, '127.0.0.1', () => done(server)));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const server = await serve(process.argv[2] ?? 'build-web/site', Number(process.argv[3] ?? 8080));
  console.log(`Serving on http://127.0.0.1:${server.address().port}/`);
}
