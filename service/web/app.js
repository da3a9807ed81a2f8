// Vantorel Lab browser view: plain DOM, no build step, nothing loaded from
// elsewhere. Authentication travels in the HttpOnly session cookie only.
'use strict';

const state = {
  session: null,       // {user, role, auth}
  events: null,        // EventSource
  progress: new Map(), // "instrument/job" -> {state, samples, elapsedMs, estimateMs, at}
  route: null,
  refreshes: 0,       // instrument view refreshes started
};

// ---- small DOM helpers (text only, never HTML from the server) ----

function h(tag, attrs, ...children) {
  const el = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') el.className = value;
    else if (key.startsWith('on')) el.addEventListener(key.slice(2), value);
    else if (key === 'dataset') Object.assign(el.dataset, value);
    else el.setAttribute(key, value === true ? '' : String(value));
  }
  for (const child of children.flat()) {
    if (child === undefined || child === null || child === false) continue;
    el.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return el;
}

const $ = (sel, root = document) => root.querySelector(sel);
const enc = encodeURIComponent;
const fixed = (v, n = 2) => (typeof v === 'number' && isFinite(v) ? v.toFixed(n) : '–');
const when = (t) => (t ? String(t).replace('T', ' ').replace(/\.\d+/, '').replace('Z', ' UTC') : '–');

function table(headers, rows, attrs) {
  const head = h('tr', null, headers.map((t) => {
    const [text, cls] = Array.isArray(t) ? t : [t];
    return h('th', { class: cls }, text);
  }));
  const body = rows.length
    ? rows
    : [h('tr', null, h('td', { colspan: headers.length, class: 'empty' }, 'Nothing here yet.'))];
  return h('table', attrs, h('thead', null, head), h('tbody', null, body));
}

function formValues(form) {
  const out = {};
  for (const [k, v] of new FormData(form).entries()) out[k] = typeof v === 'string' ? v.trim() : v;
  return out;
}

// ---- messages ----

function showMessage(text, kind) {
  $('#message-text').textContent = text;
  $('#message').className = 'message' + (kind ? ' ' + kind : '');
  $('#message').hidden = false;
}

function clearMessage() {
  $('#message').hidden = true;
}

function report(err) {
  if (err && err.status === 401) return; // the sign-in form is showing
  showMessage(err && err.message ? err.message : String(err));
}

// ---- API ----

class ApiError extends Error {
  constructor(status, code, message) {
    super(message);
    this.status = status;
    this.code = code;
  }
}

async function api(method, path, body) {
  const opts = { method, credentials: 'same-origin', headers: { Accept: 'application/json' } };
  if (body !== undefined) {
    opts.headers['Content-Type'] = 'application/json';
    opts.body = JSON.stringify(body);
  }
  let res;
  try {
    res = await fetch(path, opts);
  } catch (e) {
    throw new ApiError(0, 'network', 'The lab server cannot be reached.');
  }
  let data = null;
  if ((res.headers.get('content-type') || '').includes('application/json')) {
    data = await res.json().catch(() => null);
  }
  if (!res.ok) {
    const code = data && data.error ? data.error : 'http_' + res.status;
    const text = data && data.message ? data.message : res.status + ' ' + res.statusText;
    if (res.status === 401 && path !== '/api/session') showLogin();
    throw new ApiError(res.status, code, `${text} (${code})`);
  }
  return data;
}

// Runs an action from a button or form and shows its failure in the message area.
async function act(fn) {
  clearMessage();
  try {
    await fn();
  } catch (e) {
    report(e);
  }
}

// ---- session ----

async function start() {
  $('#message-close').addEventListener('click', clearMessage);
  $('#login-form').addEventListener('submit', (ev) => {
    ev.preventDefault();
    act(async () => {
      const token = ev.target.elements.token.value;
      await api('POST', '/api/session', { token });
      ev.target.reset();
      await enter();
    });
  });
  $('#logout').addEventListener('click', () => act(async () => {
    await api('DELETE', '/api/session');
    stopEvents();
    showLogin();
  }));
  window.addEventListener('hashchange', () => render());
  await enter();
}

async function enter() {
  try {
    state.session = await api('GET', '/api/session');
  } catch (e) {
    if (e.status === 401) return showLogin();
    return report(e);
  }
  $('#login').hidden = true;
  $('#view').hidden = false;
  $('#nav').hidden = false;
  $('#user').textContent = state.session.user || '';
  $('#role').textContent = state.session.role || '';
  $('#logout').hidden = !state.session.auth;
  startEvents();
  render();
}

function showLogin() {
  state.session = null;
  stopEvents();
  $('#user').textContent = '';
  $('#role').textContent = '';
  $('#logout').hidden = true;
  $('#view').replaceChildren();
  $('#view').hidden = true;
  $('#nav').hidden = true;
  $('#login').hidden = false;
  $('#login-form').elements.token.focus();
}

const can = {
  operate: () => state.session && ['operator', 'admin'].includes(state.session.role),
  admin: () => state.session && state.session.role === 'admin',
};

// ---- live events ----

function startEvents() {
  if (state.events) return;
  const es = new EventSource('/api/events', { withCredentials: true });
  state.events = es;
  es.onopen = () => setLive(true);
  es.onerror = () => setLive(false); // EventSource reconnects by itself
  const on = (name, fn) => es.addEventListener(name, (ev) => {
    let data;
    try {
      data = JSON.parse(ev.data);
    } catch (e) {
      return;
    }
    fn(data);
  });
  on('job', onJobEvent);
  on('instrument', () => { if (state.route === 'instruments') refreshInstruments(); });
  on('record', () => { if (state.route === 'records') refreshRecords(); });
  on('comparison', () => { if (state.route === 'records') refreshRecords(); });
}

function stopEvents() {
  if (state.events) state.events.close();
  state.events = null;
  setLive(false);
}

function setLive(on) {
  $('#live').textContent = on ? 'live' : 'offline';
  $('#live').classList.toggle('on', on);
}

function onJobEvent(ev) {
  const key = ev.instrument + '/' + ev.job;
  const before = state.progress.get(key);
  state.progress.set(key, {
    state: ev.state,
    samples: ev.samples,
    elapsedMs: ev.elapsedMs || 0,
    estimateMs: ev.estimateMs ?? null,
    at: performance.now(),
  });
  if (state.route !== 'instruments') return;
  if (!before || before.state !== ev.state) refreshInstruments();
  else updateProgressCells();
}

// Progress text and bar for one job row, from the last event moved on by the
// time since it arrived (events come once a second while measuring).
function progressOf(instrument, job) {
  // The listing's state decides; the last event only supplies the timing.
  const last = state.progress.get(instrument + '/' + job.name);
  const p = last && last.state === 'measuring' ? last : null;
  const jobState = job.state;
  const samples = job.samples;
  if (jobState === 'measured') {
    return { done: true, ratio: 1, text: `${samples} of ${samples} samples measured` };
  }
  if (jobState !== 'measuring') return { ratio: null, text: '' };
  const elapsed = p ? p.elapsedMs + (performance.now() - p.at) : 0;
  let text = `measuring… ${(elapsed / 1000).toFixed(1)} s elapsed`;
  let ratio = 0;
  if (p && p.estimateMs) {
    ratio = Math.min(elapsed / p.estimateMs, 0.99);
    const left = Math.max(p.estimateMs - elapsed, 0) / 1000;
    text += left > 0.05 ? `, about ${left < 10 ? left.toFixed(1) : Math.round(left)} s left` : ', finishing';
  }
  return { ratio, text };
}

function progressCell(instrument, job) {
  const p = progressOf(instrument, job);
  const cell = h('td', { class: 'progress', 'data-test': 'progress' });
  fillProgress(cell, p);
  return cell;
}

function fillProgress(cell, p) {
  const children = [];
  if (p.ratio !== null) {
    children.push(h('div', { class: 'bar' + (p.done ? ' done' : '') }, h('div', { style: `width:${Math.round(p.ratio * 100)}%` })));
  }
  children.push(h('div', { class: 'progress-text' + (p.done ? ' done' : '') }, p.text));
  cell.replaceChildren(...children);
}

function updateProgressCells() {
  for (const row of document.querySelectorAll('tr[data-job]')) {
    const job = { name: row.dataset.job, state: row.dataset.state, samples: Number(row.dataset.samples) };
    const cell = row.querySelector('td.progress');
    if (cell) fillProgress(cell, progressOf(row.dataset.instrument, job));
  }
}

setInterval(() => {
  if (state.route === 'instruments') updateProgressCells();
}, 250);

// ---- routing ----

function render() {
  if (!state.session) return;
  const parts = (location.hash.replace(/^#\/?/, '') || 'instruments').split('/').map(decodeURIComponent);
  const [section, id] = parts;
  state.route = section + (id ? '/' : '');
  for (const a of document.querySelectorAll('[data-nav]')) {
    a.classList.toggle('active', a.dataset.nav === section);
  }
  const view = $('#view');
  view.replaceChildren();
  const views = {
    instruments: () => viewInstruments(view),
    records: () => (id ? viewRecord(view, id) : viewRecords(view)),
    standards: () => (id ? viewTrend(view, id) : viewStandards(view)),
  };
  (views[section] || views.instruments)().catch(report);
}

// ---- instruments and jobs ----

async function viewInstruments(view) {
  const select = h('select', { name: 'instrument', 'data-test': 'job-instrument' });
  const form = h('form', { id: 'add-job-form', class: 'inline' },
    h('label', null, 'Instrument', select),
    h('label', null, 'Job name', h('input', { name: 'name', required: true, maxlength: 64 })),
    h('label', null, 'Make', h('input', { name: 'make', maxlength: 64 })),
    h('label', null, 'Samples', h('input', { name: 'samples', type: 'number', min: 1, max: 1000, value: 1, required: true })),
    h('label', { class: 'check' }, h('input', { name: 'replace', type: 'checkbox' }), 'replace'),
    h('button', { type: 'submit' }, 'Add job'));
  form.addEventListener('submit', (ev) => {
    ev.preventDefault();
    act(async () => {
      const v = formValues(form);
      await api('POST', `/api/instruments/${enc(v.instrument)}/jobs`, {
        name: v.name, make: v.make, samples: Number(v.samples), replace: v.replace === 'on',
      });
      form.elements.name.value = '';
      await refreshInstruments();
    });
  });
  view.append(
    h('h1', null, 'Instruments'),
    h('div', { id: 'instruments' }),
    can.operate() ? h('div', { class: 'card' }, h('h2', null, 'Add a job'), form) : null);
  await refreshInstruments();
}

async function refreshInstruments() {
  if (!$('#instruments')) return;
  const turn = ++state.refreshes; // only the newest answer is drawn
  const { instruments } = await api('GET', '/api/instruments');
  const lists = await Promise.all(instruments.map((i) => (i.reachable && i.connected
    ? api('GET', `/api/instruments/${enc(i.name)}/jobs`).then((r) => r.jobs).catch((e) => { report(e); return []; })
    : Promise.resolve(null))));
  const box = $('#instruments');
  if (!box || turn !== state.refreshes) return; // the view changed or a newer refresh runs
  const select = $('#add-job-form select[name=instrument]');
  if (select) {
    const chosen = select.value;
    select.replaceChildren(...instruments.map((i) => h('option', { value: i.name }, i.name)));
    if (chosen) select.value = chosen;
  }
  box.replaceChildren(...instruments.map((inst, n) => instrumentCard(inst, lists[n])));
}

function instrumentCard(inst, jobs) {
  const connect = !inst.connected && inst.reachable && can.admin()
    ? h('button', { type: 'button', 'data-action': 'connect', 'data-instrument': inst.name,
      onclick: () => act(async () => {
        await api('POST', `/api/instruments/${enc(inst.name)}/connect`, { usb: true });
        await refreshInstruments();
      }) }, 'Connect (USB)')
    : null;
  const header = h('div', { class: 'meta' },
    h('span', null, h('b', null, inst.name)),
    h('span', null, `${inst.host}:${inst.port}`),
    h('span', { class: 'state state-' + inst.state, 'data-test': 'instrument-state' }, inst.state.replace('_', ' ')),
    inst.job ? h('span', null, 'measuring ', h('b', null, inst.job)) : null,
    connect);
  let body;
  if (jobs === null) {
    body = h('p', { class: 'empty' }, inst.reachable ? 'Connect the instrument to see its jobs.' : 'The driver does not answer.');
  } else {
    body = table(['Job', 'State', ['Samples', 'num'], 'Make', 'Progress', ''],
      jobs.map((j) => jobRow(inst.name, j)), { 'data-test': 'jobs', 'data-instrument': inst.name });
  }
  return h('div', { class: 'card', 'data-instrument': inst.name }, header, body);
}

function jobRow(instrument, job) {
  const jobState = job.state;
  const measuring = jobState === 'measuring';
  const path = `/api/instruments/${enc(instrument)}/jobs/${enc(job.name)}`;
  const button = (action, label, cls, disabled, fn) => h('button', {
    type: 'button', class: cls, 'data-action': action, disabled: disabled || !can.operate(),
    onclick: () => act(fn),
  }, label);
  return h('tr', { dataset: { job: job.name, instrument, state: jobState, samples: job.samples } },
    h('td', null, job.name),
    h('td', { class: 'state state-' + jobState, 'data-test': 'job-state' }, jobState),
    h('td', { class: 'num' }, job.samples),
    h('td', null, job.make || ''),
    progressCell(instrument, job),
    h('td', { class: 'actions' },
      button('run', 'Run', '', measuring, async () => {
        const r = await api('POST', path + '/run');
        state.progress.set(instrument + '/' + job.name, {
          state: 'measuring', samples: r.samples, elapsedMs: 0, estimateMs: r.estimateMs ?? null, at: performance.now(),
        });
        await refreshInstruments();
      }),
      button('cancel', 'Cancel', 'secondary', !measuring, async () => {
        await api('POST', `/api/instruments/${enc(instrument)}/cancel`);
        await refreshInstruments();
      }),
      button('measurement', 'Measurement', 'secondary', jobState !== 'measured', async () => {
        const m = await api('GET', path + '/measurement');
        location.hash = '#/records/' + m.record;
      }),
      button('delete', 'Delete', 'danger', measuring, async () => {
        if (!confirm(`Delete job ${job.name}?`)) return;
        await api('DELETE', path);
        state.progress.delete(instrument + '/' + job.name);
        await refreshInstruments();
      })));
}

// ---- records ----

async function viewRecords(view) {
  const form = h('form', { id: 'records-filter', class: 'inline' },
    h('label', null, 'Job', h('input', { name: 'job' })),
    h('label', null, 'Standard', h('input', { name: 'standard' })),
    h('label', null, 'Since', h('input', { name: 'since', type: 'date' })),
    h('button', { type: 'submit', class: 'secondary' }, 'Filter'));
  form.addEventListener('submit', (ev) => {
    ev.preventDefault();
    act(refreshRecords);
  });
  view.append(h('h1', null, 'History'), h('div', { class: 'card' }, form, h('div', { id: 'records' })));
  await refreshRecords();
}

async function refreshRecords() {
  const form = $('#records-filter');
  if (!form) return;
  const q = new URLSearchParams({ limit: '200' });
  for (const [k, v] of Object.entries(formValues(form))) if (v) q.set(k, v);
  const { records } = await api('GET', '/api/records?' + q);
  const rows = records.map((r) => h('tr', { 'data-record': r.id },
    h('td', null, h('a', { href: '#/records/' + r.id }, '#' + r.id)),
    h('td', null, when(r.time)),
    h('td', null, r.job),
    h('td', null, r.make || ''),
    h('td', { class: 'num' }, r.samples),
    h('td', null, r.instrument),
    h('td', null, r.operator),
    h('td', null, (r.comparisons || []).map((c) => h('a', {
      href: '#/records/' + c.id, class: 'badge ' + (c.pass ? 'pass' : 'fail'),
      title: `${c.standard} v${c.version}`,
    }, `${c.standard} ${c.pass ? 'PASS' : 'FAIL'}`)))));
  const box = $('#records');
  if (box) box.replaceChildren(table(['Record', 'Time', 'Job', 'Make', ['Samples', 'num'], 'Instrument', 'Operator', 'Comparisons'], rows, { id: 'records-table' }));
}

async function viewRecord(view, id) {
  if (!/^\d+$/.test(id)) throw new ApiError(400, 'bad_request', `No record ${id}.`);
  const r = await api('GET', '/api/records/' + id);
  if (r.kind === 'comparison') return viewComparisonRecord(view, r);
  const geometries = r.geometries || [];
  const rows = geometries.map((g) => h('tr', { 'data-geometry': g.geometry },
    h('td', null, g.geometry),
    ...[0, 1, 2].map((k) => h('td', { class: 'num' }, g.lab ? fixed(g.lab[k]) : '–')),
    h('td', { class: 'num nowrap' }, g.stdev ? g.stdev.map((s) => fixed(s, 3)).join(' / ') : '–')));
  const images = (r.images || []).map((im) => h('a', { href: im.png, target: '_blank', 'data-test': 'image-link' }, `${im.geometry}.png`));
  view.append(
    h('h1', null, `Measurement #${r.id}`),
    h('div', { class: 'meta' },
      h('span', null, 'Job ', h('b', null, r.job)),
      h('span', null, 'Make ', h('b', null, r.make || '–')),
      h('span', null, 'Samples ', h('b', null, r.samples)),
      h('span', null, 'Instrument ', h('b', null, r.instrument)),
      h('span', null, 'Operator ', h('b', null, r.operator)),
      h('span', null, when(r.time))),
    h('div', { class: 'grid2' },
      h('div', { class: 'card' },
        h('h2', null, 'Spectra'),
        h('img', { id: 'spectra', class: 'plot', src: r.spectra || `/api/records/${r.id}/spectra.svg`, alt: 'Reflectance spectra' }),
        images.length ? h('div', { class: 'images' }, 'Images: ', images) : null),
      h('div', null,
        h('div', { class: 'card' }, h('h2', null, 'Colour per geometry'),
          table(['Geometry', ['L*', 'num'], ['a*', 'num'], ['b*', 'num'], ['Stdev L*/a*/b*', 'num']], rows, { id: 'geometry-table' })),
        can.operate() ? await compareCard(r) : null)));
}

async function compareCard(record) {
  const { standards } = await api('GET', '/api/standards');
  const live = standards.filter((s) => !s.removed);
  const select = h('select', { name: 'standard', required: true },
    live.map((s) => h('option', { value: s.name }, `${s.name} (v${s.version})`)));
  const result = h('div', { id: 'comparison' });
  const form = h('form', { id: 'compare-form', class: 'inline' },
    h('label', null, 'Standard', select),
    h('button', { type: 'submit', disabled: !live.length }, 'Compare'));
  form.addEventListener('submit', (ev) => {
    ev.preventDefault();
    act(async () => {
      const c = await api('POST', '/api/compare', { standard: select.value, batch: '#' + record.id });
      result.replaceChildren(...comparisonResult(c.passed, c.rows, c.report, c.comparison, c.standard, c.version));
    });
  });
  return h('div', { class: 'card' }, h('h2', null, 'Compare with standard'),
    live.length ? null : h('p', { class: 'empty' }, 'No standards yet.'), form, result);
}

function comparisonResult(passed, rows, reportUrl, comparisonId, standard, version) {
  const body = (rows || []).map((row) => h('tr', { 'data-geometry': row.geometry },
    h('td', null, row.geometry),
    h('td', { class: 'num' }, fixed(row.deltaE)),
    h('td', { class: 'num' }, fixed(row.tolerance)),
    h('td', { class: 'status-' + String(row.status).toLowerCase() }, row.status)));
  return [
    h('div', { id: 'verdict', class: 'verdict ' + (passed ? 'pass' : 'fail') }, passed ? 'PASS' : 'FAIL'),
    h('div', { class: 'meta' },
      standard ? h('span', null, 'Standard ', h('a', { href: '#/standards/' + enc(standard) }, standard), version ? ` v${version}` : '') : null,
      comparisonId ? h('a', { href: '#/records/' + comparisonId }, `Comparison #${comparisonId}`) : null,
      reportUrl ? h('a', { id: 'report-link', href: reportUrl, target: '_blank' }, 'Report page') : null),
    table(['Geometry', ['ΔE', 'num'], ['Tolerance', 'num'], 'Status'], body, { id: 'comparison-table' }),
  ];
}

function viewComparisonRecord(view, r) {
  view.append(
    h('h1', null, `Comparison #${r.id}`),
    h('div', { class: 'meta' },
      h('span', null, 'Batch ', h('a', { href: '#/records/' + r.batchRecord }, '#' + r.batchRecord)),
      h('span', null, 'Formula ', h('b', null, r.formula || '–')),
      h('span', null, 'Operator ', h('b', null, r.operator)),
      h('span', null, when(r.time))),
    h('div', { class: 'card', id: 'comparison' },
      ...comparisonResult(r.passed, r.rows, r.report, null, r.standard, r.version)));
}

// ---- standards ----

async function viewStandards(view) {
  const { standards } = await api('GET', '/api/standards');
  const tol = (t) => Object.entries(t || {}).map(([g, v]) => `${g === '*' ? 'all' : g} ${v}`).join(', ');
  const rows = standards.map((s) => h('tr', { 'data-standard': s.name, class: s.removed ? 'removed' : null },
    h('td', null, h('a', { href: '#/standards/' + enc(s.name) }, s.name)),
    h('td', { class: 'num' }, s.version),
    h('td', null, when(s.time)),
    h('td', null, s.sourceRecord ? h('a', { href: '#/records/' + s.sourceRecord }, s.source || '#' + s.sourceRecord) : (s.source || '')),
    h('td', null, s.formula),
    h('td', null, tol(s.tolerances)),
    h('td', { class: 'num' }, s.geometries),
    h('td', null, s.removed ? 'removed' : (s.note || ''))));
  view.append(h('h1', null, 'Standards'),
    h('div', { class: 'card' }, table(['Name', ['Version', 'num'], 'Time', 'From', 'Formula', 'Tolerance', ['Geometries', 'num'], 'Note'], rows, { id: 'standards-table' })));
  if (!can.admin()) return;
  const form = h('form', { id: 'standard-form', class: 'inline' },
    h('label', null, 'Name', h('input', { name: 'name', required: true })),
    h('label', null, 'From record', h('input', { name: 'from', required: true, placeholder: '#12 or job:NAME' })),
    h('label', null, 'Tolerance ΔE', h('input', { name: 'tolerance', type: 'number', step: '0.01', min: '0' })),
    h('label', null, 'Formula', h('select', { name: 'formula' },
      ['de2000', 'de94', 'cmc', 'de76'].map((f) => h('option', { value: f }, f)))),
    h('label', null, 'Note', h('input', { name: 'note' })),
    h('label', { class: 'check' }, h('input', { name: 'replace', type: 'checkbox' }), 'new version'),
    h('button', { type: 'submit' }, 'Save standard'));
  form.addEventListener('submit', (ev) => {
    ev.preventDefault();
    act(async () => {
      const v = formValues(form);
      const body = { name: v.name, from: /^\d+$/.test(v.from) ? '#' + v.from : v.from, formula: v.formula };
      if (v.tolerance) body.tolerance = Number(v.tolerance);
      if (v.note) body.note = v.note;
      if (v.replace === 'on') body.replace = true;
      await api('POST', '/api/standards', body);
      showMessage(`Standard ${v.name} saved.`, 'info');
      render();
    });
  });
  view.append(h('div', { class: 'card' }, h('h2', null, 'Add a standard'), form));
}

async function viewTrend(view, name) {
  const t = await api('GET', `/api/standards/${enc(name)}/trend`);
  const points = t.points || [];
  const rows = points.map((p) => h('tr', { 'data-comparison': p.comparison },
    h('td', null, when(p.time)),
    h('td', null, h('a', { href: '#/records/' + p.comparison }, '#' + p.comparison)),
    h('td', null, h('a', { href: '#/records/' + p.batchRecord }, '#' + p.batchRecord)),
    h('td', { class: 'num' }, p.version),
    h('td', null, (p.values || []).map((v) => `${v.geometry} ${fixed(v.deltaE)}`).join(', ')),
    h('td', { class: p.passed ? 'status-pass' : 'status-fail' }, p.passed ? 'PASS' : 'FAIL')));
  view.append(h('h1', null, `Standard ${name}: trend`),
    h('div', { class: 'card' },
      h('img', { id: 'trend', class: 'plot', src: `/api/standards/${enc(name)}/trend.svg`, alt: `ΔE trend of ${name}` })),
    h('div', { class: 'card' },
      table(['Time', 'Comparison', 'Batch', ['Version', 'num'], 'ΔE per geometry', 'Verdict'], rows, { id: 'trend-table' })));
}

start();
