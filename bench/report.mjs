// Prints the one table of scripts/bench from the results folder it filled:
// manifest.json (the pages), <engine>-<page>.json (ours, browser, webengine:
// timings and the text each engine handed back) and rows-*.json (sections
// that other measurements add, see scripts/bench).
//
//   node report.mjs RESULTS_DIR
import { existsSync, readFileSync, readdirSync } from 'node:fs';
import { cpus, loadavg } from 'node:os';
import { join } from 'node:path';

const dir = process.argv[2];
if (!dir) {
  console.error('usage: node report.mjs RESULTS_DIR');
  process.exit(2);
}
const readJson = (name) => {
  const path = join(dir, name);
  if (!existsSync(path)) return null;
  try {
    return JSON.parse(readFileSync(path, 'utf8'));
  } catch (error) {
    return { error: `unreadable result: ${error.message}` };
  }
};

// How the scrapers split each page's text: the schedule pages into rows at
// "‖" (what follows the last row end is not a row), the analysis page into
// sections at "$" and records at "|", the change detail into lines; fields
// at ",". Line ends are compared as "\n" whatever the engine wrote.
const PAGES = [
  { name: 'schedule', title: 'schedule, marked table', kind: 'rows' },
  { name: 'analysis', title: 'analysis, script run', kind: 'sections' },
  { name: 'detail', title: 'change detail', kind: 'lines' },
  { name: 'large', title: 'large table page', kind: 'rows' },
];
const ENGINES = [
  { name: 'ours', title: 'ours' },
  { name: 'browser', title: 'headless chromium' },
  { name: 'webengine', title: 'QtWebEngine' },
];
const GOAL_RATIO = 30;
const GOAL_MBPS = 100;

function records(text, kind) {
  const t = text.replace(/\r\n?/g, '\n');
  const fields = (s) => s.split(',');
  if (kind === 'rows') {
    return t.split('‖').slice(0, -1).map((row, i) => ({ label: `row ${i + 1}`, fields: fields(row) }));
  }
  if (kind === 'lines') {
    return t.replace(/\n+$/, '').split('\n').map((line, i) => ({ label: `line ${i + 1}`, fields: fields(line) }));
  }
  const sections = t.split('$');
  const out = [];
  for (let s = 0; s < 4; ++s) {
    const section = sections[s] ?? '';
    if (s === 3) {
      out.push({ label: 'info line', fields: fields(section) });
      continue;
    }
    const recs = section.split('|');
    recs.pop(); // every record is followed by "|"
    recs.forEach((r, i) => out.push({ label: `list ${s + 1} record ${i + 1}`, fields: fields(r) }));
  }
  return out;
}

// What the scraper would take from the text: listed matches, used change
// rows, or the records and info fields of the analysis page.
function readable(recs, kind) {
  if (kind === 'rows') return `${recs.filter((r) => r.fields.length >= 12).length} match rows`;
  if (kind === 'lines') {
    const used = recs.slice(1).filter((r) => parseFloat((r.fields[2] ?? '').trim()) > 0 && (r.fields[1] ?? '').trim().length > 1);
    return `${used.length} change rows`;
  }
  const info = recs.find((r) => r.label === 'info line');
  return `${recs.length - 1} records, ${info ? info.fields.length : 0} info fields`;
}

const squeeze = (s) => s.replace(/[\s\u00a0]+/g, ' ').trim();
const excerpt = (fields) => {
  const s = JSON.stringify(fields.join(','));
  return s.length > 72 ? `${s.slice(0, 69)}..."` : s;
};

// Field by field, white space at the ends of a field not counted: where the
// engines put blanks, tabs and line breaks around cells is their own.
function compare(ourText, theirText, kind) {
  if (ourText === theirText) return { verdict: 'same text', right: true };
  const a = records(ourText, kind);
  const b = records(theirText, kind);
  let differing = 0;
  let first = null;
  let spaceOnly = 0;
  for (let i = 0; i < Math.max(a.length, b.length); ++i) {
    const fa = a[i]?.fields ?? [];
    const fb = b[i]?.fields ?? [];
    let same = fa.length === fb.length;
    for (let f = 0; same && f < fa.length; ++f) same = squeeze(fa[f]) === squeeze(fb[f]);
    if (!same) {
      ++differing;
      if (!first) first = { label: (a[i] ?? b[i]).label, ours: fa, theirs: fb };
    } else if (fa.join(',') !== fb.join(',')) {
      ++spaceOnly;
    }
  }
  let summary = `ours ${readable(a, kind)}, theirs ${readable(b, kind)}`;
  // A standards browser moves text that stands directly inside a <tr> out
  // in front of the table: the row markers the scraper put there end up in
  // one run before all the rows.
  const moved = kind === 'rows' ? (theirText.match(/^[‖\s]*/)[0].match(/‖/g) ?? []).length : 0;
  if (moved > 1) summary += `; ${moved} of the ${a.length} "‖" row markers stand together in front of the table's text`;
  if (differing === 0) {
    return { verdict: 'same fields', right: true, detail: `${spaceOnly} of ${a.length} records differ in white space only; ${summary}` };
  }
  return {
    verdict: `WRONG: ${differing} of ${Math.max(a.length, b.length)} records differ`,
    right: false,
    detail: summary,
    first,
  };
}

const fmtMs = (v) => (v == null ? '-' : v >= 100 ? v.toFixed(0) : v >= 10 ? v.toFixed(1) : v >= 1 ? v.toFixed(2) : v.toFixed(3));
const fmtRatio = (r) => (r >= 10 ? `${r.toFixed(0)}x` : `${r.toFixed(1)}x`);
const fmtBytes = (b) => (b >= 1e6 ? `${(b / 1e6).toFixed(2)} MB` : b >= 1e3 ? `${(b / 1e3).toFixed(1)} kB` : `${b} B`);

function table(header, rows) {
  const width = header.map((h, c) => Math.max(h.length, ...rows.map((r) => String(r[c]).length)));
  const line = (cells) => cells.map((cell, c) => (c === 0 ? String(cell).padEnd(width[c]) : String(cell).padStart(width[c]))).join('  ');
  return [line(header), width.map((w) => '-'.repeat(w)).join('  '), ...rows.map(line)].join('\n');
}

const manifest = readJson('manifest.json') ?? {};
const result = {};
for (const p of PAGES) for (const e of ENGINES) result[`${e.name}-${p.name}`] = readJson(`${e.name}-${p.name}.json`);
const ok = (r) => r && !r.error && typeof r.medianMs === 'number';

const out = [];
const cpu = cpus()[0]?.model ?? 'unknown CPU';
out.push(`chenglan bench, ${new Date().toISOString().slice(0, 16).replace('T', ' ')} UTC`);
out.push(`machine: ${cpu}, ${cpus().length} cores, load average ${loadavg().map((l) => l.toFixed(2)).join(' ')}`);
const version = (engine) => Object.values(result).find((r) => r && r.engine === engine && r.version)?.version;
out.push(`peers: chromium ${version('browser') ?? '?'} (playwright-core, headless), QtWebEngine (Chromium ${version('webengine') ?? '?'}, offscreen)`);
if (manifest.matchId) out.push(`pages from the sample site, match ${manifest.matchId}: ${PAGES.filter((p) => manifest[p.name]).map((p) => `${p.name} ${fmtBytes(manifest[p.name].bytes)}`).join(', ')}`);
out.push('');

// Warm figures: the engine is up; load the page and take its text.
const warmRows = [];
const notes = [];
const misses = [];
for (const p of PAGES) {
  const ours = result[`ours-${p.name}`];
  const row = [p.title, manifest[p.name] ? fmtBytes(manifest[p.name].bytes) : '-'];
  row.push(ok(ours) ? fmtMs(ours.medianMs) : 'failed');
  const mbps = ok(ours) ? ours.bytes / 1e6 / (ours.medianMs / 1e3) : null;
  for (const e of ENGINES.slice(1)) {
    const r = result[`${e.name}-${p.name}`];
    if (!ok(r)) {
      row.push('failed', '-');
      notes.push(`${p.name}, ${e.title}: ${r?.error ?? 'no result'}`);
      // A goal that could not be checked is not met.
      misses.push(`${p.name}: ${e.title} failed, no ratio`);
      continue;
    }
    row.push(fmtMs(r.medianMs));
    if (!ok(ours)) {
      row.push('-');
      continue;
    }
    const cmp = compare(ours.text, r.text, p.kind);
    const ratio = r.medianMs / ours.medianMs;
    row.push(cmp.right ? fmtRatio(ratio) : `(${fmtRatio(ratio)}) wrong`);
    if (ratio < GOAL_RATIO) misses.push(`${p.name}: ${fmtRatio(ratio)} against ${e.title} (goal ${GOAL_RATIO}x)`);
    notes.push(`${p.name}, ${e.title}: ${cmp.verdict}${cmp.detail ? `; ${cmp.detail}` : ''}`);
    if (cmp.first) {
      notes.push(`    first difference, ${cmp.first.label}:`);
      notes.push(`      ours   ${excerpt(cmp.first.ours)}`);
      notes.push(`      theirs ${excerpt(cmp.first.theirs)}`);
    }
  }
  row.push(mbps == null ? '-' : mbps >= 10 ? mbps.toFixed(0) : mbps.toFixed(1));
  warmRows.push(row);
  if (!ok(ours)) {
    notes.push(`${p.name}, ours: ${ours?.error ?? 'no result'}`);
    misses.push(`${p.name}: ours failed`);
  }
}
const runCounts = [...new Set(Object.values(result).filter(ok).map((r) => r.warmMs?.length))].join(' or ');
out.push(`Warm: engine started; load the page and take its text (document.body.innerText), median of ${runCounts || '?'} runs, ms`);
out.push(table(['page', 'size', 'ours', 'chromium', 'ratio', 'QtWebEngine', 'ratio', 'ours MB/s'], warmRows));
out.push('');

// Cold figures: the first load in a freshly started engine, and the start itself.
const coldRows = PAGES.map((p) => [
  p.title,
  ...ENGINES.map((e) => {
    const r = result[`${e.name}-${p.name}`];
    return ok(r) ? fmtMs(r.coldMs) : '-';
  }),
]);
const startRow = ['engine start (median over pages)', ...ENGINES.map((e) => {
  const starts = PAGES.map((p) => result[`${e.name}-${p.name}`]).filter(ok).map((r) => r.startMs).sort((a, b) => a - b);
  return starts.length ? fmtMs(starts[Math.floor(starts.length / 2)]) : '-';
})];
out.push('Cold: first load in a freshly started engine (its start not included), ms');
out.push(table(['page', 'ours', 'chromium', 'QtWebEngine'], [...coldRows, startRow]));
out.push('');

out.push('Texts compared field by field with ours (split at the scrapers\' separators, white space at field ends ignored):');
out.push(...notes.map((n) => `  ${n}`));
out.push('');

// Sections that other measurements add: rows-NAME.json holds
// {"title", "columns", "rows", "notes"}; a hook that has not been written
// yet says so in its notes.
const extra = readdirSync(dir).filter((f) => /^rows-.*\.json$/.test(f)).sort();
for (const file of extra) {
  const section = readJson(file);
  if (!section || section.error) {
    out.push(`${file}: ${section?.error ?? 'unreadable'}`, '');
    continue;
  }
  out.push(section.title ?? file);
  if (section.columns && section.rows?.length) out.push(table(section.columns, section.rows));
  for (const n of section.notes ?? []) out.push(`  ${n}`);
  for (const g of section.misses ?? []) misses.push(g);
  out.push('');
}

const large = result['ours-large'];
const largeMbps = ok(large) ? large.bytes / 1e6 / (large.medianMs / 1e3) : null;
if (largeMbps == null) misses.push('large table page: not measured');
else if (largeMbps < GOAL_MBPS) misses.push(`large table page: ${largeMbps.toFixed(0)} MB/s (goal ${GOAL_MBPS} MB/s)`);
out.push(`Goals: ours at least ${GOAL_RATIO}x faster than both warm peers on every page; at least ${GOAL_MBPS} MB/s on the large table page` +
  (largeMbps == null ? '' : ` (${largeMbps.toFixed(0)} MB/s)`) + (extra.length ? '; and the goals of the sections above' : ''));
out.push(misses.length ? misses.map((m) => `  missed: ${m}`).join('\n') : '  all met');
console.log(out.join('\n'));
