// Drives Debian's Chromium through the dashboard as a person would: signs in from a filtered address,
// opens every view, clicks a version row, a quick range, Apply, Back and a column to sort by, downloads each
// CSV, measures the bytes of a tab change, narrows the window to a phone's and signs out, then opens the
// self-contained page, checking what the pages show against the API. Run
// by collector_dashboard_test, which starts the admin listener over its data set and writes the page from
// it; exits non-zero, with every failed check on stderr.
//
// usage: node drive.js BASE_URL TOKEN_FILE SCREENSHOT_DIR PROFILE_DIR REPORT_HTML
'use strict';

const fs = require('fs');
const http = require('http');
const path = require('path');
const zlib = require('zlib');
const puppeteer = require('puppeteer-core');

const [base, tokenFile, shots, profile, reportFile] = process.argv.slice(2);
const token = fs.readFileSync(tokenFile, 'utf8').split('\n')[0].trim();
const CHROMIUM = '/usr/bin/chromium';
const STEP_MS = 20000;
const PHONE_WIDTH = 375;
const MIN_SESSIONS = 30;
// Strong pixels of a drawn chart: the thinnest, the crash-free chart, is two weekly points.
const DRAWN_PIXELS = 300;
const CHARTS_OF_ALL_VIEWS = 12;
// The days of the data set: ten from 2024-10-04, the fifth without any hit.
const FILTER = 'from=2024-10-06&to=2024-10-12&version=1.1';
const VIEWS = ['/', '/commands', '/machines', '/versions', '/rejected'];
// What a tab change may cost on the wire once the scripts are kept.
const TAB_CHANGE_BYTES = 20000;

const failures = [];
function check(ok, what) {
  if (!ok)
    failures.push(what);
}
function same(actual, expected, what) {
  const a = JSON.stringify(actual), e = JSON.stringify(expected);
  check(a === e, what + '\n    shown:    ' + a + '\n    expected: ' + e);
}

async function api(address) {
  const r = await fetch(base + address, { headers: { Authorization: 'Bearer ' + token } });
  return { status: r.status, headers: r.headers, text: await r.text() };
}
const apiJson = async (address) => JSON.parse((await api(address)).text);

// The bytes of an answer as they come over the wire, asking for the content coding given.
function raw(url, coding) {
  return new Promise((done, fail) => {
    http.get(url, { headers: { Authorization: 'Bearer ' + token, 'Accept-Encoding': coding } }, (r) => {
      const parts = [];
      r.on('data', (p) => parts.push(p));
      r.on('end', () => done({ encoding: r.headers['content-encoding'] || null, body: Buffer.concat(parts) }));
    }).on('error', fail);
  });
}

const dayMs = 86400000;
function daysFrom(from, to) {
  const out = [];
  for (let t = Date.parse(from + 'T00:00:00Z'); t <= Date.parse(to + 'T00:00:00Z'); t += dayMs)
    out.push(new Date(t).toISOString().slice(0, 10));
  return out;
}

function csvRows(text) {
  // No value of the data set holds a comma, a quote or a line break.
  return text.split('\r\n').filter((l) => l !== '').map((l) => l.split(','));
}

// What a view shows, read in the page: its tables (with the CSV each links to, fetched as a download
// would be), its charts as Chart.js holds them, and whether it is wider than the window.
function readPage() {
  const tables = [...document.querySelectorAll('table[data-table]')].map((t) => {
    const link = t.closest('.table').querySelector('a.csv');
    return {
      name: t.dataset.table,
      keys: [...t.querySelectorAll('th')].map((th) => th.dataset.key),
      rows: [...t.querySelectorAll('tbody tr:not(.empty)')].map((tr) =>
        [...tr.querySelectorAll('td')].map((td) => td.textContent)),
      csv: link ? link.href : null,
    };
  });
  const charts = [...document.querySelectorAll('.chart')].map((box) => {
    const canvas = box.querySelector('canvas');
    const c = canvas && Chart.getChart(canvas);
    if (!c)
      return { title: box.dataset.chart, noData: (box.querySelector('.no-data') || {}).textContent || null };
    const scales = Object.values(c.scales).map((s) => ({
      id: s.id, type: s.type, ticks: s.ticks.map((t) => t.value),
    }));
    // Pixels of a strong colour where the canvas shows: the page itself is grey, the charts are not.
    const px = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let drawn = 0;
    for (let i = 0; i < px.length && canvas.getBoundingClientRect().height > 0; i += 4) {
      const max = Math.max(px[i], px[i + 1], px[i + 2]), min = Math.min(px[i], px[i + 1], px[i + 2]);
      drawn += px[i + 3] > 200 && max > 100 && max - min > 0.6 * max;
    }
    return {
      title: box.dataset.chart, type: c.config.type, labels: c.data.labels, scales, drawn,
      datasets: c.data.datasets.map((d) => ({
        label: d.label, data: d.data, samples: d.samples || null,
        colours: [].concat(d.backgroundColor),
      })),
    };
  });
  return {
    url: location.pathname + location.search,
    period: document.getElementById('period').textContent,
    tables, charts,
    error: document.body.dataset.error || null,
    notice: (document.querySelector('.notice') || {}).textContent || null,
    select: document.querySelector('select[name=version]').value,
    options: [...document.querySelectorAll('select[name=version] option')].map((o) => o.value),
    wide: document.documentElement.scrollWidth > window.innerWidth,
  };
}

// The charts follow a new window size a frame or two later.
function resized(page) {
  return page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
}

async function settled(page) {
  await page.waitForFunction(() => document.body.dataset.ready || document.body.dataset.error, { timeout: STEP_MS });
  return page.evaluate(readPage);
}

async function open(page, address) {
  await page.goto(address.startsWith('file:') ? address : base + address, { waitUntil: 'domcontentloaded', timeout: STEP_MS });
  return settled(page);
}

// A value as the CSV writes it from the text a cell shows: no grouping, a rate as a fraction, a formula
// guarded so that no spreadsheet runs it.
const PERCENT = /^crash_free|_share$/;
function plain(text, key) {
  if (PERCENT.test(key))
    return text === '–' || text.startsWith('too few') ? '' : text.replace('%', '');
  return /^[\d,]+$/.test(text) ? text.replace(/,/g, '') : /^[=+\-@]/.test(text) ? "'" + text : text;
}

// A table's CSV as a download would have it; the page may fetch nothing but its own listener, so a data:
// download is read here. The tables the served pages link to the API for are noted.
const apiTables = new Set();
async function csvOf(t) {
  if (t.csv.startsWith('data:'))
    return decodeURIComponent(t.csv.slice(t.csv.indexOf(',') + 1));
  apiTables.add(t.name);
  return (await api(new URL(t.csv).pathname + new URL(t.csv).search)).text;
}

// Each table that offers a CSV holds what the download holds, in its order, column by column.
async function checkDownloads(page, shown) {
  for (const t of shown.tables.filter((x) => x.csv)) {
    const [header, ...rows] = csvRows(await csvOf(t));
    const columns = t.keys.map((k) => header.indexOf(k));
    check(!columns.includes(-1), shown.url + ' ' + t.name + ': a column is missing from its CSV ' + header);
    const fromCsv = rows.map((r) => columns.map((i, n) => (PERCENT.test(t.keys[n]) && r[i] !== ''
      ? (Number(r[i]) * 100).toFixed(1) : r[i])));
    const value = t.keys.indexOf('value');
    const inTable = t.rows.filter((r) => value < 0 || !/ other values$/.test(r[value]))
      .map((r) => r.map((cell, n) => plain(cell, t.keys[n])));
    same(inTable, fromCsv.slice(0, inTable.length), shown.url + ': table ' + t.name + ' against its CSV');
  }
}

// Every bar names its value, in the one colour of its series; a count axis has whole ticks only; a
// chart over days has a position for each calendar day of the period; no crash-free rate stands on fewer
// than MIN_SESSIONS sessions.
function checkCharts(shown, period) {
  for (const c of shown.charts) {
    const where = shown.url + ' chart "' + c.title + '"';
    if (c.noData !== undefined) {
      check(c.noData, where + ' is neither drawn nor says why');
      continue;
    }
    const rate = /crash-free/i.test(c.title);
    for (const s of c.scales.filter((x) => x.type === 'linear' && !rate))
      check(s.ticks.every(Number.isInteger), where + ': fractional ticks ' + s.ticks);
    if (c.type === 'bar') {
      const category = c.scales.find((s) => s.type === 'category');
      same(category?.ticks.length, c.labels.length, where + ': labelled bars');
      for (const d of c.datasets)
        check(new Set(d.colours).size === 1, where + ': bars in colours ' + d.colours);
    }
    if (/per day/.test(c.title) && !rate)
      same(c.labels, daysFrom(period.from, period.to), where + ': its days');
    if (rate)
      for (const d of c.datasets)
        check(d.data.every((v, i) => v === null || d.samples?.[i] >= MIN_SESSIONS),
          where + ': ' + d.label + ' has rates over ' + d.samples + ' sessions');
  }
}

// A group of checks; one that cannot go on (an element missing, say) fails alone, and the next begins.
async function step(name, run) {
  console.error(new Date().toISOString().slice(11, 19) + ' ' + name);
  try {
    await run();
  } catch (error) {
    failures.push(name + ': ' + (error && error.message));
  }
}

async function main() {
  fs.mkdirSync(shots, { recursive: true });
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--hide-scrollbars'],
  });
  try {
    const page = await browser.newPage();
    page.on('pageerror', (error) => failures.push(page.url() + ': ' + error.message));
    await page.setViewport({ width: 1280, height: 900 });
    const shot = (name) => page.screenshot({ path: path.join(shots, 'dashboard-' + name + '.png'), fullPage: true });

    let shown;
    // Sign-in returns to the page asked for, filter and all; a return address to elsewhere is ignored.
    await step('sign-in', async () => {
      await page.goto(base + '/versions?' + FILTER, { waitUntil: 'domcontentloaded', timeout: STEP_MS });
      check(new URL(page.url()).pathname === '/login', 'no sign-in form: ' + page.url());
      await page.setViewport({ width: PHONE_WIDTH, height: 700 });
      check(!(await page.evaluate(() => document.documentElement.scrollWidth > window.innerWidth)),
        'the sign-in form is wider than a phone');
      check(await page.$('meta[name=viewport]'), 'the sign-in form has no viewport');
      await shot('login-375');
      await page.setViewport({ width: 1280, height: 900 });
      await page.type('input[name=token]', token);
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click('button[type=submit]')]);
      shown = await settled(page);
      same(shown.url, '/versions?' + FILTER, 'where sign-in returns to');
      same(shown.select, '1.1', 'the version after sign-in');
      for (const elsewhere of ['//example.org/x', 'https://example.org/', '/\\example.org', '/login']) {
        const r = await fetch(base + '/login', {
          method: 'POST', body: 'token=' + token + '&next=' + encodeURIComponent(elsewhere), redirect: 'manual',
          headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
        });
        same(r.headers.get('location'), '/', 'sign-in returning to ' + elsewhere);
      }
    });

    // Every view, over everything and over a filter, at a desktop's width and a phone's.
    await step('views', async () => {
      const everything = await apiJson('/api/report');
      const periods = {
        '': { from: everything.days[0].day, to: everything.days[everything.days.length - 1].day },
        [FILTER]: { from: '2024-10-06', to: '2024-10-12' },
      };
      let reloads = 0;
      page.on('response', (r) => {
        if (/\/static\/.*\.js(\?|$)/.test(r.url()) && (r.status() === 304 || r.fromCache()))
          ++reloads;
      });
      for (const query of Object.keys(periods))
        for (const view of VIEWS) {
          const address = view + (query ? '?' + query : '');
          shown = await open(page, address);
          check(!shown.error, address + ': ' + shown.error);
          const name = (view === '/' ? 'overview' : view.slice(1)) + (query ? '-filtered' : '');
          await shot(name);
          check(shown.period.startsWith('Days ' + periods[query].from + ' to ' + periods[query].to),
            address + ': the period line says ' + shown.period);
          checkCharts(shown, periods[query]);
          await checkDownloads(page, shown);
          await page.setViewport({ width: PHONE_WIDTH, height: 800 });
          await resized(page);
          check(!(await page.evaluate(readPage)).wide, address + ' is wider than a phone (see its -375 screenshot)');
          await shot(name + '-375');
          await page.setViewport({ width: 1280, height: 900 });
        }
      check(reloads >= 8, 'the scripts are fetched anew on each view (' + reloads + ' from the cache)');
    });

    // The figures and the tables the page derives itself.
    await step('figures', async () => {
      const everything = await apiJson('/api/report');
      shown = await open(page, '/');
      const figures = await page.$$eval('[data-figure]', (fs) => fs.map((f) => [f.dataset.figure, f.querySelector('.number').textContent]));
      same(figures.slice(0, 2), [['hits', everything.hits.accepted.toLocaleString('en-US')],
        ['clients', everything.clients.toLocaleString('en-US')]], 'the headline figures');
      // The views the collector computes, one picture each.
      for (const [address, selector, name] of [['/', '.figures + .grid', 'active-clients'],
        ['/versions', '[data-chart^="Version adoption"]', 'adoption'], ['/versions', '.table:has([data-table=release_health])', 'release-health'],
        ['/machines', '.grid + .grid', 'top-lists']]) {
        await open(page, address);
        const box = await page.$$(selector);
        check(box.length, address + ': no ' + selector);
        if (box.length)
          await box[box.length - 1].screenshot({ path: path.join(shots, 'dashboard-view-' + name + '.png') });
      }
      const downloads = [];
      for (const query of ['', '?' + FILTER]) {
        const r = await api('/api/csv/commands' + query);
        downloads.push(r.headers.get('content-disposition'));
      }
      check(downloads[0] !== downloads[1], 'filtered and unfiltered downloads are both ' + downloads[0]);
    });

    const clickTo = async (selector) => {
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click(selector)]);
      return settled(page);
    };
    await step('versions', async () => {
      // Versions: in the order of their numbers, those without sessions too; a click on a row leads to
      // its version, a quick range to the last days with data, Apply to the period chosen, Back to where
      // it was.
      shown = await open(page, '/versions');
      same(shown.options, ['', '1.0', '1.1', '1.9', '1.10', '2.0'], 'the version menu');
      same(shown.tables[0]?.rows.map((r) => r[0]), ['1.0', '1.1', '1.9', '1.10', '2.0'], 'the versions table');
      shown = await clickTo('table[data-table=versions] tbody tr:nth-child(2) td:nth-child(3)');
      same([shown.url, shown.select], ['/versions?version=1.1', '1.1'], 'a version row clicked');
      shown = await clickTo('#ranges button[data-days="7"]');
      same([shown.url, shown.select], ['/versions?version=1.1&from=2024-10-07&to=2024-10-13', '1.1'], 'the last 7 days');
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.goBack()]);
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.goBack()]);
      shown = await settled(page);
      same([shown.url, shown.select], ['/versions', ''], 'Back to before the row was clicked');
      shown = await clickTo('table[data-table=versions] tbody tr:nth-child(2) a');
      await page.$eval('input[name=from]', (i) => { i.value = '2024-10-07'; });
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click('#filter button')]);
      shown = await settled(page);
      same(shown.url, '/versions?from=2024-10-07&version=1.1', 'Apply');
      same(shown.charts[0]?.labels?.[0], '2024-10-07', 'the first day after Apply');
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.goBack()]);
      shown = await settled(page);
      same([shown.url, shown.select, await page.$eval('input[name=from]', (i) => i.value)],
        ['/versions?version=1.1', '1.1', ''], 'Back');
      // To before From is refused in the form, before anything is asked.
      await page.$eval('input[name=from]', (i) => { i.value = '2024-10-09'; });
      await page.$eval('input[name=to]', (i) => { i.value = '2024-10-08'; });
      await page.click('#filter button');
      await new Promise((r) => setTimeout(r, 300));
      same(new URL(page.url()).search, '?version=1.1', 'To before From submitted');
    });

    // A heading sorts its column, numbers as numbers and versions by their numbers; again reverses.
    await step('sort', async () => {
      for (const [view, name, key, clicks, expected] of [
        ['/commands', 'top_commands', 'reports', 1, 'descending'], ['/versions', 'versions', 'version', 2, 'descending']]) {
        shown = await open(page, view);
        const column = shown.tables.find((t) => t.name === name).keys.indexOf(key);
        // The row of the other values stays last whatever the order.
        const cells = (s) => s.tables.find((t) => t.name === name).rows.map((r) => [r[column], / other values?$/.test(r[0])]);
        const before = cells(shown);
        const heading = 'table[data-table=' + name + '] th[data-key=' + key + '] button';
        for (let i = 0; i < clicks; ++i)
          await page.click(heading);
        const after = cells(await page.evaluate(readPage));
        const value = (text) => (key === 'version' ? text : Number(text.replace(/,/g, '')));
        const order = before.filter((c) => !c[1]).sort(([a], [b]) => (key === 'version'
          ? b.localeCompare(a, 'en', { numeric: true }) : value(b) - value(a))).concat(before.filter((c) => c[1]));
        same(after, order, view + ' sorted by ' + key);
        same(await page.$eval(heading, (b) => b.parentElement.getAttribute('aria-sort')), expected, view + ' aria-sort');
      }
    });

    // A tab change once the scripts are kept: the bytes of every response it takes. The scripts come
    // gzip-compressed when the browser takes it, the same bytes once decompressed.
    await step('the wire', async () => {
      shown = await open(page, '/');
      const cdp = await page.target().createCDPSession();
      await cdp.send('Network.enable');
      let bytes = 0;
      cdp.on('Network.loadingFinished', (e) => { bytes += e.encodedDataLength; });
      shown = await clickTo('#nav a[data-view=commands]');
      await cdp.detach();
      console.log('a tab change: ' + bytes + ' bytes');
      check(bytes > 0 && bytes <= TAB_CHANGE_BYTES, 'a tab change took ' + bytes + ' bytes');
      for (const src of await page.$$eval('script[src]', (s) => s.map((e) => e.src))) {
        const [plain, packed] = [await raw(src, 'identity'), await raw(src, 'gzip')];
        same([plain.encoding, packed.encoding, packed.encoding === 'gzip' && zlib.gunzipSync(packed.body).equals(plain.body)],
          [null, 'gzip', true], src + ' compressed');
      }
    });

    // An empty period, wrong dates and a version nothing was stored for: said in words, the menu kept.
    await step('empty and wrong', async () => {
      // One client of a version, one day: a count axis of 0 to 1 still has whole ticks only.
      shown = await open(page, '/commands?version=1.9');
      checkCharts(shown, { from: '2024-10-13', to: '2024-10-13' });
      check(shown.charts.length === 1 && !shown.charts[0].noData, 'one command of 1.9 is not drawn');
      await shot('thin');
      shown = await open(page, '/?from=2030-01-01&to=2030-01-07');
      await shot('empty');
      check(shown.charts.length === 5 && shown.charts.every((c) => c.noData), 'an empty period draws charts');
      check(shown.period.startsWith('Days 2030-01-01 to 2030-01-07'), 'the empty period: ' + shown.period);
      for (const [query, field, says] of [['from=2024-13-01', 'from', '2024-13-01'], ['to=10/12/2024', 'to', '10/12/2024'],
        ['from=2024-10-10&to=2024-10-05', 'from', 'after']]) {
        shown = await open(page, '/commands?' + query);
        check(shown.error && shown.error.startsWith(field + ':') && shown.error.includes(says), query + ': ' + shown.error);
        check(await page.$eval('input[name=' + field + ']', (i) => i.getAttribute('aria-invalid') === 'true'),
          query + ': the field is not marked');
        check(await page.$('.error-box button'), query + ': no retry');
        check(shown.options.length === 6, query + ': the version menu is gone');
      }
      await shot('error');
      shown = await open(page, '/?version=9.9');
      check(shown.notice && shown.notice.includes('9.9'), 'an unknown version is not said: ' + shown.notice);
      same([shown.select, shown.options.length], ['9.9', 7], 'the menu with an unknown version');
      await shot('unknown-version');
    });

    // Signing out ends the session (that its cookie opens nothing after is the admin tests').
    await step('sign-out', async () => {
      await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click('#signout button')]);
      same(new URL(page.url()).pathname, '/login', 'after signing out');
    });

    // The file `report --html` writes: every view from the data it carries, no server behind it, each
    // table with the CSV the API gives for it, every chart drawn.
    await step('self-contained page', async () => {
      const everything = await apiJson('/api/report');
      shown = await open(page, 'file://' + reportFile);
      await shot('report-html');
      check(!shown.error, 'the self-contained page: ' + shown.error);
      checkCharts(shown, { from: everything.days[0].day, to: everything.days[everything.days.length - 1].day });
      await checkDownloads(page, shown);
      for (const t of shown.tables.filter((x) => apiTables.has(x.name)))
        same(await csvOf(t), (await api('/api/csv/' + t.name)).text, 'the self-contained ' + t.name + ' CSV');
      same(shown.tables.find((t) => t.name === 'samples')?.rows,
        (await apiJson('/api/rejected?limit=5')).samples.map((s) => [s.received, s.reason, s.body]), 'its samples');
      same(shown.charts.length, CHARTS_OF_ALL_VIEWS, 'the charts of the self-contained page');
      for (const c of shown.charts)
        check(c.drawn > DRAWN_PIXELS, 'the self-contained chart "' + c.title + '" is not drawn: ' + c.drawn);
    });
  } finally {
    await browser.close();
  }
}

// Under ctest's limit of 300 s, with the checks failed so far.
const deadline = setTimeout(() => {
  console.error('drive.js: still running after 240 s');
  for (const f of failures)
    console.error('FAILED: ' + f);
  process.exit(3);
}, 240000);
main().catch((error) => failures.push('drive.js stopped: ' + (error && error.stack))).then(() => {
  clearTimeout(deadline);
  for (const f of failures)
    console.error('FAILED: ' + f);
  console.log(failures.length ? failures.length + ' checks failed' : 'every check passed');
  process.exit(failures.length ? 1 : 0);
});
