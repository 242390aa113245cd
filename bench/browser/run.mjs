// The headless-browser peer: Debian's chromium, driven by playwright-core.
// For every page a browser is started afresh with an empty profile; the
// first load is the cold figure, then the page is loaded and its
// document.body.innerText taken RUNS times (warm). One JSON object per page
// on stdout, like bench_pages time.
//
// With --clicks FILE (the JSON that bench_click prints) it loads the pages
// of the list clicks instead: per click the match's page, then the two
// extension pages side by side in two tabs, as our client fetches them, each
// with its document.body.innerText taken. The first click is the cold
// figure, then RUNS clicks over the clicks of the file in turn. One JSON
// object on stdout.
//
//   node run.mjs [--runs 30] [--timeout-ms 20000] URL...
//   node run.mjs [--runs 30] [--timeout-ms 20000] --clicks FILE
import { chromium } from 'playwright-core';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
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
let clicks = null;
const clicksAt = args.indexOf('--clicks');
if (clicksAt >= 0) {
  const file = args[clicksAt + 1];
  args.splice(clicksAt, 2);
  try {
    clicks = JSON.parse(await readFile(file, 'utf8')).pages.map((click) => click.map((request) => request.url));
  } catch (error) {
    console.error(`run.mjs: cannot read the clicks in ${file}: ${error.message}`);
    process.exit(2);
  }
  clicks = clicks.filter((click) => click.length > 0);
}
const urls = clicks ? clicks.flat() : args;
if (urls.length === 0 || !(runs >= 1) || (clicks && args.length > 0)) {
  console.error('usage: node run.mjs [--runs N] [--timeout-ms MS] (URL... | --clicks FILE)');
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

// Starts a browser on a fresh profile, hands it to `use` and closes it.
async function withBrowser(use) {
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
    return await use(context, performance.now() - started);
  } finally {
    await context.close();
    await rm(profile, { recursive: true, force: true });
  }
}

async function measure(url) {
  return withBrowser(async (context, startMs) => {
    const page = context.pages()[0] ?? (await context.newPage());
    page.setDefaultTimeout(timeoutMs);
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
  });
}

// One click: its first page, then the others side by side, one tab each.
async function loadClick(tabs, click) {
  const started = performance.now();
  const first = await loadAndRead(tabs[0], click[0]);
  const rest = await Promise.all(click.slice(1).map((url, i) => loadAndRead(tabs[1 + (i % (tabs.length - 1))], url)));
  return { ms: performance.now() - started, chars: [first, ...rest].reduce((n, r) => n + r.text.length, 0) };
}

async function measureClicks() {
  return withBrowser(async (context, startMs) => {
    const perClick = Math.max(...clicks.map((c) => c.length));
    const tabs = [context.pages()[0] ?? (await context.newPage())];
    while (tabs.length < Math.max(2, perClick)) tabs.push(await context.newPage());
    for (const tab of tabs) tab.setDefaultTimeout(timeoutMs);
    const cold = await loadClick(tabs, clicks[0]);
    const warmMs = [];
    const chars = [];
    for (let i = 0; i < runs; ++i) {
      const warm = await loadClick(tabs, clicks[(i + 1) % clicks.length]);
      warmMs.push(warm.ms);
      chars.push(warm.chars);
    }
    return {
      engine: 'browser',
      mode: 'clicks',
      version: context.browser()?.version() ?? '',
      startMs,
      coldMs: cold.ms,
      warmMs,
      medianMs: median(warmMs),
      clicks: clicks.length,
      pagesPerClick: perClick,
      medianChars: median(chars),
    };
  });
}

if (clicks) {
  try {
    console.log(JSON.stringify(await measureClicks()));
  } catch (error) {
    console.log(JSON.stringify({ engine: 'browser', mode: 'clicks', error: String(error.message ?? error).split('\n')[0] }));
  }
  process.exit(0);
}

for (const url of urls) {
  try {
    console.log(JSON.stringify(await measure(url)));
  } catch (error) {
    console.log(JSON.stringify({ engine: 'browser', url, error: String(error.message ?? error).split('\n')[0] }));
  }
}
