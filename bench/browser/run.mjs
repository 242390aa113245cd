// The headless-browser peer: Debian's chromium, driven by playwright-core.
// For every page a browser is started afresh with an empty profile; the
// first load is the cold figure, then the page is loaded and its
// document.body.innerText taken RUNS times (warm). One JSON object per page
// on stdout, like bench_pages time.
//
//   node run.mjs [--runs 30] [--timeout-ms 20000] URL...
import { chromium } from 'playwright-core';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const args = process.argv.slice(2);
function option(name, fallback) {
  const at = args.indexOf(name);
  if (at < 0) return fallback;
  const value = Number(args[at + 1]);
  args.splice(at, 2);
  return value;
}
const runs = option('--runs', 30);
const timeoutMs = option('--timeout-ms', 20000);
const urls = args;
if (urls.length === 0 || !(runs >= 1)) {
  console.error('usage: node run.mjs [--runs N] [--timeout-ms MS] URL...');
  process.exit(2);
}
for (const url of urls) {
  if (new URL(url).hostname !== '127.0.0.1') {
    console.error(`run.mjs: only pages on 127.0.0.1 are loaded, not ${url}`);
    process.exit(2);
  }
}

const executablePath = process.env.CHENGLAN_CHROMIUM || '/usr/bin/chromium';
const flags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  // Names never resolve, so nothing but the loopback pages can be reached.
  '--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1',
];

const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  const n = v.length;
  return n % 2 ? v[(n - 1) / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
};

async function loadAndRead(page, url) {
  const started = performance.now();
  await page.goto(url, { waitUntil: 'load', timeout: timeoutMs });
  const text = await page.evaluate(() => (document.body ? document.body.innerText : ''));
  return { ms: performance.now() - started, text };
}

async function measure(url) {
  const profile = await mkdtemp(join(tmpdir(), 'chenglan-bench-chromium-'));
  const started = performance.now();
  const context = await chromium.launchPersistentContext(profile, {
    executablePath,
    headless: true,
    chromiumSandbox: false,
    args: flags,
    timeout: timeoutMs,
  });
  try {
    const page = context.pages()[0] ?? (await context.newPage());
    page.setDefaultTimeout(timeoutMs);
    const startMs = performance.now() - started;
    const cold = await loadAndRead(page, url);
    const warmMs = [];
    let text = cold.text;
    for (let i = 0; i < runs; ++i) {
      const warm = await loadAndRead(page, url);
      warmMs.push(warm.ms);
      text = warm.text;
    }
    return {
      engine: 'browser',
      version: context.browser()?.version() ?? '',
      url,
      startMs,
      coldMs: cold.ms,
      warmMs,
      medianMs: median(warmMs),
      text,
    };
  } finally {
    await context.close();
    await rm(profile, { recursive: true, force: true });
  }
}

for (const url of urls) {
  try {
    console.log(JSON.stringify(await measure(url)));
  } catch (error) {
    console.log(JSON.stringify({ engine: 'browser', url, error: String(error.message ?? error).split('\n')[0] }));
  }
}
