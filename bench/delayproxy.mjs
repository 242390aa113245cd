// A slow link for the benchmark: forwards every request to one upstream
// server on 127.0.0.1 and holds each answer for a fixed time before passing
// it on, as a distant site would. Listens on 127.0.0.1 on a free port,
// printed as the first line of stdout.
//
//   node delayproxy.mjs UPSTREAM-URL DELAY-MS [--max-seconds N]
import { createServer, request as httpRequest, Agent } from 'node:http';

const upstream = new URL(process.argv[2] || '');
const delayMs = Number(process.argv[3]);
const maxAt = process.argv.indexOf('--max-seconds');
const maxSeconds = maxAt > 0 ? Number(process.argv[maxAt + 1]) : 3600;
if (upstream.hostname !== '127.0.0.1' || !(delayMs >= 0)) {
  console.error('usage: node delayproxy.mjs http://127.0.0.1:PORT/ DELAY-MS [--max-seconds N]');
  process.exit(2);
}
const agent = new Agent({ keepAlive: true });

const server = createServer((req, res) => {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => {
    const headers = { ...req.headers, host: upstream.host };
    const up = httpRequest({ host: upstream.hostname, port: upstream.port, method: req.method, path: req.url,
      headers, agent }, (answer) => {
      const body = [];
      answer.on('data', (c) => body.push(c));
      answer.on('end', () => setTimeout(() => {
        const out = Buffer.concat(body);
        const h = { ...answer.headers, 'content-length': out.length };
        delete h['transfer-encoding'];
        delete h.connection;
        res.writeHead(answer.statusCode, h).end(out);
      }, delayMs));
    });
    up.on('error', () => res.writeHead(502).end());
    up.end(Buffer.concat(chunks));
  });
});

server.listen(0, '127.0.0.1', () => console.log(server.address().port));
setTimeout(() => process.exit(0), maxSeconds * 1000).unref();
process.on('SIGTERM', () => server.close(() => process.exit(0)));
