// A tiny static file server for the built page, on 127.0.0.1 only.
// Usage: node web/serve.mjs [folder] [port]   (port 0 picks a free one)
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve } from 'node:path';
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
};

// Starts serving `root`; resolves to the listening server (server.address().port).
export function serve(root, port = 0) {
  const base = resolve(root);
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = normalize(join(base, path.endsWith('/') ? `${path}index.html` : path));
    if (!file.startsWith(base)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((done) => server.listen(port, '127.0.0.1', () => done(server)));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const server = await serve(process.argv[2] ?? 'build-web', Number(process.argv[3] ?? 8080));
  console.log(`Serving on http://127.0.0.1:${server.address().port}/`);
}
