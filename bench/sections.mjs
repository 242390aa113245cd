// Turns the results of the hooks of scripts/bench into sections of the
// table: prints one {"title", "columns", "rows", "notes", "misses"} object
// (see report.mjs).
//
//   node sections.mjs click OURS.json BROWSER.json
//   node sections.mjs service GBENCH.json SERVICE.log
//   node sections.mjs start START.jsonl
//   node sections.mjs replicas GBENCH.json REPLICAS.log
//   node sections.mjs window WINDOW.json
//   node sections.mjs failed TITLE REASON
import { existsSync, readFileSync } from 'node:fs';

const GOAL_CLICK_MS = 25;
const GOAL_LIST_MS = 1000;
const GOAL_GROWTH_MB = 5;
const GOAL_START_MS = 2000;
const GOAL_PEAK_OVER_STEADY = 1.5;

const fmtMs = (v) => (typeof v !== 'number' || v < 0 ? '-' : v >= 100 ? v.toFixed(0) : v >= 10 ? v.toFixed(1) : v >= 1 ? v.toFixed(2) : v.toFixed(3));
const fmtRatio = (r) => (r >= 10 ? `${r.toFixed(0)}x` : `${r.toFixed(1)}x`);

// The JSON object on the last line of a program's output that holds one.
function readResult(path) {
  if (!existsSync(path)) throw new Error(`no result in ${path}`);
  const lines = readFileSync(path, 'utf8').split('\n').filter((l) => l.trim().startsWith('{'));
  if (!lines.length) throw new Error(`no result in ${path}`);
  const r = JSON.parse(lines[lines.length - 1]);
  if (r.error) throw new Error(r.error);
  return r;
}

const TITLES = {
  click: 'Whole list click: the match\'s page, both extension pages and the model, on loopback, ms',
  service: 'Data service at 1,000,000 stored profiles: the similar-match query over HTTP on loopback',
  replicas: 'Two data services on one PostgreSQL database: the similar-match query spread over both',
  window: 'The window (xcb on Xvfb): start, click, memory',
  start: 'Data service start at 1,000,000 stored profiles: start to the first answer, resident memory',
  slowlink: 'Clicks on a slow link: today\'s client against the page cache with fetching ahead, in one run',
};

function click(oursPath, browserPath) {
  const ours = readResult(oursPath);
  const rows = [];
  const notes = [];
  const misses = [];
  const perClick = Math.round(ours.pages.reduce((n, p) => n + p.length, 0) / Math.max(1, ours.pages.length));
  rows.push([
    `ours: ${perClick} pages + model, median of ${ours.clicks}`,
    fmtMs(ours.medianMs),
    fmtMs(ours.p90Ms),
    fmtMs(ours.fetchMs),
    fmtMs(ours.renderMs),
    fmtMs(ours.modelMs),
    '',
  ]);
  let browser = null;
  try {
    browser = readResult(browserPath);
    const ratio = browser.medianMs / ours.medianMs;
    const warm = [...browser.warmMs].sort((a, b) => a - b);
    rows.push([
      `headless chromium: the same ${browser.pagesPerClick} page loads + innerText, median of ${browser.warmMs.length}`,
      fmtMs(browser.medianMs),
      fmtMs(warm[Math.min(warm.length - 1, Math.floor(warm.length * 0.9))]),
      '-',
      '-',
      '-',
      fmtRatio(ratio),
    ]);
    notes.push(`headless chromium ${browser.version}: engine start ${fmtMs(browser.startMs)} ms, first click (cold) ${fmtMs(browser.coldMs)} ms; ` +
      `median ${Math.round(browser.medianChars)} characters of text per click`);
  } catch (error) {
    rows.push(['headless chromium: the same page loads', 'failed', '-', '-', '-', '-', '-']);
    notes.push(`headless chromium failed: ${error.message}`);
  }
  notes.push(`both over the listed matches of ${ours.matches > 0 ? 'the site\'s last 7 days' : '?'} in turn (${ours.matches} matches); ` +
    'the extension pages side by side (ours on a second thread, the browser in a second and third tab)');
  notes.push('fetch, render and model: medians of the summed times of the parts; the two extension pages overlap, so the parts may add up to more than the whole');
  notes.push('the browser\'s figure is its page loads only: no parsing, no model, no charts');
  if (ours.failed) misses.push(`whole list click: ${ours.failed} of ${ours.clicks} clicks could not read the match's page`);
  notes.push(`goal: a whole click under ${GOAL_CLICK_MS} ms median (${fmtMs(ours.medianMs)} ms: ${ours.medianMs < GOAL_CLICK_MS ? 'met' : 'missed'})`);
  if (!(ours.medianMs < GOAL_CLICK_MS)) misses.push(`whole list click: median ${fmtMs(ours.medianMs)} ms (goal under ${GOAL_CLICK_MS} ms)`);
  return {
    title: TITLES.click,
    columns: ['pipeline', 'median', '90th pct', 'fetch', 'render', 'model', 'ratio'],
    rows,
    notes,
    misses,
  };
}

// Two services on one PostgreSQL database, the clients spread over both.
function replicas(benchPath, logPath) {
  const data = JSON.parse(readFileSync(benchPath, 'utf8'));
  const runs = (data.benchmarks ?? []).filter((b) => b.run_type !== 'aggregate' && b.name.startsWith('BM_TwoReplicas'));
  const rows = [];
  const notes = [];
  const misses = [];
  let failed = 0;
  for (const b of runs) {
    if (b.error_occurred) {
      rows.push([b.name, 'failed', '-', '-']);
      notes.push(`${b.name}: ${b.error_message}`);
      continue;
    }
    failed += b.failed ?? 0;
    rows.push([
      `${b.threads ?? 1} clients over two replicas, ${Math.round(b.profiles ?? 0)} profiles (${b.iterations} queries)`,
      fmtMs(b.p50_us / 1000),
      fmtMs(b.p99_us / 1000),
      (b.rps ?? 0).toFixed(0),
    ]);
  }
  const log = existsSync(logPath) ? readFileSync(logPath, 'utf8') : '';
  const loaded = log.match(/replicas: two services loaded (\d+) profiles each from PostgreSQL in ([\d.]+) s, resident (.*)/);
  if (loaded) notes.push(`both services loaded ${loaded[1]} profiles from PostgreSQL in ${loaded[2]} s; resident memory of the process holding both ${loaded[3]}`);
  notes.push('half the clients on each replica, one connection each; both replicas in one process on this machine, so they share its cores');
  if (failed) misses.push(`two replicas: ${failed} queries failed or came back empty`);
  if (!rows.length) throw new Error('the replica benchmark reported no figures');
  return { title: TITLES.replicas, columns: ['load', 'p50 ms', 'p99 ms', 'requests/s'], rows, notes, misses };
}

function service(benchPath, logPath) {
  const data = JSON.parse(readFileSync(benchPath, 'utf8'));
  const runs = (data.benchmarks ?? []).filter((b) => b.run_type !== 'aggregate');
  const rows = [];
  const notes = [];
  const misses = [];
  let failed = 0;
  let queries = 0;
  const perSecond = (b) => {
    if (typeof b.rps === 'number') return b.rps;
    const unit = { ns: 1e9, us: 1e6, ms: 1e3, s: 1 }[b.time_unit] ?? 1e6;
    return unit / b.real_time;
  };
  for (const b of runs) {
    if (b.error_occurred) {
      rows.push([b.name, 'failed', '-', '-']);
      notes.push(`${b.name}: ${b.error_message}`);
      continue;
    }
    if (!b.name.startsWith('BM_Query')) continue;
    failed += b.failed ?? 0;
    queries += b.iterations ?? 0;
    const clients = b.threads ?? 1;
    const label = b.name.startsWith('BM_QueryLatency')
      ? `1 client, one query after the other (${b.iterations} queries)`
      : `${clients} clients at once (${b.iterations} queries)`; // iterations of all threads
    rows.push([label, fmtMs(b.p50_us / 1000), fmtMs(b.p99_us / 1000), perSecond(b).toFixed(0)]);
  }
  const search = runs.find((b) => b.name === 'BM_SearchInMemory');
  if (search) notes.push(`the search alone, in memory: ${fmtMs(search.real_time / 1000)} ms per query (mean)`);
  const answer = runs.find((b) => b.name === 'BM_AnswerQuery');
  if (answer) notes.push(`the whole answer without HTTP (parse, search, records): ${fmtMs(answer.real_time / 1000)} ms per query (mean)`);
  const log = existsSync(logPath) ? readFileSync(logPath, 'utf8') : '';
  const loaded = log.match(/loaded (\d+) profiles in (\d+) pattern groups in ([\d.]+) s, resident (.*)/);
  if (loaded) notes.push(`the service loaded ${loaded[1]} profiles (${loaded[2]} pattern groups) in ${loaded[3]} s; resident memory ${loaded[4]}`);
  const refused = log.match(/connections refused as busy: (\d+)/);
  if (refused && refused[1] !== '0') notes.push(`connections refused as busy: ${refused[1]}`);
  notes.push('each client keeps one connection; p50 and p99 per client, requests per second over all clients');
  notes.push(`${queries} queries over HTTP, ${failed} failed or came back empty`);
  if (failed) misses.push(`data service: ${failed} queries failed or came back empty`);
  if (!rows.length) throw new Error('the service benchmark reported no query figures');
  return { title: TITLES.service, columns: ['load', 'p50 ms', 'p99 ms', 'requests/s'], rows, notes, misses };
}

// scripts/service-start: one JSON line per start.
function start(path) {
  const lines = readFileSync(path, 'utf8').split('\n').filter((l) => l.trim().startsWith('{')).map((l) => JSON.parse(l));
  const starts = lines.filter((l) => l.start);
  const compared = lines.find((l) => 'same_answers' in l);
  if (!starts.length) throw new Error(`no start measured in ${path}`);
  const mib = (kib) => (kib / 1024).toFixed(0);
  const label = { database: 'from the database (--no-index-file)', 'index-file': 'from the index file' };
  const rows = starts.map((s) => [label[s.start] ?? s.start, `${s.first_answer_ms}`, mib(s.peak_rss_kib), mib(s.steady_rss_kib), s.peak_over_steady]);
  const misses = [];
  const quick = starts.find((s) => s.start === 'index-file');
  if (!quick) misses.push('data service start: no start from the index file');
  else {
    if (quick.first_answer_ms > GOAL_START_MS) misses.push(`data service start: first answer ${quick.first_answer_ms} ms after start (goal within ${GOAL_START_MS} ms)`);
    if (Number(quick.peak_over_steady) > GOAL_PEAK_OVER_STEADY) misses.push(`data service start: peak memory ${quick.peak_over_steady}x steady (goal at most ${GOAL_PEAK_OVER_STEADY}x)`);
  }
  const notes = ['chenglan-service serve as a process, measured by scripts/service-start: from its start to the first 200 answer of the similar query; ' +
    'peak is VmHWM, steady VmRSS after 200 queries'];
  if (compared) notes.push(`answers to ${compared.queries} queries ${compared.same_answers ? 'byte-identical' : 'DIFFER'} between the two starts`);
  if (compared && !compared.same_answers) misses.push('data service start: the index file gave other answers than the database');
  return { title: TITLES.start, columns: ['start', 'first answer ms', 'peak MiB', 'steady MiB', 'peak / steady'], rows, notes, misses };
}

function window(path) {
  const w = readResult(path);
  const mb = (mib) => mib * 1.048576;
  const rss = w.residentMiB ?? {};
  const growth = typeof rss['50'] === 'number' && typeof rss['100'] === 'number' ? mb(rss['100'] - rss['50']) : null;
  const verdict = (ok) => (ok ? 'met' : 'MISSED');
  const listOk = w.listShownMs >= 0 && w.listShownMs <= GOAL_LIST_MS;
  const clickOk = w.median50Ms < GOAL_CLICK_MS;
  const growthOk = growth != null && growth <= GOAL_GROWTH_MB;
  const rows = [
    ['start to the listed day shown (since the process started)', `${fmtMs(w.listShownMs)} ms`, `within ${GOAL_LIST_MS} ms`, verdict(listOk)],
    ['click to drawn charts, median of clicks 1 to 50', `${fmtMs(w.median50Ms)} ms`, `under ${GOAL_CLICK_MS} ms`, verdict(clickOk)],
    [`click to drawn charts, all ${w.clicks} clicks: median / 90th pct / max`, `${fmtMs(w.medianMs)} / ${fmtMs(w.p90Ms)} / ${fmtMs(w.maxMs)} ms`, '', ''],
    ['resident memory after click 1 / 50 / 100', ['1', '50', '100'].map((k) => (typeof rss[k] === 'number' ? mb(rss[k]).toFixed(1) : '-')).join(' / ') + ' MB', '', ''],
    ['growth from click 50 to click 100', growth == null ? '-' : `${growth.toFixed(1)} MB`, `at most ${GOAL_GROWTH_MB} MB`, verdict(growthOk)],
  ];
  const notes = [
    `bench_window --clicks ${w.clicks}: the window of chenglan with the ${w.rows} listed rows of the day clicked in turn, each once the previous one is shown; ` +
      'the time runs from the click to the moment the window takes the analysis, its pictures drawn and the similar matches listed',
    `start measured from the kernel's start of the process (10 ms steps); ${fmtMs(w.listShownFromMainMs)} ms of it since main()`,
  ];
  const misses = [];
  if (!listOk) misses.push(`window: list shown ${fmtMs(w.listShownMs)} ms after start (goal within ${GOAL_LIST_MS} ms)`);
  if (!clickOk) misses.push(`window: click median ${fmtMs(w.median50Ms)} ms (goal under ${GOAL_CLICK_MS} ms)`);
  if (!growthOk) misses.push(`window: memory grew ${growth == null ? '?' : growth.toFixed(1)} MB from click 50 to 100 (goal at most ${GOAL_GROWTH_MB} MB)`);
  return { title: TITLES.window, columns: ['measure', 'value', 'goal', ''], rows, notes, misses };
}

// Clicks on a slow link (bench_slowlink through delayproxy.mjs): one JSON
// result per delay, today's client against the one with the cache and
// fetching ahead.
const GOAL_AHEAD_MS = 30;
const GOAL_AGAIN_MS = 20;
function slowlink(...paths) {
  const rows = [];
  const notes = [];
  const misses = [];
  for (const path of paths) {
    const r = readResult(path);
    const d = r.delayMs;
    const p = r.plain;
    const c = r.cached;
    const cell = (x) => (x ? `${fmtMs(x.medianMs)} ms, ${x.requestsPerClick.toFixed(1)} req` : '-');
    rows.push([`+${d} ms: first click, nothing fetched ahead`, cell(p.firstClick), cell(c.firstClick), '']);
    rows.push([`+${d} ms: click after fetching ahead`, cell(p.firstClick), cell(c.afterAhead), d === 100 ? `under ${GOAL_AHEAD_MS} ms` : '']);
    rows.push([`+${d} ms: the same match again (not yet played)`, cell(p.sameMatchAgain), cell(c.sameMatchAgain), d === 100 ? 'at most 1 req' : '']);
    rows.push([`+${d} ms: the same match again (finished 2 days ago)`, cell(p.finishedMatchAgain), cell(c.finishedMatchAgain), d === 100 ? `under ${GOAL_AGAIN_MS} ms` : '']);
    rows.push([`+${d} ms: similar click (finished match), first`, cell(p.similarClick), cell(c.similarClick), '']);
    rows.push([`+${d} ms: similar click, the same again`, cell(p.similarAgain), cell(c.similarAgain), '']);
    const perList = c.aheadRequests;
    rows.push([`+${d} ms: fetching ahead of ${r.todayMatches} listed matches`, '-', `${fmtMs(c.aheadMs)} ms, ${perList} req`,
      `at most ${3 * r.todayMatches} req`]);
    if (d === 100) {
      if (!(c.afterAhead.medianMs < GOAL_AHEAD_MS)) misses.push(`slow link +100 ms: click after fetching ahead ${fmtMs(c.afterAhead.medianMs)} ms (goal under ${GOAL_AHEAD_MS} ms)`);
      if (!(c.finishedMatchAgain.medianMs < GOAL_AGAIN_MS)) misses.push(`slow link +100 ms: repeated click ${fmtMs(c.finishedMatchAgain.medianMs)} ms (goal under ${GOAL_AGAIN_MS} ms)`);
      if (c.sameMatchAgain.requestsPerClick > 1) misses.push(`slow link +100 ms: ${c.sameMatchAgain.requestsPerClick} requests per repeated click (goal at most 1)`);
      if (perList > 3 * r.todayMatches) misses.push(`slow link +100 ms: ${perList} requests fetching ahead for ${r.todayMatches} matches (goal at most ${3 * r.todayMatches})`);
    }
    if (p.failedClicks || c.failedClicks) misses.push(`slow link +${d} ms: ${p.failedClicks + c.failedClicks} clicks could not read their page`);
  }
  notes.push('bench_slowlink through bench/delayproxy.mjs, which holds every answer of the sample site for the delay; ' +
    'click to drawn charts (the analysis and its three pictures, no similar-match query); medians; req: requests that reached the site per click');
  notes.push('the day is the real one, so the listed matches are not yet played and their own pages are fetched again on a repeated click; ' +
    'a match of two days ago is finished and every page of it is final');
  return { title: TITLES.slowlink, columns: ['click', 'today\'s client', 'cache + fetching ahead', 'goal'], rows, notes, misses };
}

const [what, ...rest] = process.argv.slice(2);
let section;
try {
  if (what === 'click') section = click(rest[0], rest[1]);
  else if (what === 'service') section = service(rest[0], rest[1]);
  else if (what === 'replicas') section = replicas(rest[0], rest[1]);
  else if (what === 'window') section = window(rest[0]);
  else if (what === 'slowlink') section = slowlink(...rest);
  else if (what === 'start') section = start(rest[0]);
  else if (what === 'failed') section = { title: TITLES[rest[0]] ?? rest[0], notes: [`failed: ${rest[1]}`], misses: [`${rest[0]}: failed (${rest[1]})`] };
  else {
    console.error('usage: node sections.mjs click|service|start|replicas|window|slowlink|failed ...');
    process.exit(2);
  }
} catch (error) {
  section = { title: TITLES[what] ?? what, notes: [`failed: ${error.message}`], misses: [`${what}: failed (${error.message})`] };
}
console.log(JSON.stringify(section));
