// The views a product team asks for first, drawn from what the report computed (active_clients,
// adoption, release_health, top_lists, memory_gib, versions): app.js calls zncipViews with its helpers
// and places what each function returns. Loaded before app.js, on the listener's pages and in the
// self-contained one; it draws only, every figure and every CSV comes from the collector.
window.zncipViews = function (h) {
  'use strict';

  const { el, chart, line, bars, table, figure, grid, number, percent } = h;

  const spans = (a, name) => (a && a[name]) || { current: [], previous: [] };
  const signed = (rate) => (typeof rate === 'number' ? (rate > 0 ? '+' : '') + percent(rate) : '–');
  const blank = (format) => (v) => (v === undefined || v === null || v === '' ? '' : format(v));

  // A rate below its sample minimum is not a rate: it says so, with the count it would stand on.
  function rateText(value, sample) {
    if (typeof value === 'number')
      return percent(value);
    return sample > 0 ? 'too few (' + number(sample) + ')' : '–';
  }

  // The period's spans against the previous period's, the n-th of each side by side: over days and
  // weeks a line beside a dashed one; over months, which are few, a bar beside an outlined one.
  function comparison(title, series, label, asBars) {
    const labels = series.current.map(label);
    const current = series.current.map((s) => s.clients);
    const previous = labels.map((_, i) => (series.previous[i] ? series.previous[i].clients : null));
    if (!asBars)
      return chart(title, line(labels, [{ label: 'This period', data: current },
        { label: 'Previous period', data: previous, dashed: true }]));
    const config = bars(labels.map((l, i) => ({ label: l, count: current[i] })), 'This period', false);
    config.data.datasets.push({ label: 'Previous period', data: previous, backgroundColor: '#ffffff',
      borderColor: h.COLOURS[1], borderWidth: 2, maxBarThickness: 32 });
    config.options.plugins.legend = { display: true };
    return chart(title, config);
  }

  function activeClients(report) {
    const a = report.active_clients;
    const figures = el('div', 'figures');
    figures.append(
      figure('previous_clients', 'Previous period' + (a ? ' (' + a.previous_from + ' to ' + a.previous_to + ')' : ''),
        number(a ? a.previous_clients : 0)),
      figure('change', 'vs previous period', signed(a && a.change)));
    const partial = (s) => (s.partial ? ' (partial)' : '');
    const rows = [];
    for (const [span, key] of [['day', 'days'], ['week', 'weeks'], ['month', 'months']]) {
      const { current, previous } = spans(a, key);
      for (let i = 0; i < Math.max(current.length, previous.length); ++i) {
        const c = current[i] || {}, p = previous[i] || {};
        rows.push({
          span, start: c.start, end: c.end, partial: c.partial ? 'partial' : '', clients: c.clients,
          previous_start: p.start, previous_end: p.end, previous_partial: p.partial ? 'partial' : '',
          previous_clients: p.clients,
        });
      }
    }
    const count = blank(number);
    const columns = [
      { key: 'span', title: 'Span' }, { key: 'start', title: 'From' }, { key: 'end', title: 'To' },
      { key: 'partial', title: '' }, { key: 'clients', title: 'Clients', numeric: true, format: count },
      { key: 'previous_start', title: 'Previous from' }, { key: 'previous_end', title: 'Previous to' },
      { key: 'previous_partial', title: '' },
      { key: 'previous_clients', title: 'Previous clients', numeric: true, format: count },
    ];
    const note = el('p', 'note', 'Distinct clients of each span: a client active on three days of a week counts ' +
      'once in that week. A span cut by the period\'s first or last day is partial.');
    return [figures,
      grid(comparison('Active clients per day', spans(a, 'days'), (s) => s.start),
        comparison('Active clients per ISO week', spans(a, 'weeks'), (s) => 'week of ' + s.start + partial(s)),
        comparison('Active clients per month', spans(a, 'months'), (s) => s.start.slice(0, 7) + partial(s), true)),
      note, table('Active clients', columns, rows, 'active_clients')];
  }

  // Each version's share of the day's active clients, stacked; a day without clients is a gap.
  function adoptionChart(report) {
    const a = report.adoption || { days: [], series: [] };
    const config = line(a.days, a.series.map((s) => ({
      label: s.version, data: s.share.map((v) => (v === null ? null : Math.round(v * 1000) / 10)),
    })), { stacked: true, ticks: { precision: 0 } });
    // Each version's band lies on the one below; the axis ends at 100 % unless a day sums to more.
    config.data.datasets.forEach((d, i) => {
      d.fill = i === 0 ? 'origin' : '-1';
      d.borderWidth = 1;
      d.backgroundColor = d.borderColor + 'b0';
    });
    const most = Math.max(0, ...a.days.map((_, i) => a.series.reduce((sum, s) => sum + (s.share[i] || 0), 0)));
    if (most <= 1.0005)
      config.options.scales.y.max = 100;
    return chart('Version adoption per day (% of active clients)', config,
      'A client that ran two versions on one day counts in both, so a day may sum to more than 100 %.');
  }

  function adoptionTable(report) {
    return table('Versions seen', [
      { key: 'version', title: 'Version' },
      { key: 'first_day', title: 'First day' },
      { key: 'last_day', title: 'Last day' },
      { key: 'clients', title: 'Clients', numeric: true, format: number },
    ], (report.adoption || {}).versions || [], 'version_adoption');
  }

  // Crash-free sessions of each version per day, or per week when most days had too few.
  function crashFreeChart(report) {
    const h = report.release_health || { spans: [], series: [], min_sample: 30 };
    const labels = h.spans.map((s) => (h.weekly ? 'week of ' + s.start : s.start));
    const config = line(labels, h.series.map((s) => ({
      label: s.version,
      data: s.rates.map((v) => (v === null ? null : Math.round(v * 1000) / 10)),
      samples: s.sessions,
    })), { max: 100, ticks: {} });
    if (h.series.length && !h.series.some((s) => s.rates.some((v) => v !== null)))
      config.empty = 'Too few finished sessions for a rate: at least ' + h.min_sample + ' a point.';
    return chart('Crash-free sessions per ' + (h.weekly ? 'week' : 'day') + ' (%)', config,
      'A rate is drawn over at least ' + h.min_sample + ' finished sessions' +
      (h.weekly ? ', by ISO week since most days have fewer' : '') + '; the tables give the numbers.');
  }

  function healthTable(report) {
    const h = report.release_health || { versions: [] };
    const rows = h.versions.map((v) => Object.assign({}, v, {
      crash_free_sessions: rateText(v.crash_free_sessions, v.sessions),
      crash_free_clients: rateText(v.crash_free_clients, v.clients),
    }));
    const box = table('Release health', [
      { key: 'version', title: 'Version' },
      { key: 'sessions', title: 'Finished sessions', numeric: true, format: number },
      { key: 'crash_free_sessions', title: 'Crash-free sessions', numeric: true },
      { key: 'clients', title: 'Clients', numeric: true, format: number },
      { key: 'bad_clients', title: 'Clients with a crash', numeric: true, format: number },
      { key: 'crash_free_clients', title: 'Crash-free clients', numeric: true },
      { key: 'bad_with_crash_report', title: 'Crashes with report', numeric: true, format: number },
      { key: 'bad_without_crash_report', title: 'Crashes without report', numeric: true, format: number },
    ], rows, 'release_health');
    box.append(el('p', 'note', 'A rate is given over at least ' + (h.min_sample || 30) +
      ' finished sessions or clients; below that, the count it would stand on.'));
    return box;
  }

  // The top of a table of values with shares, and a row that sums the rest; the whole list is its CSV.
  function topTable(report, name, ofClients) {
    const title = ((report.tables || []).find((t) => t.name === name) || { title: name }).title;
    const list = (report.top_lists || {})[name] || { rows: [] };
    // The row of the rest stays last however the table is sorted, and leads nowhere.
    const rows = list.rows.map((r) => (r.other ? Object.assign({}, r, { pinned: true }) : r));
    const columns = [{ key: 'value', title: 'Value', filter: h.COMMAND_TABLES.includes(name) ? 'command' : undefined },
      { key: 'reports', title: 'Reports', numeric: true, format: number },
      { key: 'report_share', title: '% of reports', numeric: true, format: percent },
      { key: 'clients', title: 'Clients', numeric: true, format: blank(number) },
      { key: 'client_share', title: '% of clients', numeric: true, format: blank(percent) }];
    const box = table(title + ': top ' + list.rows.filter((r) => !r.other).length, ofClients
      ? [columns[0], columns[3], columns[4], columns[1], columns[2]] : columns, rows, 'top_' + name);
    const all = h.csvLink(name);
    all.textContent = 'every value (CSV)';
    box.append(el('p', 'note', ofClients ? 'Shares of the period\'s active clients; a client may report several values. '
      : 'Shares of all reports. '), all);
    return box;
  }

  function memory(report) {
    const buckets = report.memory_gib || [];
    const box = table('Physical memory (GiB)', [
      { key: 'size', title: 'Size' },
      { key: 'reports', title: 'Reports', numeric: true, format: number },
      { key: 'clients', title: 'Clients', numeric: true, format: number },
    ], buckets, 'memory_gib');
    box.append(el('p', 'note', 'A client that reported sizes in two buckets counts in both.'));
    return { table: box, chart: chart('Physical memory', bars(buckets.map((b) => ({ label: b.size, count: b.reports })), 'Reports', false)) };
  }

  return { activeClients, adoptionChart, adoptionTable, crashFreeChart, healthTable, topTable, memory };
};
