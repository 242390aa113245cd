// Serves the benchmark's local pages to the browser peers from 127.0.0.1 on
// a free port, printed as the first line of stdout. Only plain page names of
// the folder are served; the answers are UTF-8 and never cached, so every
// warm load is a real load.
//
//   node serve.mjs DIR [--max-seconds N]
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';

const dir = process.argv[2];
const maxAt = process.argv.indexOf('--max-seconds');
const maxSeconds = maxAt > 0 ? Number(process.argv[maxAt + 1]) : 3600;
if (!dir) {
  console.error('usage: node serve.mjs DIR [--max-seconds N]');
  process.exit(2);
}

const server = createServer(async (req, res) => {
  const name = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname.slice(1));
  if (!/^[A-Za-z0-9_-]+\.html$/.test(name)) {
    res.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
    return;
  }
  try {
    const body = await readFile(join(dir, name));
    res.writeHead(200, {
      'Content-Type': 'text/html; charset=utf-8',
      'Content-Length': body.length,
      'Cache-Control': 'no-store',
    }).end(body);
  } catch {
    res.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
  }
});

server.listen(0, '127.0.0.1', () => console.log(server.address().port));
// The harness stops it; this bound only matters when the harness died.
setTimeout(() => process.exit(0), maxSeconds * 1000).unref();
process.on('SIGTERM', () => server.close(() => process.exit(0)));
