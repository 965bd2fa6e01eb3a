// A tiny static file server for the built page, on 127.0.0.1 only.
// Usage: node web/serve.mjs [folder] [port]   (folder: build-web/site; port 0 picks a free one)
//
// It serves the page's own kinds of files from that one folder and nothing else: a path that
// does not decode answers 400, one that leaves the folder (after decoding, or through a
// link) 403, any other kind of file, a hidden one (any part of its path starting with '.'), a
// missing one or anything but a regular file (a folder, a FIFO, a device) 404. Only a
// regular file is ever opened: a FIFO would hold one of node's few file-system threads until
// someone wrote to it. Files are streamed, never read whole, so memory stays small however
// large they are and however many are asked for at once.
import { createServer } from 'node:http';
import { constants } from 'node:fs';
import { lstat, open, realpath } from 'node:fs/promises';
import { extname, join, resolve, sep } from 'node:path';
import { pipeline } from 'node:stream/promises';
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

// Whether a part of `file`'s path below `base` starts with '.': a hidden file or folder.
function hidden(base, file) {
  return file.slice(base.length).split(sep).some((part) => part.startsWith('.'));
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
  if (type === undefined || hidden(base, file)) return { status: 404 };
  let real;
  try {
    real = await realpath(file);
  } catch {
    return { status: 404 };
  }
  const realBase = await realpath(base);
  if (!inside(realBase, real)) return { status: 403 };
  if (hidden(realBase, real)) return { status: 404 }; // a link to a hidden file
  return { status: 200, file: real, type };
}

// An open handle on `file` and its size when it is a regular file, else null. It is looked
// at before it is opened, and opened so that no open can block (a FIFO swapped in
// meanwhile) and checked again as opened.
async function openRegular(file) {
  let handle;
  try {
    const seen = await lstat(file);
    if (!seen.isFile()) return null;
    handle = await open(file, constants.O_RDONLY | constants.O_NOFOLLOW | constants.O_NONBLOCK);
    const opened = await handle.stat();
    if (!opened.isFile() || opened.ino !== seen.ino || opened.dev !== seen.dev) {
      await handle.close();
      return null;
    }
    return { handle, size: opened.size };
  } catch {
    await handle?.close();
    return null;
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
  const opened = await openRegular(found.file);
  if (opened === null) {
    response.writeHead(404).end(); // not a regular file, or gone meanwhile
    return;
  }
  const { handle, size } = opened;
  response.writeHead(200, { 'Content-Type': found.type, 'Content-Length': size });
  if (request.method === 'HEAD') {
    await handle.close();
    response.end();
    return;
  }
  // The size as opened: a file that grows meanwhile is sent as it was, one that shrinks cut.
  if (size === 0) {
    await handle.close();
    response.end();
    return;
  }
  const stream = handle.createReadStream({ start: 0, end: size - 1, autoClose: true });
  await pipeline(stream, response).catch(() => response.destroy());
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
