// The product team's pages: one document whose view is chosen by the path. Everything a client sent
// (command names, renderers, rejected bodies) is put into the page as text, never as markup.
(function () {
  'use strict';

  // Saturated colours for the charts; the rest of the page stays grey.
  const COLOURS = ['#1565e0', '#e0301e', '#11a048', '#f09000', '#8a2be2', '#00a0b8', '#d81b70', '#6a9a00'];

  // The tables of values the commands view shows; the machines view shows every other one. Their order
  // and titles are the report's own ("tables").
  const COMMAND_TABLES = ['commands', 'unknown_commands'];

  const VIEWS = [
    { name: 'overview', path: '/', title: 'Overview', draw: drawOverview },
    { name: 'commands', path: '/commands', title: 'Commands', draw: drawCommands },
    { name: 'machines', path: '/machines', title: 'Machines', draw: drawMachines },
    { name: 'versions', path: '/versions', title: 'Versions', draw: drawVersions },
    { name: 'rejected', path: '/rejected', title: 'Rejected hits', draw: drawRejected },
  ];

  // The filter of the address: only the parameters the API knows, only when set.
  const filter = new URLSearchParams();
  for (const [k, v] of new URLSearchParams(location.search))
    if (['from', 'to', 'version'].includes(k) && v !== '' && !filter.has(k))
      filter.set(k, v);
  const query = filter.toString();

  // A self-contained copy of the pages carries its data with it.
  const embedded = document.getElementById('zncip-data');
  const inline = embedded ? JSON.parse(embedded.textContent) : null;

  // ---- small helpers -------------------------------------------------------------------------------

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className)
      e.className = className;
    if (text !== undefined && text !== null)
      e.textContent = String(text);
    return e;
  }

  function number(n) {
    return typeof n === 'number' ? n.toLocaleString('en-US') : '–';
  }

  function percent(rate) {
    return typeof rate === 'number' ? (rate * 100).toFixed(1) + '%' : '–';
  }

  // Where the CSV of a table comes from: the API, or, in a self-contained copy, the text the API would
  // answer, carried with the data; either way every row, each cell guarded by the collector.
  function csvLink(name) {
    const a = el('a', 'csv', 'CSV');
    if (inline) {
      a.href = 'data:text/csv;charset=utf-8,' + encodeURIComponent(inline.csv[name] || '');
      a.download = name + '.csv';
    } else {
      a.href = '/api/csv/' + name + (query ? '?' + query : '');
    }
    return a;
  }

  // A titled table; columns are {key, title, format}; csv names the table of the API, if any.
  function table(title, columns, rows, csv, name) {
    const box = el('section', 'table');
    const head = el('div', 'table-head');
    head.append(el('h3', null, title));
    if (csv)
      head.append(csvLink(csv));
    box.append(head);
    const t = el('table');
    if (csv || name)
      t.dataset.table = csv || name;
    const tr = el('tr');
    for (const c of columns)
      tr.append(el('th', c.numeric ? 'num' : c.className, c.title));
    t.appendChild(el('thead')).append(tr);
    const body = t.appendChild(el('tbody'));
    for (const r of rows) {
      const row = el('tr');
      for (const c of columns)
        row.append(el('td', c.numeric ? 'num' : c.className, c.format ? c.format(r[c.key]) : r[c.key]));
      body.append(row);
    }
    if (rows.length === 0) {
      const row = el('tr', 'empty');
      const td = el('td', null, 'Nothing reported');
      td.colSpan = columns.length;
      body.append(row);
      row.append(td);
    }
    box.append(t);
    return box;
  }

  const TALLY_COLUMNS = [
    { key: 'value', title: 'Value' },
    { key: 'reports', title: 'Reports', numeric: true, format: number },
    { key: 'clients', title: 'Clients', numeric: true, format: number },
  ];

  // A table of values; its last row may stand for the values past the top of the list ("value" null),
  // whose distinct clients no one can tell.
  function tallyTable(report, name) {
    const title = ((report.tables || []).find((t) => t.name === name) || { title: name }).title;
    const rows = (report[name] || []).map((r) => (r.value === null
      ? Object.assign({}, r, { value: number(r.values) + ' other values' }) : r));
    return table(title, TALLY_COLUMNS, rows, name);
  }

  // A chart in a box of its own; Chart.js sizes the canvas to the box.
  const charts = [];
  function chart(title, config) {
    const box = el('section', 'chart');
    box.append(el('h3', null, title));
    const holder = box.appendChild(el('div', 'canvas'));
    const canvas = holder.appendChild(el('canvas'));
    box.dataset.chart = title;
    charts.push({ canvas, config });
    return box;
  }

  function line(labels, series, yOptions) {
    return {
      type: 'line',
      data: {
        labels,
        datasets: series.map((s, i) => ({
          label: s.label,
          data: s.data,
          borderColor: COLOURS[i % COLOURS.length],
          backgroundColor: COLOURS[i % COLOURS.length],
          borderWidth: 3,
          pointRadius: labels.length > 45 ? 0 : 3, // over months the points would hide the line
          spanGaps: true,
          clip: 6, // points on the top line stay whole
          borderDash: s.dashed ? [8, 5] : [],
          order: s.dashed ? -1 : 0, // over the solid lines it may hide
        })),
      },
      options: {
        scales: { y: Object.assign({ beginAtZero: true }, yOptions || {}) },
        // A line for a key, dashed where its line is, rather than a box outlined in it.
        plugins: { legend: { labels: { usePointStyle: true, pointStyle: 'line' } } },
      },
    };
  }

  function bars(rows, valueKey, horizontal) {
    return {
      type: 'bar',
      data: {
        labels: rows.map((r) => r.label),
        datasets: [{
          label: valueKey,
          data: rows.map((r) => r.count),
          backgroundColor: rows.map((r, i) => COLOURS[i % COLOURS.length]),
          maxBarThickness: 32,
        }],
      },
      options: { indexAxis: horizontal ? 'y' : 'x', plugins: { legend: { display: false } } },
    };
  }

  function grid(...children) {
    const g = el('div', 'grid');
    g.append(...children);
    return g;
  }

  function figure(name, label, value) {
    const f = el('div', 'figure');
    f.dataset.figure = name;
    f.append(el('span', 'number', value), el('span', 'label', label));
    return f;
  }

  const days = (report) => report.days || [];

  // ---- the views -----------------------------------------------------------------------------------

  function drawOverview(report) {
    const s = report.sessions || {};
    const figures = el('div', 'figures');
    figures.append(
      figure('hits', 'Hits', number(report.hits.accepted)),
      figure('clients', 'Active clients', number(report.clients)),
      figure('sessions_started', 'Sessions started', number(s.sessions_started)),
      figure('finished', 'Sessions finished', number(s.finished)),
      figure('crash_free_rate', 'Crash-free sessions', percent(s.crash_free_rate)));

    const labels = days(report).map((d) => d.day);
    const sessions = chart('Sessions per day', line(labels, [
      { label: 'Started', data: days(report).map((d) => d.sessions_started) },
      { label: 'Finished', data: days(report).map((d) => d.finished), dashed: true },
      { label: 'Crashed', data: days(report).map((d) => d.bad) },
    ]));

    // One line per version when the days say how each version fared, else one over all versions.
    const perVersion = days(report).some((d) => (d.versions || []).some((v) => 'crash_free_rate' in v));
    let series;
    if (perVersion) {
      const names = versionNames(report);
      series = names.map((name) => ({
        label: name,
        data: days(report).map((d) => {
          const v = (d.versions || []).find((x) => x.version === name);
          return v && typeof v.crash_free_rate === 'number' ? v.crash_free_rate * 100 : null;
        }),
      }));
    } else {
      series = [{
        label: report.version || 'All versions',
        data: days(report).map((d) => (typeof d.crash_free_rate === 'number' ? d.crash_free_rate * 100 : null)),
      }];
    }
    const crashFree = chart('Crash-free sessions per day (%)', line(labels, series, { max: 100 }));

    const dayColumns = [
      { key: 'day', title: 'Day' },
      { key: 'hits', title: 'Hits', numeric: true, format: number },
      { key: 'clients', title: 'Clients', numeric: true, format: number },
      { key: 'sessions_started', title: 'Started', numeric: true, format: number },
      { key: 'finished', title: 'Finished', numeric: true, format: number },
      { key: 'good', title: 'Good', numeric: true, format: number },
      { key: 'bad', title: 'Bad', numeric: true, format: number },
      { key: 'crash_free_rate', title: 'Crash-free', numeric: true, format: percent },
    ];
    const appColumns = [
      { key: 'name', title: 'Application' },
      { key: 'version', title: 'Version' },
      { key: 'hits', title: 'Hits', numeric: true, format: number },
      { key: 'clients', title: 'Clients', numeric: true, format: number },
    ];
    return [figures, grid(sessions, crashFree), table('Per day', dayColumns, days(report), 'days'),
      table('Applications', appColumns, report.applications || [], 'applications')];
  }

  function drawCommands(report) {
    const top = (report.commands || []).slice(0, 15).map((r) => ({ label: r.value, count: r.reports }));
    return [
      chart('Most used commands', bars(top, 'Reports', true)),
      grid(...COMMAND_TABLES.map((name) => tallyTable(report, name))),
    ];
  }

  const MEMORY_BUCKETS = [
    { label: '< 4 GiB', below: 4 }, { label: '4–8 GiB', below: 8 }, { label: '8–16 GiB', below: 16 },
    { label: '16–32 GiB', below: 32 }, { label: '32–64 GiB', below: 64 }, { label: '≥ 64 GiB', below: Infinity },
  ];

  // Reports of physical memory by size in GiB. A machine sold with 8 GiB reports a little less (what
  // the firmware keeps), so sizes are rounded to whole GiB first. A value that is not a number of MiB
  // counts as unknown, and so do the values past the top of the list, which the report only sums.
  function memoryBuckets(rows) {
    const buckets = MEMORY_BUCKETS.map((b) => ({ label: b.label, count: 0 }));
    const unknown = { label: 'Unknown', count: 0 };
    for (const r of rows) {
      const mib = /^\s*\d+(\.\d+)?\s*$/.test(r.value || '') ? Number(r.value) : NaN;
      if (Number.isNaN(mib))
        unknown.count += r.reports;
      else
        buckets[MEMORY_BUCKETS.findIndex((b) => Math.round(mib / 1024) < b.below)].count += r.reports;
    }
    return unknown.count ? buckets.concat([unknown]) : buckets;
  }

  function topRows(report, name, n) {
    return (report[name] || []).slice(0, n).map((r) => ({ label: r.value, count: r.reports }));
  }

  function drawMachines(report) {
    const memory = memoryBuckets(report.memory_mib || []);
    const memoryTable = table('Physical memory (GiB)', [
      { key: 'label', title: 'Size' },
      { key: 'count', title: 'Reports', numeric: true, format: number },
    ], memory, null, 'memory_gib');
    memoryTable.querySelector('.table-head').append(csvLink('memory_mib'));
    const tables = [];
    for (const t of report.tables || []) {
      if (COMMAND_TABLES.includes(t.name))
        continue;
      if (t.name === 'memory_mib')
        tables.push(memoryTable);
      tables.push(tallyTable(report, t.name));
    }
    return [
      grid(chart('Operating systems', bars(topRows(report, 'operating_systems', 10), 'Reports', true)),
        chart('Physical memory', bars(memory, 'Reports', false)),
        chart('Screen resolutions', bars(topRows(report, 'screen_resolutions', 10), 'Reports', true)),
        chart('OpenGL renderers (core profile)', bars(topRows(report, 'opengl_renderers_core', 10), 'Reports', true))),
      grid(...tables),
    ];
  }

  function versionNames(report) {
    const names = new Set();
    for (const d of days(report))
      for (const v of d.versions || [])
        names.add(v.version);
    return Array.from(names).sort(compareVersions);
  }

  function compareVersions(a, b) {
    return a.localeCompare(b, 'en', { numeric: true });
  }

  function drawVersions(report) {
    const labels = days(report).map((d) => d.day);
    const series = versionNames(report).map((name) => ({
      label: name,
      data: days(report).map((d) => {
        const v = (d.versions || []).find((x) => x.version === name);
        return v ? v.clients : 0;
      }),
    }));
    const columns = [
      { key: 'version', title: 'Version' },
      { key: 'sessions_started', title: 'Started', numeric: true, format: number },
      { key: 'finished', title: 'Finished', numeric: true, format: number },
      { key: 'good', title: 'Good', numeric: true, format: number },
      { key: 'bad', title: 'Bad', numeric: true, format: number },
      { key: 'crash_free_rate', title: 'Crash-free', numeric: true, format: percent },
    ];
    return [chart('Clients per version per day', line(labels, series)),
      table('Sessions by version', columns, report.versions || [], 'versions')];
  }

  function drawRejected(report, rejected) {
    const reasons = (report.rejections || []).slice().sort((a, b) => b.hits - a.hits);
    const samples = (rejected && rejected.samples) || [];
    const note = report.version
      ? [el('p', 'note', 'A rejected hit carries no version that can be trusted, so these count every version.')]
      : [];
    return [
      ...note,
      chart('Rejected hits by reason', bars(reasons.slice(0, 10).map((r) => ({ label: r.reason, count: r.hits })),
        'Hits', true)),
      table('Reasons', [
        { key: 'reason', title: 'Reason' },
        { key: 'hits', title: 'Hits', numeric: true, format: number },
      ], reasons, 'rejections'),
      table('Latest samples', [
        { key: 'received', title: 'Received' },
        { key: 'reason', title: 'Reason' },
        { key: 'body', title: 'Body', className: 'raw' },
      ], samples, null, 'samples'),
    ];
  }

  // ---- the page ------------------------------------------------------------------------------------

  function currentView() {
    const path = location.pathname.replace(/\/+$/, '') || '/';
    return VIEWS.find((v) => v.path === path) || VIEWS[0];
  }

  function setUpChrome(view, versions) {
    const suffix = query ? '?' + query : '';
    for (const a of document.querySelectorAll('#nav a')) {
      a.href = a.getAttribute('href').split('?')[0] + suffix;
      a.classList.toggle('active', a.dataset.view === view.name);
    }
    const form = document.getElementById('filter');
    form.elements.from.value = filter.get('from') || '';
    form.elements.to.value = filter.get('to') || '';
    const select = form.elements.version;
    for (const v of (versions && versions.versions) || []) {
      const option = el('option', null, v);
      option.value = v;
      select.append(option);
    }
    select.value = filter.get('version') || '';
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      const next = new URLSearchParams();
      for (const k of ['from', 'to', 'version'])
        if (form.elements[k].value)
          next.set(k, form.elements[k].value);
      const q = next.toString();
      location.assign(location.pathname + (q ? '?' + q : ''));
    });
  }

  function describePeriod(report) {
    const p = document.getElementById('period');
    if (!report.from)
      p.textContent = 'Nothing was received in this period.';
    else
      p.textContent = 'Days ' + report.from + ' to ' + report.to +
        (report.version ? ', version ' + report.version + ' only' : ', all versions');
  }

  async function fetchJson(url) {
    const response = await fetch(url, { credentials: 'same-origin' });
    if (!response.ok)
      throw new Error(url.split('?')[0] + ': ' + response.status + ' ' + response.statusText);
    return response.json();
  }

  function drawCharts() {
    Chart.defaults.animation = false;
    Chart.defaults.responsive = true;
    Chart.defaults.maintainAspectRatio = false;
    Chart.defaults.color = '#333';
    Chart.defaults.borderColor = '#ddd';
    for (const c of charts) {
      new Chart(c.canvas, c.config);
      // Where the chart is on the page, for tools that look at a screenshot of it.
      const r = c.canvas.getBoundingClientRect();
      c.canvas.dataset.box = [r.left + window.scrollX, r.top + window.scrollY, r.width, r.height]
        .map(Math.round).join(',');
    }
  }

  function ready() {
    document.body.dataset.loadMs = String(Math.round(performance.now()));
    document.body.dataset.ready = '1';
  }

  async function main() {
    const main = document.getElementById('main');
    const status = document.getElementById('status');
    try {
      let report, versions, rejected;
      const view = currentView();
      if (inline) {
        ({ report, versions, rejected } = inline);
        document.body.classList.add('inline');
      } else {
        [report, versions, rejected] = await Promise.all([
          fetchJson('/api/report' + (query ? '?' + query : '')),
          fetchJson('/api/versions'),
          view.name === 'rejected' ? fetchJson('/api/rejected?' + (query ? query + '&' : '') + 'limit=5') : null,
        ]);
        setUpChrome(view, versions);
      }
      describePeriod(report);
      for (const v of inline ? VIEWS : [view]) {
        const section = el('section', 'view');
        section.dataset.view = v.name;
        section.append(el('h2', null, v.title), ...v.draw(report, rejected));
        main.append(section);
      }
      document.title = inline ? 'Usage' : 'Usage: ' + view.title;
      status.remove();
      drawCharts();
      ready();
    } catch (error) {
      status.textContent = 'The data could not be loaded: ' + error.message;
      status.className = 'error';
      main.prepend(status);
      document.body.dataset.error = error.message;
    }
  }

  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', main);
  else
    main();
})();
