// Browser tests of the web console: a real vantrel over generated sample
// images, driven through Debian's Chromium. Run by run.sh, which passes the
// paths in the environment:
//   VT_SERVER, VT_CTL, VT_SAMPLES  the programs of the build tree
//   VT_ARTEFACTS                   where screenshots and the report go
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, writeFileSync, existsSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const server = process.env.VT_SERVER;
const ctlPath = process.env.VT_CTL;
const samples = process.env.VT_SAMPLES;
const artefacts = process.env.VT_ARTEFACTS || os.tmpdir();
mkdirSync(artefacts, { recursive: true });

const root = mkdtempSync(path.join(os.tmpdir(), 'vt-browser-'));
const dirs = {
  start: path.join(root, 'start'), images: path.join(root, 'images'), index: path.join(root, 'index'),
  index2: path.join(root, 'index2'), extra: path.join(root, 'extra'),
};
for (const d of Object.values(dirs)) mkdirSync(d, { recursive: true });

function run(cmd, args) {
  const r = spawnSync(cmd, args, { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`${cmd} ${args.join(' ')}: ${r.stderr}`);
  return r.stdout;
}
const ctl = (...args) => run(ctlPath, ['--dir', dirs.start, ...args]);

async function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

async function waitFor(check, what, timeoutMs = 60000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    try { if (await check()) return; } catch (e) { /* not yet */ }
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 100));
  }
}

const results = [];
async function test(name, fn) {
  const t0 = Date.now();
  try {
    await fn();
    results.push({ name, ok: true });
    console.log(`PASS ${name} (${Date.now() - t0} ms)`);
  } catch (e) {
    results.push({ name, ok: false, error: String(e && e.stack || e) });
    console.log(`FAIL ${name}: ${e && e.stack || e}`);
  }
}
function expect(cond, message) { if (!cond) throw new Error(message); }

// --- set-up: sample images, one index, the server ---
run(samples, [dirs.images]);
ctl('index', 'add', 'Demo', dirs.index);
ctl('folder', 'add', '0', dirs.images);
ctl('index', 'set', '0', 'active', '1');
// The nightly optimization would open its dialog mid-test when run in its hour.
ctl('index', 'set', '0', 'optimize-hour', '24');
const port = await freePort();
const base = `http://127.0.0.1:${port}`;
const proc = spawn(server, ['--console', `127.0.0.1:${port}`], { cwd: dirs.start, stdio: ['ignore', 'pipe', 'pipe'] });
let serverLog = '';
proc.stdout.on('data', (d) => { serverLog += d; });
proc.stderr.on('data', (d) => { serverLog += d; });
const exited = new Promise((resolve) => proc.on('exit', (code) => resolve(code)));
await waitFor(async () => (await fetch(base + '/api/texts')).ok, 'the console to listen');

const browser = await chromium.launch({ executablePath: process.env.VT_CHROMIUM || '/usr/bin/chromium', headless: true, args: ['--no-sandbox'] });
const context = await browser.newContext({ viewport: { width: 1200, height: 900 } });
const page = await context.newPage();
page.setDefaultTimeout(30000);
const texts = (await (await fetch(base + '/api/texts')).json()).texts;

// Helpers on the page.
const answer = async (id) => {
  await page.locator(`#dialog-buttons button[data-answer="${id}"]`).click();
};
const dialogText = () => page.locator('#dialog-text').textContent();
// Waits until the open dialog's text satisfies `test` (dialogs follow each
// other after the server answered).
async function dialogShows(test, what) {
  await waitFor(async () => (await page.locator('#dialog').evaluate((d) => d.open)) && test(await dialogText()), what, 10000);
}
async function pageApi(method, url, body) {
  return page.evaluate(async ([m, u, b]) => {
    const s = await (await fetch('/api/session')).json();
    const r = await fetch(u, { method: m, headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': s.csrf }, body: JSON.stringify(b || {}) });
    return { status: r.status, body: await r.json() };
  }, [method, url, body]);
}
// The test's own reads carry a header so that routes of the page's reads can
// tell them apart.
const config = async () => (await page.evaluate(async () => (await fetch('/api/config', { headers: { 'X-Test-Probe': '1' } })).json()));
const shot = (name) => page.screenshot({ path: path.join(artefacts, `console-${name}.png`), fullPage: true });

async function chooseInDialog(folder) {
  await page.locator('#field-path').fill(folder);
  await answer('select');
}

const latencies = [];

// The first status is held back, so the start-up logo can be seen.
let releaseStatus;
const statusHeld = new Promise((resolve) => { releaseStatus = resolve; });
await page.route('**/api/status', async (route) => { await statusHeld; await route.continue(); });
await page.goto(base + '/');

await test('the logo shows while the first status loads, then the page', async () => {
  await waitFor(() => page.locator('#splash img').evaluate((img) => img.complete && img.naturalWidth > 0), 'the logo', 10000);
  expect(await page.locator('#splash').isVisible(), 'splash shown');
  expect((await page.locator('#splash img').getAttribute('src')) === '/logo.svg', 'the logo file');
  await shot('splash');
  releaseStatus();
  await page.waitForSelector('body[data-ready="true"]');
  expect(await page.locator('#splash').count() === 0, 'splash gone once the status is shown');
});
releaseStatus();
await page.unroute('**/api/status');
await page.waitForSelector('body[data-ready="true"]');

await test('status tab shows the event log, the activity lines and the totals', async () => {
  await waitFor(async () => (await page.locator('#event-log').textContent()).includes(texts.IDS_STARTED), 'the start line');
  const activity = await page.locator('#activity').textContent();
  for (const k of ['IDS_ACTIVITY', 'IDS_LASTSCAN', 'IDS_LASTINDEX', 'IDS_LASTSEARCH']) expect(activity.includes(texts[k]), k);
  const totals = await page.locator('#totals').textContent();
  for (const k of ['IDS_DISKS', 'IDS_DATABASE', 'IDS_MEMORY']) expect(totals.includes(texts[k].trim()), k);
  expect((await page.locator('#tab-status').textContent()) === 'Status', 'fixed tab label');
  await shot('status');
});

await test('the Log File dialog takes its folder from the folder chooser, creating one', async () => {
  await page.locator('#btn-log-file').click();
  await page.locator('#dialog-buttons button[data-answer="browse"]').click();
  await page.waitForSelector('#folder-chooser');
  await page.locator('#field-path').fill(root);
  await answer('open');
  await waitFor(async () => (await dialogText()) === root, 'the root listed', 10000);
  await answer('create');
  await page.locator('#field-text').fill('logs');
  await answer('ok');
  const logs = path.join(root, 'logs');
  await waitFor(async () => (await dialogText()) === logs, 'the new folder listed', 10000);
  await answer('select');
  await waitFor(async () => (await page.locator('#field-folder').inputValue()) === logs, 'the folder field filled', 10000);
  expect(await page.locator('#field-use').isVisible(), 'back in the Log File dialog');
  await answer('ok');
  await waitFor(async () => (await config()).log.folder === logs, 'the log folder stored', 10000);
  expect(existsSync(logs), 'the folder was created');
});

await test('a rebuild asked from the menu shows up in the event log live', async () => {
  await page.locator('#menu-index').click();
  await page.locator('#cmd-rebuild').click();
  await dialogShows((t) => t.includes('Rebuild'), 'the menu item text as the question');
  await answer('yes');
  await waitFor(async () => (await page.locator('#event-log').textContent()).includes('rebuild requested'), 'the rebuild line', 10000);
});

await test('a status message reaches the page within 250 ms', async () => {
  for (let i = 0; i < 5; i++) {
    const ms = await page.evaluate(async (n) => {
      const s = await (await fetch('/api/session')).json();
      const box = document.getElementById('event-log');
      const seen = new Promise((resolve) => {
        const obs = new MutationObserver(() => {
          if (box.textContent.includes(`requested for index ${n}`)) { obs.disconnect(); resolve(performance.now()); }
        });
        obs.observe(box, { childList: true, subtree: true });
      });
      const t0 = performance.now();
      await fetch('/api/tasks', { method: 'POST', headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': s.csrf }, body: JSON.stringify({ task: 'rescan', index: n }) });
      return (await seen) - t0;
    }, (i % 2) + 1);
    latencies.push(ms);
  }
  latencies.sort((a, b) => a - b);
  expect(latencies[2] < 250, 'median latency ' + latencies[2] + ' ms');
});

await test('every tab shows its pane', async () => {
  await page.locator('#tab-config').click();
  await page.waitForSelector('#pane-config:not([hidden])');
  // The list is filled when the configuration read that the tab starts comes back.
  await waitFor(async () => (await page.locator('#index-list').textContent()).includes('Demo'), 'index list', 10000);
  await shot('configuration');
  await page.locator('#tab-stats').click();
  await page.waitForSelector('#pane-stats:not([hidden])');
  await waitFor(async () => (await page.locator('#stats-lines').textContent()).includes(texts.IDS_SEARCHDATA.trim()), 'statistics lines');
  expect(await page.locator('#stats-list .active').count() === 1, 'the active index is coloured active');
  await shot('statistics');
  await page.locator('#tab-search').click();
  await page.waitForSelector('#pane-search:not([hidden])');
});

// Routes the page's requests to `glob`: the first gets `body` as its answer,
// held back until answerAndUnroute(), which gives it, lets the page show
// what it will, and ends the routing; later requests go to the server.
// count() tells how many were made.
async function holdFirstAnswer(glob, body) {
  let release;
  const held = new Promise((r) => { release = r; });
  let answered;
  const done = new Promise((r) => { answered = r; });
  let count = 0;
  await page.route(glob, async (route) => {
    if (++count !== 1) return route.continue();
    await held;
    await route.fulfill({ contentType: 'application/json', body: JSON.stringify(body) });
    answered();
  });
  return {
    count: () => count,
    answerAndUnroute: async () => {
      release();
      await done;
      await page.waitForTimeout(300);
      await page.unroute(glob);
    },
  };
}

await test('the search page shows hits with pictures', async () => {
  await page.locator('#tab-search').click();
  await page.waitForSelector('#pane-search:not([hidden])');
  await page.locator('#search-query').fill('harbour');
  // The rescans asked above may still be re-reading the index: ask again
  // until the hits are back.
  await waitFor(async () => {
    await page.locator('#search-go').click();
    await page.waitForTimeout(1000);
    return (await page.locator('#search-hits .hit').count()) > 0;
  }, 'hits', 90000);
  await waitFor(() => page.locator('#search-hits img').first().evaluate((img) => img.complete && img.naturalWidth > 0), 'a picture');
  const line = await page.locator('#search-message').textContent();
  const found = new RegExp('^[1-9][0-9]* ' + texts.IDS_HITSFOUND.trim() + ' [0-9]+\\.[0-9]{3} ' + texts.IDS_SECONDS.trim() + '$');
  expect(found.test(line), 'the search line: ' + line);
  await page.locator('#search-hits .hit').first().click();
  await waitFor(async () => (await page.locator('#search-inspect').textContent()).includes('Caption/Abstract'), 'the inspect text', 10000);
  await shot('search');

  // A search that answers after a later one began shows nothing: its
  // answer (one hit named stale.jpg here) is held until the later one has
  // answered.
  const search = await holdFirstAnswer('**/api/search?*', { found: 1, seconds: 0.001,
    hits: [{ key: '00stale.jpg', name: 'stale.jpg', date: '', time: 0, type: 'JPEG', path: '', client_names: {} }] });
  await page.locator('#search-go').click();
  await waitFor(async () => search.count() === 1, 'the first search on its way', 10000);
  // The later search, asked again while a rescan asked above still
  // prepares the index (the answer then has no hits).
  await waitFor(async () => {
    await page.locator('#search-go').click();
    await page.waitForTimeout(1000);
    return (await page.locator('#search-hits .hit').count()) > 0;
  }, 'the later answer', 90000);
  const secondLine = await page.locator('#search-message').textContent();
  await search.answerAndUnroute();
  expect(!(await page.locator('#search-hits').textContent()).includes('stale.jpg'), 'the earlier answer mixed in');
  expect((await page.locator('#search-message').textContent()) === secondLine, 'the line of the later search stays');

  // The same for the inspect pane: the first inspection's answer comes last.
  const inspect = await holdFirstAnswer('**/api/inspect?*', { text: 'STALE INSPECTION' });
  await page.locator('#search-hits .hit').first().click();
  await waitFor(async () => inspect.count() === 1, 'the first inspection on its way', 10000);
  await page.locator('#search-hits .hit').last().click();
  await waitFor(async () => (await page.locator('#search-inspect').textContent()).includes('Caption/Abstract'), 'the second inspection', 10000);
  await inspect.answerAndUnroute();
  expect(!(await page.locator('#search-inspect').textContent()).includes('STALE INSPECTION'), 'the earlier inspection shown');
});

await test('edit mode: answering No changes nothing, Yes turns it on without a password', async () => {
  await page.locator('#tab-config').click();
  await page.locator('#btn-edit').click();
  await dialogShows((t) => t.includes(texts.IDS_EDITON.split('\r')[0].trim()), 'the edit-on question');
  await answer('no');
  expect(!(await page.evaluate(async () => (await fetch('/api/session')).json())).edit.on, 'still off');
  expect((await page.locator('#btn-edit').textContent()) === texts.IDS_ENABLESETUP, 'label unchanged');
  await page.locator('#btn-edit').click();
  await answer('yes');
  await waitFor(async () => (await page.locator('#btn-edit').textContent()) === texts.IDS_DISABLESETUP, 'Disable Edit');
});

await test('a second browser session sees who edits and cannot edit', async () => {
  const other = await browser.newContext();
  const p2 = await other.newPage();
  await p2.goto(base + '/');
  await p2.waitForSelector('body[data-ready="true"]');
  await p2.locator('#tab-config').click();
  expect(await p2.locator('#btn-edit').isDisabled(), 'edit button disabled');
  expect((await p2.locator('#edit-holder').textContent()).includes('held by'), 'holder shown');
  await waitFor(() => p2.locator('#opt-md-xmp').isChecked(), 'metadata switches read', 10000);
  expect(await p2.locator('#opt-md-xmp').isDisabled(), 'metadata switches not editable');
  const r = await p2.evaluate(async () => {
    const s = await (await fetch('/api/session')).json();
    const res = await fetch('/api/folders', { method: 'POST', headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': s.csrf }, body: JSON.stringify({ action: 'remove', index: 1, folder: 1 }) });
    return res.status;
  });
  expect(r === 409, 'a change from the second session is refused, got ' + r);
  await other.close();
});

await test('adding an index and an image folder; a folder holding the index folder is refused', async () => {
  await page.locator('#btn-new-index').click();
  await page.locator('#field-text').fill('Second');
  await answer('ok');
  await chooseInDialog(dirs.index2);
  await waitFor(async () => (await config()).indexes.length === 2, 'the new index');
  await waitFor(async () => (await page.locator('#index-list').textContent()).includes('Second'), 'the index listed', 10000);
  // Nested: the root holds index2.
  await page.locator('#btn-add-path').click();
  await chooseInDialog(root);
  await dialogShows((t) => t.includes(texts.IDS_BADNESTED.split('\n')[0]), 'nested refusal text');
  await answer('ok');
  expect((await config()).indexes[1].folders.length === 1, 'nothing added');
  await page.locator('#btn-add-path').click();
  await chooseInDialog(dirs.extra);
  await answer('ok');  // include subfolders
  await page.locator('#field-text').fill('\\\\SRV\\EXTRA');
  await answer('ok');
  await answer('ok');  // no Macintosh name
  await waitFor(async () => (await config()).indexes[1].folders.length === 2, 'the image folder');
  const f = (await config()).indexes[1].folders[1];
  expect(f.path === dirs.extra && f.windows === '\\\\SRV\\EXTRA', JSON.stringify(f));
  await waitFor(async () => (await page.locator('#folder-list').textContent()).includes(dirs.extra), 'the folder listed', 10000);
});

// Turns two metadata switches off, one after the other. The page's read of
// the configuration that follows the first change is held and answers (with
// the second switch still on) either while the second change is on its way
// to the server, or after the second change's own read. The page must never
// show that stale answer: the switch just turned off stays off.
async function turnOffAgainstAStaleRead(first, second, staleArrives) {
  let releaseStale;
  const staleHeld = new Promise((r) => { releaseStale = r; });
  let staleAnswered;
  const staleDone = new Promise((r) => { staleAnswered = r; });
  let reads = 0;
  let shownDuringChange = null;
  await page.route('**/api/config', async (route) => {
    if (route.request().method() !== 'GET' || route.request().headers()['x-test-probe']) return route.continue();
    const n = ++reads;
    const response = await route.fetch();
    if (n === 1) await staleHeld;
    await route.fulfill({ response });
    if (n === 1) staleAnswered();
    if (n === 2) releaseStale();
  });
  await page.route('**/api/options', async (route) => {
    const response = await route.fetch();
    const body = route.request().postDataJSON();
    if (staleArrives === 'during the second change' && body.metadata && body.metadata[second] === false) {
      releaseStale();
      await staleDone;
      await page.waitForTimeout(200);
      shownDuringChange = await page.locator('#opt-md-' + second).isChecked();
    }
    await route.fulfill({ response });
  });
  await page.locator('#opt-md-' + first).uncheck();
  await waitFor(async () => !(await config()).indexes[1].options.metadata[first], first + ' off stored', 10000);
  await waitFor(async () => reads === 1, 'the first read on its way', 10000);
  await page.locator('#opt-md-' + second).click();
  await waitFor(async () => !(await config()).indexes[1].options.metadata[second], second + ' off stored', 10000);
  await staleDone;
  await page.waitForTimeout(300);
  await page.unroute('**/api/config');
  await page.unroute('**/api/options');
  if (staleArrives === 'during the second change') {
    expect(shownDuringChange === false, second + ' shown off while its change was on its way');
  }
  for (const name of [first, second]) {
    expect(!(await page.locator('#opt-md-' + name).isChecked()), name + ' stays off after the stale read');
  }
}

await test('the options page follows its spin rules', async () => {
  await page.locator('#page-chooser').selectOption('options');
  await pageApi('POST', '/api/options', { index: 2, optimize_hour: 23, space_limit_mb: 10, browse_limit_on: true, browse_limit: 2000 });
  await page.locator('#index-list div').nth(1).click();
  await waitFor(async () => (await page.locator('#opt-hour').textContent()) === '23:00', 'hour 23', 10000);
  const hour = page.locator('#opt-hour');
  for (const want of ['24:00', '00:00', '01:00']) {
    await page.locator('#opt-hour-up').click();
    await waitFor(async () => (await hour.textContent()) === want, 'hour ' + want, 10000);
  }
  await page.locator('#opt-hour-down').click();
  await waitFor(async () => (await hour.textContent()) === '00:00', 'hour down', 10000);
  await page.locator('#opt-space-down').click();
  await waitFor(async () => (await page.locator('#opt-space-mb').textContent()) === '5 MByte', '5 MB', 10000);
  await page.locator('#opt-space-down').click();
  await page.waitForTimeout(300);
  expect((await config()).indexes[1].options.space_limit_mb === 5, 'never below 5');
  await page.locator('#opt-browse-down').click();
  expect((await page.locator('#opt-browse-max').textContent()) === '2000', '2000 does not go down');
  await page.locator('#opt-browse-up').click();
  expect((await page.locator('#opt-browse-max').textContent()) === '2250', 'up by 250');
  await page.locator('#opt-browse-down').click();
  expect((await page.locator('#opt-browse-max').textContent()) === '2000', '2250 goes down to 2000');
  await page.locator('#opt-threshold').fill('12a');
  await page.waitForTimeout(300);
  expect((await config()).indexes[1].options.unused_threshold === 0, 'typing 12a stores nothing');
  await page.locator('#opt-space').uncheck();
  await waitFor(() => page.locator('#opt-space-up').isDisabled(), 'space arrows disabled', 10000);
  for (const name of ['xmp', 'charset', 'dimensions', 'dates']) expect(await page.locator('#opt-md-' + name).isChecked(), name + ' on');
  await turnOffAgainstAStaleRead('xmp', 'dates', 'during the second change');
  await turnOffAgainstAStaleRead('charset', 'dimensions', 'after the newer read');
  const m = (await config()).indexes[1].options.metadata;
  expect(!m.xmp && !m.charset && !m.dimensions && !m.dates, 'switches stored: ' + JSON.stringify(m));
  await shot('options');
});

await test('the PDF options refuse sizes below 100 and show the old value again', async () => {
  await page.locator('#page-chooser').selectOption('pdf');
  const old = (await config()).pdf.thumbnail_size;
  await page.locator('#pdf-thumb').fill('50');
  await page.locator('#pdf-thumb').press('Tab');
  await waitFor(async () => (await page.locator('#pdf-thumb').inputValue()) === String(old), 'old value', 10000);
  expect((await config()).pdf.thumbnail_size === old, 'unchanged');
  await page.locator('#pdf-thumb').fill('200');
  await page.locator('#pdf-thumb').press('Tab');
  await waitFor(async () => (await config()).pdf.thumbnail_size === 200, '200 stored', 10000);
  await shot('pdf');
});

await test('passwords: cut to 15 characters, asked when edit turns on, a wrong one refused', async () => {
  const long = 'abcdefghijklmnopqrst';  // 20 characters
  await page.locator('#btn-password').click();
  await page.locator('#field-new').pressSequentially(long);
  await page.locator('#field-confirm').pressSequentially(long);
  expect((await page.locator('#field-new').getAttribute('type')) === 'password', 'masked');
  await answer('ok');
  await waitFor(async () => (await config()).password_set, 'password stored', 10000);
  await page.locator('#btn-edit').click();
  await dialogShows((t) => t.includes(texts.IDS_EDITOFF.split('\r')[0].trim()), 'the edit-off question');
  await answer('yes');
  await waitFor(async () => (await page.locator('#btn-edit').textContent()) === texts.IDS_ENABLESETUP, 'edit off');
  await page.locator('#btn-edit').click();
  await answer('yes');
  await page.locator('#field-password').pressSequentially('wrong');
  await answer('ok');
  await dialogShows((t) => t === texts.IDS_BADPASSWORD, 'bad password text');
  await answer('ok');
  expect((await page.locator('#btn-edit').textContent()) === texts.IDS_ENABLESETUP, 'still off');
  await page.locator('#btn-edit').click();
  await answer('yes');
  await page.locator('#field-password').pressSequentially(long);
  expect((await page.locator('#field-password').inputValue()).length === 15, 'the field takes 15');
  await answer('ok');
  await waitFor(async () => (await page.locator('#btn-edit').textContent()) === texts.IDS_DISABLESETUP, 'edit on with the cut password');
});

await test('leaving the Configuration tab in edit mode asks; No keeps edit mode', async () => {
  await page.locator('#tab-status').click();
  await answer('no');
  expect(!(await page.locator('#pane-config').isHidden()), 'configuration still shown');
  await page.locator('#tab-status').click();
  await answer('yes');
  await page.waitForSelector('#pane-status:not([hidden])');
  expect(!(await page.evaluate(async () => (await fetch('/api/session')).json())).edit.on, 'edit off');
});

await test('About shows the logo and the build', async () => {
  await page.locator('#menu-about').click();
  await page.locator('#cmd-about').click();
  expect((await page.locator('#about-build').textContent()).startsWith('Build '), 'build line');
  await shot('about');
  await answer('ok');
});

await test('Exit asks, then the server stops and keeps what was edited', async () => {
  await page.locator('#menu-file').click();
  await page.locator('#cmd-exit').click();
  await dialogShows((t) => t === texts.IDS_AREYOUSURE, 'the quit question');
  await answer('cancel');
  expect(proc.exitCode === null, 'Cancel keeps the server');
  // Jobs waiting (the count is the server's; faked here, since queuing PDF
  // thumbnails needs the renderer): the thumbnail question comes, and No goes
  // to the server with the stop.
  let exitBody = null;
  await page.route('**/api/exit', async (route) => {
    if (route.request().method() === 'GET') {
      await route.fulfill({ contentType: 'application/json', body: JSON.stringify({ thumbnails_queued: 2 }) });
    } else {
      exitBody = route.request().postDataJSON();
      await route.continue();
    }
  });
  await page.locator('#menu-file').click();
  await page.locator('#cmd-exit').click();
  await answer('ok');
  await dialogShows((t) => t === texts.IDS_WAITFORPDFTHUMBS, 'the thumbnail question');
  await answer('no');
  await page.waitForSelector('#stopped');
  expect(exitBody && exitBody.wait_for_thumbnails === false, 'the answer sent: ' + JSON.stringify(exitBody));
  // The time-out must not keep node running once the server has exited.
  const code = await Promise.race([exited, new Promise((r) => setTimeout(() => r('timeout'), 120000).unref())]);
  expect(code === 0, 'exit status ' + code);
  const shown = ctl('config', 'show');
  expect(shown.includes('Second') && shown.includes(dirs.extra), 'saved configuration');
});

await browser.close();
if (proc.exitCode === null) proc.kill('SIGTERM');
const failed = results.filter((r) => !r.ok);
const report = { passed: results.length - failed.length, failed: failed.length, latency_ms: latencies, results };
writeFileSync(path.join(artefacts, 'console-browser-report.json'), JSON.stringify(report, null, 2));
console.log(`latency status message -> page (ms): ${latencies.map((x) => x.toFixed(1)).join(', ')}`);
console.log(`${report.passed} passed, ${report.failed} failed; screenshots in ${artefacts}`);
writeFileSync(path.join(artefacts, 'console-server-output.txt'), serverLog);
process.exit(failed.length ? 1 : 0);
