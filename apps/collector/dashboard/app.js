// The product team's pages: one document whose view is chosen by the path. Everything a client sent
// (command names, renderers, rejected bodies) is put into the page as text, never as markup. One file
// past 400 lines, since the self-contained page carries exactly the scripts the listener serves.
(function () {
  'use strict';

  // Saturated colours for the charts' lines, one for each series; the rest of the page stays grey. A bar
  // chart is one series, so one colour: a colour per bar would say nothing.
  const COLOURS = ['#1565e0', '#e0301e', '#11a048', '#f09000', '#8a2be2', '#00a0b8', '#d81b70', '#6a9a00'];
  const BAR_COLOUR = COLOURS[0];

  const DAY_MS = 86400000;
  const MAX_CALENDAR_DAYS = 3660; // a chosen period past this is drawn over its days with data only

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
  const params = new URLSearchParams(location.search);
  const filter = new URLSearchParams();
  for (const [k, v] of params)
    if (['from', 'to', 'version'].includes(k) && v !== '' && !filter.has(k))
      filter.set(k, v);
  const query = filter.toString();
  // The rest of the address is the page's own: the command picked in the commands view, and the sort of
  // each table as "table:key", "table:-key" descending.
  const pickedCommand = params.get('command') || '';
  const sorts = new Map(params.getAll('sort').filter((s) => s.includes(':'))
    .map((s) => [s.slice(0, s.lastIndexOf(':')), s.slice(s.lastIndexOf(':') + 1)]));

  // An address of the pages with the filter, changed by changes (an empty value drops the parameter).
  function address(path, changes) {
    const q = new URLSearchParams(filter);
    for (const [k, v] of Object.entries(changes))
      if (v)
        q.set(k, v);
      else
        q.delete(k);
    const text = q.toString();
    return path + (text ? '?' + text : '');
  }

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

  // The name a download is saved under, with the filter in it as the API names its own.
  function downloadName(name) {
    let file = name;
    if (filter.has('from'))
      file += '_from-' + filter.get('from');
    if (filter.has('to'))
      file += '_to-' + filter.get('to');
    if (filter.has('version'))
      file += '_version-' + filter.get('version').slice(0, 40).replace(/[^A-Za-z0-9.-]/g, '_');
    return file + '.csv';
  }

  // Where the CSV of a table comes from: the API, or, in a self-contained copy, the text the API would
  // answer, carried with the data; either way every row, each cell guarded by the collector.
  function csvLink(name) {
    const a = el('a', 'csv', 'CSV');
    if (inline) {
      a.href = 'data:text/csv;charset=utf-8,' + encodeURIComponent(inline.csv[name] || '');
      a.download = downloadName(name);
    } else {
      a.href = '/api/csv/' + name + (query ? '?' + query : '');
    }
    return a;
  }

  // How two values of a column compare: numbers as numbers, versions by their numbers (1.10 after 1.9),
  // other text as words.
  function compareCells(key, a, b) {
    if (typeof a === 'number' && typeof b === 'number')
      return a - b;
    return key === 'version' ? compareVersions(String(a), String(b)) : String(a).localeCompare(String(b), 'en');
  }

  // Where a click on a row with this value leads: the same view of that version, or the commands view
  // of that command; over the same days either way.
  function pickAddress(kind, value) {
    return kind === 'version' ? address(location.pathname, { version: value })
      : address('/commands', { command: value });
  }

  // The sorts of the tables into the address, replacing its entry: a reload or a copied address keeps
  // them, Back does not step through them.
  function keepSorts() {
    const q = new URLSearchParams(location.search);
    q.delete('sort');
    for (const [t, sort] of sorts)
      q.append('sort', t + ':' + sort);
    history.replaceState(history.state, '', location.pathname + '?' + q.toString());
  }

  // A titled table; columns are {key, title, format, numeric, filter}; csv names the table of the API,
  // if any. A column with filter ('version' or
  // 'command') makes each row lead to the pages filtered by its value, and a command picked in the
  // address leaves only its row. A click on a heading sorts by the column (numbers largest first, text
  // from A), again reverses; a pinned row (the values past the top of a list) stays last.
  function table(title, columns, rows, csv, name) {
    const id = csv || name || title;
    const box = el('section', 'table');
    const head = el('div', 'table-head');
    head.append(el('h3', null, title));
    if (csv)
      head.append(csvLink(csv));
    box.append(head);
    const t = el('table');
    if (csv || name)
      t.dataset.table = csv || name;
    const byCommand = columns.find((c) => c.filter === 'command');
    const shown = pickedCommand && byCommand ? rows.filter((r) => r[byCommand.key] === pickedCommand) : rows;
    const tr = el('tr');
    const body = el('tbody');
    const fill = () => {
      const sort = sorts.get(id) || '';
      const key = sort.replace(/^-/, ''), sign = sort.startsWith('-') ? -1 : 1;
      const ordered = columns.some((c) => c.key === key)
        ? shown.slice().sort((a, b) => (!!a.pinned - !!b.pinned) || ((a[key] == null) - (b[key] == null)) ||
          sign * compareCells(key, a[key], b[key]))
        : shown;
      body.replaceChildren(...ordered.map((r) => tableRow(columns, r)));
      for (const th of tr.children)
        if (th.dataset.key === key)
          th.setAttribute('aria-sort', sign < 0 ? 'descending' : 'ascending');
        else
          th.removeAttribute('aria-sort');
      if (ordered.length === 0) {
        const row = el('tr', 'empty');
        const td = el('td', null, 'Nothing reported');
        td.colSpan = columns.length;
        body.append(row);
        row.append(td);
      }
    };
    for (const c of columns) {
      const th = el('th', c.numeric ? 'num' : c.className);
      th.dataset.key = c.key;
      const button = th.appendChild(el('button', 'sort', c.title));
      button.type = 'button';
      button.addEventListener('click', () => {
        const sort = sorts.get(id) || '';
        const first = (c.numeric ? '-' : '') + c.key;
        sorts.set(id, sort.replace(/^-/, '') !== c.key ? first : sort.startsWith('-') ? c.key : '-' + c.key);
        if (!inline)
          keepSorts();
        fill();
      });
      tr.append(th);
    }
    t.appendChild(el('thead')).append(tr);
    t.append(body);
    fill();
    const scroller = el('div', 'scroll');
    scroller.append(t);
    box.append(scroller);
    return box;
  }

  // A row of a table; the whole row leads where its link does.
  function tableRow(columns, r) {
    const row = el('tr');
    let href = null;
    for (const c of columns) {
      const link = c.link ? c.link(r)
        : c.filter && !inline && !r.pinned && r[c.key] != null ? pickAddress(c.filter, r[c.key]) : null;
      const td = el('td', c.numeric ? 'num' : c.className, link ? null : c.format ? c.format(r[c.key]) : r[c.key]);
      if (link) {
        const a = td.appendChild(el('a', null, r[c.key]));
        a.href = href = link;
      }
      row.append(td);
    }
    if (href) {
      row.classList.add('pick');
      row.addEventListener('click', (event) => {
        if (!event.target.closest('a'))
          location.assign(href);
      });
    }
    return row;
  }

  // A chart in a box of its own; Chart.js sizes the canvas to the box. A chart with nothing to draw
  // says so in words (empty: why) rather than drawing a blank grid with made-up axes.
  const charts = [];
  const NO_DATA = 'No data in this period.';
  function chart(title, config, note) {
    const box = el('section', 'chart');
    box.append(el('h3', null, title));
    box.dataset.chart = title;
    const values = config.data.datasets.flatMap((d) => d.data);
    if (config.empty || !values.some((v) => typeof v === 'number' && v !== 0)) {
      box.append(el('p', 'no-data', config.empty || NO_DATA));
      return box;
    }
    const holder = box.appendChild(el('div', 'canvas'));
    if (config.height)
      holder.style.height = config.height + 'px';
    const canvas = holder.appendChild(el('canvas'));
    if (note)
      box.append(el('p', 'note', note));
    charts.push({ canvas, config });
    return box;
  }

  // A count never has a fractional tick.
  const COUNT_AXIS = { beginAtZero: true, ticks: { precision: 0 } };

  function line(labels, series, yOptions) {
    return {
      type: 'line',
      data: {
        labels,
        datasets: series.map((s, i) => ({
          label: s.label,
          data: s.data,
          samples: s.samples, // the finished sessions behind each rate, for the tooltip
          borderColor: COLOURS[i % COLOURS.length],
          backgroundColor: COLOURS[i % COLOURS.length],
          // A dashed line lies over the solid ones, thinner, so that both show where they are equal.
          borderWidth: s.dashed ? 2 : 4,
          pointRadius: labels.length > 45 ? 0 : 3, // over months the points would hide the line
          spanGaps: false, // a day without a value is a gap, not a line across it
          clip: 6, // points on the top line stay whole
          borderDash: s.dashed ? [6, 4] : [],
          order: s.dashed ? -1 : 0,
        })),
      },
      options: {
        scales: { y: Object.assign({}, COUNT_AXIS, yOptions || {}) },
        plugins: {
          // A line for a key, dashed where its line is, rather than a box outlined in it.
          // In the order of the series, whichever is drawn on top.
          legend: { labels: { usePointStyle: true, pointStyle: 'line', sort: (a, b) => a.datasetIndex - b.datasetIndex } },
          tooltip: {
            callbacks: {
              label: (item) => {
                const n = item.dataset.samples && item.dataset.samples[item.dataIndex];
                return item.dataset.label + ': ' + number(item.parsed.y) +
                  (typeof n === 'number' ? ' % of ' + number(n) + ' finished sessions' : '');
              },
            },
          },
        },
      },
    };
  }

  // Every bar carries its name (none skipped to save room), in one colour, on a count axis.
  function bars(rows, valueKey, horizontal) {
    const category = { ticks: { autoSkip: false } };
    return {
      type: 'bar',
      height: horizontal ? Math.max(280, 40 + rows.length * 22) : 0,
      data: {
        labels: rows.map((r) => r.label),
        datasets: [{
          label: valueKey,
          data: rows.map((r) => r.count),
          backgroundColor: BAR_COLOUR,
          maxBarThickness: 32,
        }],
      },
      options: {
        indexAxis: horizontal ? 'y' : 'x',
        scales: horizontal ? { x: COUNT_AXIS, y: category } : { x: category, y: COUNT_AXIS },
        plugins: { legend: { display: false } },
      },
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

  // The views drawn from the report's own computed figures (views.js), with this page's helpers.
  const views = window.zncipViews({ el, chart, line, bars, table, figure, grid, number, percent, csvLink, COLOURS,
    COMMAND_TABLES });

  const dayNumber = (text) => Date.UTC(+text.slice(0, 4), +text.slice(5, 7) - 1, +text.slice(8, 10)) / DAY_MS;
  const dayText = (n) => new Date(n * DAY_MS).toISOString().slice(0, 10);

  // The period the page shows: the days chosen, an end not chosen taken from the days with accepted
  // hits (rejected hits count for every version, so they do not stretch it). Null when neither says.
  function shownPeriod(report) {
    const held = days(report);
    let from = (!inline && filter.get('from')) || (held.length ? held[0].day : null);
    let to = (!inline && filter.get('to')) || (held.length ? held[held.length - 1].day : null);
    if (!from && !to)
      return null;
    from = from || to;
    to = to || from;
    return from <= to ? { from, to } : { from: to, to: from };
  }

  // Every calendar day of the period, one x position each, so that a day without hits stays on the
  // axis; a period chosen wider than any use is cut to its days with data.
  function calendar(report) {
    const p = shownPeriod(report);
    if (!p)
      return [];
    let first = dayNumber(p.from), last = dayNumber(p.to);
    const held = days(report);
    if (last - first >= MAX_CALENDAR_DAYS && held.length)
      first = dayNumber(held[0].day), last = dayNumber(held[held.length - 1].day);
    const out = [];
    for (let d = first; d <= last && out.length < MAX_CALENDAR_DAYS; ++d)
      out.push(dayText(d));
    return out;
  }

  function byDay(report) {
    return new Map(days(report).map((d) => [d.day, d]));
  }

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

    // A day of the period without hits had no sessions: zero is true there.
    const labels = calendar(report);
    const held = byDay(report);
    const count = (key) => labels.map((day) => (held.has(day) ? held.get(day)[key] || 0 : 0));
    const sessions = chart('Sessions per day', line(labels, [
      { label: 'Started', data: count('sessions_started') },
      { label: 'Finished', data: count('finished'), dashed: true },
      { label: 'Crashed', data: count('bad') },
    ]));

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
      { key: 'version', title: 'Version', filter: 'version' },
      { key: 'hits', title: 'Hits', numeric: true, format: number },
      { key: 'clients', title: 'Clients', numeric: true, format: number },
    ];
    return [figures, grid(sessions, views.crashFreeChart(report)), ...views.activeClients(report),
      table('Per day', dayColumns, days(report), 'days'),
      table('Applications', appColumns, report.applications || [], 'applications')];
  }

  function drawCommands(report) {
    const top = (report.commands || []).slice(0, 15).map((r) => ({ label: r.value, count: r.reports }));
    return [
      chart('Most used commands', bars(top, 'Reports', true)),
      grid(...COMMAND_TABLES.map((name) => views.topTable(report, name, false))),
    ];
  }

  function topRows(report, name, n) {
    return (report[name] || []).slice(0, n).map((r) => ({ label: r.value, count: r.reports }));
  }

  function drawMachines(report) {
    const memory = views.memory(report);
    const tables = [];
    for (const t of report.tables || []) {
      if (COMMAND_TABLES.includes(t.name))
        continue;
      if (t.name === 'memory_mib')
        tables.push(memory.table);
      tables.push(views.topTable(report, t.name, true));
    }
    return [
      grid(chart('Operating systems', bars(topRows(report, 'operating_systems', 10), 'Reports', true)),
        memory.chart,
        chart('Screen resolutions', bars(topRows(report, 'screen_resolutions', 10), 'Reports', true)),
        chart('OpenGL renderers (core profile)', bars(topRows(report, 'opengl_renderers_core', 10), 'Reports', true))),
      grid(...tables),
    ];
  }

  function compareVersions(a, b) {
    return a.localeCompare(b, 'en', { numeric: true });
  }

  function drawVersions(report) {
    // Every version that sent hits, those without a session (a run that is still going, say) too, in
    // the order of their numbers: the collector's table.
    const rows = (report.release_health || {}).versions || [];
    // A version's row leads to its own figures over the same days.
    const columns = [
      { key: 'version', title: 'Version', filter: 'version' },
      { key: 'hits', title: 'Hits', numeric: true, format: number },
      { key: 'sessions_started', title: 'Started', numeric: true, format: number },
      { key: 'finished', title: 'Finished', numeric: true, format: number },
      { key: 'good', title: 'Good', numeric: true, format: number },
      { key: 'bad', title: 'Bad', numeric: true, format: number },
      { key: 'crash_free_rate', title: 'Crash-free', numeric: true, format: percent },
    ];
    return [views.adoptionChart(report), table('Sessions by version', columns, rows, 'versions'),
      views.healthTable(report), views.adoptionTable(report)];
  }

  function drawRejected(report, rejected) {
    // The table in the order of its CSV; the chart the most frequent first.
    const reasons = report.rejections || [];
    const frequent = reasons.slice().sort((a, b) => b.hits - a.hits);
    const samples = (rejected && rejected.samples) || [];
    const note = report.version
      ? [el('p', 'note', 'A rejected hit carries no version that can be trusted, so these count every version.')]
      : [];
    return [
      ...note,
      chart('Rejected hits by reason', bars(frequent.slice(0, 10).map((r) => ({ label: r.reason, count: r.hits })),
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

  // The navigation keeps the filter; the menu lists the stored versions in the order of their numbers
  // (1.10 after 1.9). A version asked for that nothing was stored for is said so, and stays in the menu
  // as what is shown. The quick ranges end on the newest day with data rather than today, so that a
  // collector that stopped receiving still shows its last days; they keep the version.
  function setUpChrome(view, versions, status) {
    const suffix = query ? '?' + query : '';
    for (const a of document.querySelectorAll('#nav a')) {
      a.href = a.getAttribute('href').split('?')[0] + suffix;
      a.classList.toggle('active', a.dataset.view === view.name);
    }
    const form = document.getElementById('filter');
    form.elements.from.value = filter.get('from') || '';
    form.elements.to.value = filter.get('to') || '';
    const select = form.elements.version;
    const known = ((versions && versions.versions) || []).slice().sort(compareVersions);
    for (const v of known) {
      const option = el('option', null, v);
      option.value = v;
      select.append(option);
    }
    const asked = filter.get('version');
    if (versions && asked && !known.includes(asked)) {
      const option = el('option', null, asked + ' (nothing stored)');
      option.value = asked;
      select.append(option);
      notice('No hit of version ' + asked + ' is stored, so every figure below is empty. ' +
        'Choose a version from the menu.');
    }
    select.value = asked || '';
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      const from = form.elements.from, to = form.elements.to;
      to.setCustomValidity(from.value && to.value && from.value > to.value
        ? 'To is before From: the period would hold no day.' : '');
      if (!form.reportValidity())
        return;
      const next = new URLSearchParams();
      for (const k of ['from', 'to', 'version'])
        if (form.elements[k].value)
          next.set(k, form.elements[k].value);
      const q = next.toString();
      location.assign(location.pathname + (q ? '?' + q : ''));
    });
    form.elements.to.addEventListener('input', () => form.elements.to.setCustomValidity(''));
    const last = status && status.last_day;
    for (const b of document.querySelectorAll('#ranges button')) {
      b.disabled = !last;
      if (!last)
        continue;
      const from = dayText(dayNumber(last) - Number(b.dataset.days) + 1);
      b.title = from + ' to ' + last + ', the newest day with data';
      b.setAttribute('aria-pressed', String(filter.get('from') === from && filter.get('to') === last));
      b.addEventListener('click', () => location.assign(address(location.pathname, { from, to: last })));
    }
    describeData(status);
    if (pickedCommand && view.name === 'commands') {
      const p = notice('Only the command ' + pickedCommand + ' is shown. ');
      const all = p.appendChild(el('a', null, 'Show every command'));
      all.href = address(location.pathname, {});
    }
  }

  // That days are UTC, how far the data goes, and on a standby how far behind the primary it is.
  function describeData(status) {
    const p = document.getElementById('as-of');
    const parts = ['Days are UTC.'];
    if (status && status.data_as_of)
      parts.push('Data as of ' + status.data_as_of.replace('T', ' ').replace(/(\.\d+)?Z$/, ' UTC') +
        (typeof status.lag_seconds === 'number' ? ', ' + number(Math.round(status.lag_seconds)) +
          ' s behind the primary' : '') + '.');
    if (status)
      parts.push(status.last_day ? 'Newest data: ' + status.last_day + '; the quick ranges end on it.'
        : 'Nothing is stored yet.');
    p.textContent = parts.join(' ');
  }

  function notice(text) {
    const p = el('p', 'notice', text);
    p.setAttribute('role', 'status');
    document.getElementById('main').prepend(p);
    return p;
  }

  // The period chosen, not the days that happen to hold data.
  function describePeriod(report) {
    const p = document.getElementById('period');
    const shown = shownPeriod(report);
    const which = report.version ? ', version ' + report.version + ' only' : ', all versions';
    if (!shown)
      p.textContent = 'Nothing was received in this period' + which + '.';
    else
      p.textContent = 'Days ' + shown.from + ' to ' + shown.to + ' (UTC)' + which +
        (days(report).length ? '' : ': nothing was received in them.');
  }

  // An answer that is not the data: the sentence the API gave (which names the field), as the error.
  class LoadError extends Error {
    constructor(url, status, text) {
      super(text || url.split('?')[0] + ': ' + status);
      this.field = ['from', 'to', 'version'].find((f) => text.startsWith(f + ':'));
    }
  }

  async function fetchJson(url) {
    const response = await fetch(url, { credentials: 'same-origin' });
    if (!response.ok)
      throw new LoadError(url, response.status + ' ' + response.statusText, (await response.text()).trim());
    return response.json();
  }

  // What went wrong, with the field to change marked, a retry, and a way back to a period that works.
  function showError(error) {
    const main = document.getElementById('main');
    const box = el('div', 'error-box');
    box.setAttribute('role', 'alert');
    box.append(el('p', 'error', 'The data could not be loaded: ' + error.message));
    const retry = el('button', null, 'Retry');
    retry.type = 'button';
    retry.addEventListener('click', () => location.reload());
    box.append(retry);
    if (query) {
      const all = el('a', 'reset', 'Show every day of every version');
      all.href = location.pathname;
      box.append(' ', all);
    }
    const field = error.field && document.getElementById('filter').elements[error.field];
    if (field) {
      field.setAttribute('aria-invalid', 'true');
      field.classList.add('invalid');
      field.focus();
    }
    const status = document.getElementById('status');
    if (status)
      status.remove();
    main.replaceChildren(box);
    document.body.dataset.error = error.message;
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
        // The menu and the navigation first, so that a period the API refuses still leaves a page to
        // choose another with.
        let status;
        [versions, status] = await Promise.all([
          fetchJson('/api/versions').catch((error) => { showError(error); return null; }),
          fetchJson('/api/status').catch(() => null), // the page is whole without it
        ]);
        setUpChrome(view, versions, status);
        if (!versions)
          return;
        [report, rejected] = await Promise.all([
          fetchJson('/api/report' + (query ? '?' + query : '')),
          view.name === 'rejected' ? fetchJson('/api/rejected?' + (query ? query + '&' : '') + 'limit=5') : null,
        ]);
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
      showError(error);
    }
  }

  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', main);
  else
    main();
})();
