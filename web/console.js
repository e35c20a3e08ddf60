// The Vantrel operator console: tabs Status, Configuration, Statistics and
// Search over the server's JSON API (docs/console-api.md). Every text comes
// from the server's text table; the tab labels stay fixed.
'use strict';

const state = {
  texts: {}, menus: {}, build: 0, csrf: '',
  edit: { on: false, mine: false, holder: '', since: '' },
  config: null, current: 0, folderSel: -1, statsSel: 0, tab: 'status',
  statsTimer: 0, browsePending: null,
};
const $ = (id) => document.getElementById(id);
const T = (key) => (key in state.texts ? state.texts[key] : key);

// ---------------------------------------------------------------- API
async function api(method, path, body) {
  const options = { method, headers: {}, credentials: 'same-origin' };
  if (method !== 'GET') {
    options.headers['Content-Type'] = 'application/json';
    options.headers['X-CSRF-Token'] = state.csrf;
    options.body = JSON.stringify(body || {});
  }
  const res = await fetch(path, options);
  let data = {};
  try { data = await res.json(); } catch (e) { data = {}; }
  if (!res.ok) {
    const err = new Error(data.error || ('HTTP ' + res.status));
    err.status = res.status;
    throw err;
  }
  return data;
}

// ---------------------------------------------------------------- dialogs
// Shows one dialog; resolves with { answer, values } where answer is the id
// of the button pressed ('cancel' for Escape).
function showDialog({ caption, text = '', fields = [], buttons, extra = null }) {
  const dlg = $('dialog');
  $('dialog-caption').textContent = caption;
  $('dialog-text').textContent = text.replace(/\r\n|\r/g, '\n');
  const box = $('dialog-fields');
  box.replaceChildren();
  const inputs = {};
  for (const f of fields) {
    const label = document.createElement('label');
    const input = document.createElement('input');
    input.type = f.type || 'text';
    input.name = f.name;
    input.id = 'field-' + f.name;
    if (f.type === 'checkbox') {
      input.checked = !!f.value;
      label.append(input, ' ', f.label);
    } else {
      input.value = f.value || '';
      if (f.maxLength) input.maxLength = f.maxLength;
      label.append(f.label, ' ', input);
    }
    inputs[f.name] = input;
    box.append(label);
  }
  if (extra) box.append(extra);
  const row = $('dialog-buttons');
  row.replaceChildren();
  return new Promise((resolve) => {
    const finish = (answer) => {
      const values = {};
      for (const [k, input] of Object.entries(inputs)) {
        values[k] = input.type === 'checkbox' ? input.checked : input.value;
      }
      dlg.removeEventListener('cancel', onCancel);
      dlg.close();
      resolve({ answer, values });
    };
    const onCancel = (ev) => { ev.preventDefault(); finish('cancel'); };
    dlg.addEventListener('cancel', onCancel);
    for (const b of buttons) {
      const btn = document.createElement('button');
      btn.type = 'button';
      btn.textContent = b.label;
      btn.dataset.answer = b.id;
      btn.addEventListener('click', () => finish(b.id));
      row.append(btn);
    }
    dlg.showModal();
    const first = box.querySelector('input');
    if (first) first.focus();
  });
}

const YES_NO = () => [{ id: 'yes', label: T('IDS_YES') }, { id: 'no', label: T('IDS_NO') }];
const OK_CANCEL = () => [{ id: 'ok', label: T('IDS_OK') }, { id: 'cancel', label: T('IDS_CANCEL') }];
const OK_ONLY = () => [{ id: 'ok', label: T('IDS_OK') }];

async function ask(caption, text, buttons = YES_NO()) {
  const { answer } = await showDialog({ caption, text, buttons });
  return answer === 'yes' || answer === 'ok';
}
async function tell(caption, text) { await showDialog({ caption, text, buttons: OK_ONLY() }); }
async function askText(caption, label, value = '') {
  const r = await showDialog({ caption, fields: [{ name: 'text', label, value }], buttons: OK_CANCEL() });
  return r.answer === 'ok' ? r.values.text : null;
}

// The server-side folder chooser: browse, create a folder, select.
async function chooseFolder(start) {
  let path = start || '/';
  for (;;) {
    let listing;
    try {
      listing = await api('GET', '/api/dirs?path=' + encodeURIComponent(path));
    } catch (e) {
      if (path !== '/') { path = '/'; continue; }
      await tell(T('IDS_ERROR'), e.message);
      return null;
    }
    const list = document.createElement('div');
    list.className = 'listbox folders';
    list.id = 'folder-chooser';
    let picked = null;
    const parentRow = document.createElement('div');
    parentRow.textContent = '..';
    parentRow.dataset.path = listing.parent;
    list.append(parentRow);
    for (const name of listing.folders) {
      const row = document.createElement('div');
      row.textContent = name;
      row.dataset.path = (listing.path === '/' ? '' : listing.path) + '/' + name;
      list.append(row);
    }
    list.addEventListener('click', (ev) => {
      const row = ev.target.closest('div[data-path]');
      if (!row) return;
      for (const r of list.children) r.classList.remove('selected');
      row.classList.add('selected');
      picked = row.dataset.path;
    });
    const r = await showDialog({
      caption: 'Change Directory', text: listing.path, extra: list,
      fields: [{ name: 'path', label: T('IDS_DIRECTORY'), value: listing.path }],
      buttons: [{ id: 'open', label: T('IDS_OPEN') }, { id: 'select', label: T('IDS_SELECTTHISFOLDER') + listing.path },
        { id: 'create', label: T('IDS_CREATEDIR') }, { id: 'cancel', label: T('IDS_CANCEL') }],
    });
    if (r.answer === 'cancel') return null;
    const typed = r.values.path.trim();
    const target = picked || (typed !== listing.path ? typed : listing.path);
    if (r.answer === 'select') return target;
    if (r.answer === 'open') { path = target; continue; }
    if (r.answer === 'create') {
      const name = await askText(T('IDS_CREATEDIR'), T('IDS_DIRNAME'));
      if (name) {
        try { path = (await api('POST', '/api/dirs', { parent: listing.path, name })).path; }
        catch (e) { await tell(T('IDS_ERROR'), e.message); }
      }
    }
  }
}

// ---------------------------------------------------------------- texts
function applyTexts() {
  for (const el of document.querySelectorAll('[data-text]')) el.textContent = T(el.dataset.text);
  for (const el of document.querySelectorAll('[data-menu]')) {
    el.textContent = (state.menus[el.dataset.menu] || '').replace('&', '');
  }
  $('cmd-about').textContent = (state.menus.IDM_ABOUT || 'About') + ' Vantrel...';
}

// ---------------------------------------------------------------- tabs
async function selectTab(tab) {
  if (tab === state.tab) return;
  if (state.tab === 'config' && state.edit.mine) {
    if (!(await ask(T('IDS_DISABLESETUP'), T('IDS_EDITOFF')))) return;
    if (!(await setEdit(false))) return;
  }
  state.tab = tab;
  for (const b of document.querySelectorAll('#tabs button')) {
    b.setAttribute('aria-selected', String(b.dataset.tab === tab));
  }
  for (const p of document.querySelectorAll('.pane')) p.hidden = p.id !== 'pane-' + tab;
  clearInterval(state.statsTimer);
  if (tab === 'stats') {
    await refreshStatistics();
    state.statsTimer = setInterval(refreshStatistics, 5000);
  }
  if (tab === 'config') await refreshConfig();
  if (tab === 'search') await fillSearchIndexes();
}

// ---------------------------------------------------------------- status
function middle(text, max = 90) {
  if (!text || text.length <= max) return text || '';
  const half = Math.floor((max - 3) / 2);
  return text.slice(0, half) + '...' + text.slice(text.length - half);
}

function fillLines(table, lines, shorten) {
  table.replaceChildren();
  for (const l of lines) {
    const tr = document.createElement('tr');
    const a = document.createElement('td');
    const b = document.createElement('td');
    a.textContent = l.label;
    b.textContent = shorten ? middle(l.value) : l.value;
    b.title = l.value;
    tr.append(a, b);
    table.append(tr);
  }
}

function showStatus(s) {
  fillLines($('activity'), s.activity, true);
  fillLines($('totals'), s.totals, false);
  state.edit = s.edit;
  showEditState();
}

function addLogLines(lines, reset) {
  const box = $('event-log');
  if (reset) box.replaceChildren();
  for (const line of lines) {
    const div = document.createElement('div');
    div.textContent = line;
    box.append(div);
  }
  while (box.children.length > 512) box.firstChild.remove();
  box.scrollTop = box.scrollHeight;
}

function startEventStream() {
  const source = new EventSource('/api/events');
  source.addEventListener('log', (ev) => addLogLines(JSON.parse(ev.data).lines, false));
  source.addEventListener('reset', (ev) => addLogLines(JSON.parse(ev.data).lines, true));
  source.addEventListener('status', (ev) => showStatus(JSON.parse(ev.data)));
  watchProgress(source);
}

// ---------------------------------------------------------------- progress
// The long work of each index (start-up catch-up, rebuild, rescan) under the
// activity lines: a bar and "Rebuilding Demo: 12,345 of 20,000 files,
// 2,400 files/s, 3 s left". Hidden while no index is at work. The stream's
// "progress" events carry GET /api/progress, at most every 500 ms.
const PROGRESS_VERBS = { 'catch-up': 'Indexing', rebuild: 'Rebuilding', rescan: 'Rescanning' };

function progressCount(n) { return Number(n).toLocaleString('en-US'); }

function progressDuration(seconds) {
  if (seconds < 60) return `${seconds} s`;
  if (seconds < 3600) return `${Math.floor(seconds / 60)} min ${seconds % 60} s`;
  return `${Math.floor(seconds / 3600)} h ${Math.floor((seconds % 3600) / 60)} min`;
}

function progressText(p) {
  const who = `${PROGRESS_VERBS[p.operation] || 'Indexing'} ${p.name || 'index ' + p.index}: `;
  if (p.total !== null && p.done >= p.total) {
    // The files are read; the last batch, the backup and the lists follow.
    return who + `all ${progressCount(p.total)} files read, finishing`;
  }
  const parts = [p.total === null
    ? `${progressCount(p.done)} files (still counting)`
    : `${progressCount(p.done)} of ${progressCount(p.total)} files`];
  if (p.rate > 0) {
    const rate = p.rate >= 10 ? Math.round(p.rate) : p.rate.toFixed(1);
    parts.push(`${progressCount(rate)} files/s`);
  }
  if (p.seconds_left !== null) parts.push(`${progressDuration(p.seconds_left)} left`);
  return who + parts.join(', ');
}

function progressBox() {
  let box = $('progress');
  if (!box) {
    box = document.createElement('div');
    box.id = 'progress';
    box.hidden = true;
    $('activity').closest('fieldset').after(box);
  }
  return box;
}

function showProgress(running) {
  const box = progressBox();
  box.replaceChildren();
  for (const p of running) {
    const item = document.createElement('div');
    item.className = 'progress-item';
    item.dataset.index = p.index;
    const bar = document.createElement('progress');
    if (p.total !== null) {  // no value: an indeterminate bar while counting
      bar.max = Math.max(p.total, 1);
      bar.value = Math.min(p.done, bar.max);
    }
    const line = document.createElement('span');
    line.className = 'progress-line';
    line.textContent = progressText(p);
    item.append(bar, line);
    box.append(item);
  }
  box.hidden = running.length === 0;
}

function watchProgress(source) {
  source.addEventListener('progress', (ev) => showProgress(JSON.parse(ev.data).running));
}

// The Log File dialog: its folder field can be filled from the server-side
// folder chooser (Browse), which serves the edit session, or any session
// while no edit password is set. Browse leaves the dialog and comes back to
// it with what was entered kept.
async function logFileDialog() {
  const config = await api('GET', '/api/config');
  const canBrowse = state.edit.mine || !config.password_set;
  let values = { use: config.log.use_file, folder: config.log.folder, daily: config.log.daily };
  for (;;) {
    const buttons = OK_CANCEL();
    if (canBrowse) buttons.splice(1, 0, { id: 'browse', label: T('IDS_SELECTFOLD') });
    const r = await showDialog({
      caption: T('IDS_LOGFILE'),
      fields: [{ name: 'use', label: T('IDS_USELOG'), type: 'checkbox', value: values.use },
        { name: 'folder', label: T('IDS_DIRECTORY'), value: values.folder, maxLength: 255 },
        { name: 'daily', label: T('IDS_LOGDAY'), type: 'checkbox', value: values.daily }],
      buttons,
    });
    values = r.values;
    if (r.answer === 'browse') {
      const folder = await chooseFolder(values.folder || '/');
      if (folder) values.folder = folder;
      continue;
    }
    if (r.answer !== 'ok') return;
    try {
      await api('POST', '/api/log/options', { use_file: values.use, daily: values.daily, folder: values.folder });
      return;
    } catch (e) {
      await tell(T('IDS_LOGFILE'), e.message);
    }
  }
}

async function logOptionsDialog() {
  const log = (await api('GET', '/api/config')).log;
  const r = await showDialog({
    caption: T('IDS_LOGOPTION'),
    fields: [{ name: 'files', label: T('IDS_LOGINDEX'), type: 'checkbox', value: log.new_files },
      { name: 'searches', label: T('IDS_LOGSEARCH'), type: 'checkbox', value: log.searches }],
    buttons: OK_CANCEL(),
  });
  if (r.answer !== 'ok') return;
  try { await api('POST', '/api/log/options', { new_files: r.values.files, searches: r.values.searches }); }
  catch (e) { await tell(T('IDS_LOGOPTION'), e.message); }
}

// ---------------------------------------------------------------- edit mode
function showEditState() {
  const mine = state.edit.mine;
  $('btn-edit').textContent = T(mine ? 'IDS_DISABLESETUP' : 'IDS_ENABLESETUP');
  $('edit-holder').textContent = state.edit.on && !mine
    ? 'Edit mode is held by ' + state.edit.holder + ' since ' + state.edit.since : '';
  $('edit-banner').textContent = state.edit.on ? 'Edit mode: ' + state.edit.holder : '';
  $('btn-edit').disabled = state.edit.on && !mine;
  updateEnabling();
}

async function refreshSession() {
  const s = await api('GET', '/api/session');
  state.csrf = s.csrf;
  state.edit = s.edit;
  showEditState();
}

// Turns edit mode on or off on the server; false when it did not change.
async function setEdit(on, password) {
  try {
    await api('POST', '/api/edit', password === undefined ? { on } : { on, password });
    await refreshSession();
    return true;
  } catch (e) {
    if (e.status === 403 && on) await tell(T('IDS_PASSWORD'), T('IDS_BADPASSWORD'));
    else await tell(T('IDS_ERROR'), e.message);
    await refreshSession();
    return false;
  }
}

async function toggleEdit() {
  if (state.edit.mine) {
    if (await ask(T('IDS_DISABLESETUP'), T('IDS_EDITOFF'))) await setEdit(false);
    return;
  }
  if (!(await ask(T('IDS_ENABLESETUP'), T('IDS_EDITON')))) return;
  const config = await api('GET', '/api/config');
  if (!config.password_set) { await setEdit(true); return; }
  const r = await showDialog({
    caption: T('IDS_NEEDPASSWORD'),
    fields: [{ name: 'password', label: T('IDS_PASSWORD'), type: 'password', maxLength: 15 }],
    buttons: OK_CANCEL(),
  });
  if (r.answer === 'ok') await setEdit(true, r.values.password);
}

async function changePassword() {
  const config = await api('GET', '/api/config');
  const fields = [];
  if (config.password_set) fields.push({ name: 'old', label: T('IDS_PASSWORD'), type: 'password', maxLength: 15 });
  fields.push({ name: 'new', label: T('IDS_NEWPASSWORD'), type: 'password', maxLength: 15 },
    { name: 'confirm', label: T('IDS_CONFIRMPASSWORD'), type: 'password', maxLength: 15 });
  for (;;) {
    const r = await showDialog({
      caption: T(config.password_set ? 'IDS_CHANGEPASSWORD' : 'IDS_NEEDPASSWORD'), fields, buttons: OK_CANCEL(),
    });
    if (r.answer !== 'ok') return;
    if (r.values.new !== r.values.confirm) {
      await tell(T('IDS_PASSWORD'), T('IDS_MISSPASSWORD'));
      continue;
    }
    try {
      await api('POST', '/api/password', r.values);
      return;
    } catch (e) {
      await tell(T('IDS_PASSWORD'), e.message);
      if (e.status !== 422) return;
    }
  }
}

// ---------------------------------------------------------------- configuration
function currentIndex() { return state.config && state.config.indexes[state.current]; }

function fillIndexList(box, indexes, selected, onPick) {
  box.replaceChildren();
  indexes.forEach((ix, i) => {
    const row = document.createElement('div');
    row.className = (ix.active ? 'active' : 'stopped') + (i === selected ? ' selected' : '');
    row.dataset.index = String(i);
    for (const t of [String(ix.number), ix.name, middle(ix.index_folder || ix.folder, 60)]) {
      const span = document.createElement('span');
      span.textContent = t;
      row.append(span);
    }
    row.addEventListener('click', () => onPick(i));
    box.append(row);
  });
}

function pickIndex(i) {
  state.current = i;
  state.folderSel = -1;
  state.browsePending = null;
  refreshConfig();
}

// Reads of the configuration may answer out of order, and a read made before
// a change reached the server answers with the old values. Only the newest
// read made while no change is on its way is shown, so a switch the user
// just turned never jumps back.
let configReads = 0;
let changesOnTheWay = 0;
async function refreshConfig() {
  const read = ++configReads;
  const config = await api('GET', '/api/config');
  if (read !== configReads || changesOnTheWay > 0) return;
  state.config = config;
  if (state.current >= state.config.indexes.length) state.current = Math.max(0, state.config.indexes.length - 1);
  fillIndexList($('index-list'), state.config.indexes, state.current, pickIndex);
  renderConfig();
}

function renderConfig() {
  fillIndexList($('index-list'), state.config.indexes, state.current, pickIndex);
  const ix = currentIndex();
  $('index-folder').textContent = ix ? ix.index_folder : '';
  const body = $('folder-list').querySelector('tbody');
  body.replaceChildren();
  if (ix) {
    ix.folders.forEach((f, n) => {
      const tr = document.createElement('tr');
      if (n === state.folderSel) tr.className = 'selected';
      for (const t of [f.path, f.windows || T('IDS_NONE'), f.mac || T('IDS_NONE')]) {
        const td = document.createElement('td');
        td.textContent = t;
        tr.append(td);
      }
      tr.addEventListener('click', () => { state.folderSel = n; renderConfig(); });
      body.append(tr);
    });
    const o = ix.options;
    $('opt-mac-text').checked = o.mac_text;
    $('opt-doc-info').checked = o.doc_info;
    $('opt-empty').value = String(o.empty_fields);
    if (document.activeElement !== $('opt-threshold')) $('opt-threshold').value = String(o.unused_threshold);
    $('opt-hour').textContent = (o.optimize_hour < 10 ? '0' : '') + o.optimize_hour + ':00';
    $('opt-space').checked = o.space_warning;
    $('opt-space-mb').textContent = o.space_limit_mb + ' MByte';
    $('opt-browse').checked = o.browse_limit_on;
    const shown = state.browsePending !== null ? state.browsePending : o.browse_limit;
    $('opt-browse-max').textContent = String(shown);
  }
  const pdf = state.config.pdf;
  $('pdf-folder').textContent = pdf.folder;
  if (document.activeElement !== $('pdf-thumb')) $('pdf-thumb').value = String(pdf.thumbnail_size);
  if (document.activeElement !== $('pdf-preview')) $('pdf-preview').value = String(pdf.preview_size);
  $('pdf-leading').checked = pdf.leading_preview;
  renderMetadataSwitches(ix);
  updateEnabling();
}

// The index's metadata switches (read always; written in edit mode).
const METADATA_SWITCHES = ['xmp', 'charset', 'dimensions', 'dates'];
function renderMetadataSwitches(ix) {
  const m = (ix && ix.options.metadata) || {};
  for (const name of METADATA_SWITCHES) $('opt-md-' + name).checked = m[name] !== false;
}
function wireMetadataSwitches() {
  for (const name of METADATA_SWITCHES) {
    $('opt-md-' + name).addEventListener('change', (e) => setOption({ metadata: { [name]: e.target.checked } }));
  }
}

function updateEnabling() {
  const mine = state.edit.mine;
  for (const el of document.querySelectorAll('#pane-config .edit')) el.disabled = !mine;
  if (!state.config) return;
  const ix = currentIndex();
  const hasIndex = !!ix;
  for (const id of ['btn-rename-index', 'btn-delete-index', 'btn-index-folder', 'btn-add-path']) {
    $(id).disabled = !mine || !hasIndex;
  }
  $('btn-net-names').disabled = !mine || state.folderSel < 0;
  $('btn-set-options').disabled = !mine || state.folderSel < 1;
  $('btn-remove-path').disabled = !mine || state.folderSel < 1;
  if (ix) {
    for (const el of document.querySelectorAll('.sub-space')) el.disabled = !mine || !ix.options.space_warning;
    for (const el of document.querySelectorAll('.sub-browse')) el.disabled = !mine || !ix.options.browse_limit_on;
  }
}

function showPage(page) {
  for (const p of ['paths', 'options', 'pdf']) $('page-' + p).hidden = p !== page;
  $('index-list').hidden = page === 'pdf';
}

async function change(path, body) {
  $('config-message').textContent = '';
  changesOnTheWay++;
  try {
    await api('POST', path, body);
    return true;
  } catch (e) {
    $('config-message').textContent = e.message;
    return false;
  } finally {
    changesOnTheWay--;
    await refreshConfig();
  }
}

function pathWithin(path, folder) {
  const p = path.replace(/\/+$/, ''); const f = folder.replace(/\/+$/, '');
  return p === f || p.startsWith(f === '' ? '/' : f + '/');
}

async function newIndex() {
  const name = await askText(T('IDS_NEWFOLDER'), T('IDS_NEWFOLDERNAME'));
  if (!name) return;
  const folder = await chooseFolder('/');
  if (!folder) return;
  if (await change('/api/indexes', { action: 'new', name, folder })) state.current = state.config.indexes.length - 1;
  renderConfig();
}

async function renameIndex() {
  const ix = currentIndex();
  const name = await askText(T('IDS_RENFOLDER'), T('IDS_NEWFOLDERNAME'), ix.name);
  if (name) await change('/api/indexes', { action: 'rename', index: ix.number, name });
}

async function deleteIndex() {
  const ix = currentIndex();
  if (!(await ask(T('IDS_DELFTPENTRY'), T('IDS_DELETESURE') + ' ' + ix.name + ' ?', OK_CANCEL()))) return;
  await change('/api/indexes', { action: 'delete', index: ix.number });
}

async function selectIndexFolder() {
  const ix = currentIndex();
  const folder = await chooseFolder(ix.index_folder);
  if (folder) await change('/api/indexes', { action: 'folder', index: ix.number, folder });
}

async function askNames(path, current) {
  let suggested = { windows: '', mac: '' };
  try { suggested = await api('GET', '/api/names?path=' + encodeURIComponent(path)); } catch (e) { /* none */ }
  const windows = await askText(T('IDS_WINVOL'), T('IDS_WINVOLNAME'), (current && current.windows) || suggested.windows);
  if (windows === null) return null;
  const mac = await askText(T('IDS_MACVOL'), T('IDS_MACVOLNAME'), (current && current.mac) || suggested.mac);
  if (mac === null) return null;
  return { windows, mac };
}

async function askIncludeSub(value) {
  const r = await showDialog({
    caption: T('IDS_OPTIONS'),
    fields: [{ name: 'sub', label: T('IDS_INCLUDESUB'), type: 'checkbox', value }],
    buttons: OK_CANCEL(),
  });
  return r.answer === 'ok' ? r.values.sub : null;
}

async function addPath() {
  const ix = currentIndex();
  const path = await chooseFolder('/');
  if (!path) return;
  if (pathWithin(ix.index_folder, path)) {
    await tell(T('IDS_ERROR'), T('IDS_INDEX') + ' ' + ix.index_folder + ' ' + T('IDS_BADNESTED'));
    return;
  }
  const sub = await askIncludeSub(true);
  if (sub === null) return;
  const names = await askNames(path, null);
  if (!names) return;
  await change('/api/folders', { action: 'add', index: ix.number, path, include_subfolders: sub, ...names });
}

async function setNetNames() {
  const ix = currentIndex();
  const f = ix.folders[state.folderSel];
  const names = await askNames(f.path, f);
  if (names) await change('/api/folders', { action: 'set', index: ix.number, folder: state.folderSel, ...names });
}

async function setFolderOptions() {
  const ix = currentIndex();
  const f = ix.folders[state.folderSel];
  const sub = await askIncludeSub(f.include_subfolders);
  if (sub !== null) {
    await change('/api/folders', { action: 'set', index: ix.number, folder: state.folderSel, include_subfolders: sub });
  }
}

async function removePath() {
  const ix = currentIndex();
  const f = ix.folders[state.folderSel];
  if (!(await ask(T('IDS_REMOVEPATH'), T('IDS_DELETEPATH') + ' ' + f.path + '?'))) return;
  if (await change('/api/folders', { action: 'remove', index: ix.number, folder: state.folderSel })) state.folderSel = -1;
  renderConfig();
}

function setOption(body) {
  const ix = currentIndex();
  if (ix) change('/api/options', { index: ix.number, ...body });
}

function spinHour(up) {
  const h = currentIndex().options.optimize_hour;
  setOption({ optimize_hour: up ? (h === 24 ? 0 : h + 1) : (h === 0 ? 24 : h - 1) });
}

function spinSpace(up) {
  const mb = currentIndex().options.space_limit_mb;
  const next = up ? mb + 5 : Math.max(5, mb - 5);
  if (next !== mb) setOption({ space_limit_mb: next });
}

// The browse maximum moves in steps of 250 (down only above 2000); the
// configuration stores multiples of 1000, so values between are shown but
// stored only when they reach one.
function spinBrowse(up) {
  const stored = currentIndex().options.browse_limit;
  const shown = state.browsePending !== null ? state.browsePending : stored;
  let next = shown;
  if (up) next = shown + 250;
  else if (shown > 2000) next = shown - 250;
  if (next === shown) return;
  if (next % 1000 === 0) {
    state.browsePending = null;
    $('opt-browse-note').textContent = '';
    $('opt-browse-max').textContent = String(next);
    if (next !== stored) setOption({ browse_limit: next });
  } else {
    state.browsePending = next;
    $('opt-browse-note').textContent = 'stored when it reaches a multiple of 1000 (now ' + stored + ')';
    $('opt-browse-max').textContent = String(next);
  }
}

async function setPdfSize(field, input) {
  const old = state.config.pdf[field];
  const text = input.value.trim();
  const value = /^[0-9]+$/.test(text) ? Number(text) : NaN;
  if (!(value >= 100)) {
    $('config-message').textContent = T('IDS_THUMBSIZE') + ' / ' + T('IDS_PREVIEWSIZE') + ' >= 100';
    input.value = String(old);
    return;
  }
  await change('/api/pdf', { [field]: value });
}

// ---------------------------------------------------------------- statistics
async function refreshStatistics() {
  const s = await api('GET', '/api/statistics');
  if (state.statsSel >= s.indexes.length) state.statsSel = 0;
  fillIndexList($('stats-list'), s.indexes, state.statsSel, (i) => { state.statsSel = i; refreshStatistics(); });
  const ix = s.indexes[state.statsSel];
  $('stats-title').textContent = ix ? ix.title : '';
  fillLines($('stats-lines'), ix ? ix.lines : [], true);
  $('btn-clear-stats').disabled = !ix;
}

async function clearStatistics() {
  try { await api('POST', '/api/statistics/clear', { index: state.statsSel + 1 }); }
  catch (e) { await tell(T('IDS_ERROR'), e.message); }
  await refreshStatistics();
}

// ---------------------------------------------------------------- search
async function fillSearchIndexes() {
  const config = await api('GET', '/api/config');
  const select = $('search-index');
  const keep = select.value;
  select.replaceChildren();
  for (const ix of config.indexes) {
    const o = document.createElement('option');
    o.value = String(ix.number);
    o.textContent = ix.number + ' ' + ix.name;
    select.append(o);
  }
  if (keep) select.value = keep;
}

// What vantrelctl inspect shows of the hit's file, after its hit fields.
// Only the newest inspection fills the pane (a new search clears it too).
let inspectionsStarted = 0;
async function inspectHit(hit) {
  const inspection = ++inspectionsStarted;
  const names = Object.values(hit.client_names || {}).join('\n');
  const head = [hit.path || hit.key, hit.date + '  ' + hit.type, names].filter((x) => x).join('\n');
  $('search-inspect').textContent = head;
  let text;
  try {
    const q = new URLSearchParams({ index: $('search-index').value, key: hit.key });
    text = (await api('GET', '/api/inspect?' + q.toString())).text;
  } catch (e) {
    text = e.message;
  }
  if (inspection === inspectionsStarted) $('search-inspect').textContent = head + '\n\n' + text;
}

// "N Hits found in T Seconds", as the server's last-search line says it.
function hitsFoundLine(result) {
  const seconds = typeof result.seconds === 'number' ? result.seconds : 0;
  return result.found + ' ' + T('IDS_HITSFOUND').trim() + ' ' + seconds.toFixed(3) + ' ' + T('IDS_SECONDS').trim();
}

// Searches may answer out of order: only the newest one shows its answer,
// so the hits of a slow earlier search never mix into a later one's.
let searchesStarted = 0;
async function runSearch(ev) {
  ev.preventDefault();
  const search = ++searchesStarted;
  ++inspectionsStarted;
  $('search-message').textContent = '';
  $('search-inspect').textContent = '';
  const grid = $('search-hits');
  grid.replaceChildren();
  const q = new URLSearchParams({ index: $('search-index').value, q: $('search-query').value,
    sort: $('search-sort').value, limit: $('search-limit').value });
  let result;
  try { result = await api('GET', '/api/search?' + q.toString()); }
  catch (e) { if (search === searchesStarted) $('search-message').textContent = e.message; return; }
  if (search !== searchesStarted) return;
  $('search-message').textContent = hitsFoundLine(result);
  for (const hit of result.hits) {
    const cell = document.createElement('div');
    cell.className = 'hit';
    const img = document.createElement('img');
    img.alt = hit.name;
    img.src = '/api/preview?' + new URLSearchParams({ index: $('search-index').value, key: hit.key }).toString();
    const label = document.createElement('div');
    label.textContent = hit.name;
    cell.append(img, label);
    cell.addEventListener('click', () => inspectHit(hit));
    grid.append(cell);
  }
}

// ---------------------------------------------------------------- menu
async function menuTask(item, task) {
  if (!(await ask('Vantrel', state.menus[item]))) return;
  try { await api('POST', '/api/tasks', { task }); } catch (e) { await tell(T('IDS_ERROR'), e.message); }
}

// The thumbnail question when PDF thumbnail jobs wait: Yes waits for them,
// No drops them; undefined when none wait (the stop then decides itself).
async function askThumbnailQuestion() {
  let queued = 0;
  try { queued = (await api('GET', '/api/exit')).thumbnails_queued; } catch (e) { queued = 0; }
  if (!queued) return undefined;
  return ask('Vantrel', T('IDS_WAITFORPDFTHUMBS'));
}

function showStopped() {
  document.body.replaceChildren();
  const p = document.createElement('p');
  p.id = 'stopped';
  p.textContent = T('IDS_NOWSTOPPING');
  document.body.append(p);
}

async function menuExit() {
  if (!(await ask(T('IDS_QUITPROG'), T('IDS_AREYOUSURE'), OK_CANCEL()))) return;
  const wait = await askThumbnailQuestion();
  await api('POST', '/api/exit', wait === undefined ? {} : { wait_for_thumbnails: wait });
  showStopped();
}

async function menuAbout() {
  const box = document.createElement('div');
  box.className = 'about';
  const img = document.createElement('img');
  img.src = '/logo.svg';
  img.alt = 'Vantrel';
  const line = document.createElement('div');
  line.id = 'about-build';
  line.textContent = 'Build ' + state.build + ' ';
  box.append(img, line);
  await showDialog({ caption: 'Vantrel', extra: box, buttons: OK_ONLY() });
}

function wireMenus() {
  for (const menu of document.querySelectorAll('.menu')) {
    menu.querySelector('.menu-title').addEventListener('click', (ev) => {
      ev.stopPropagation();
      const open = menu.classList.contains('open');
      for (const m of document.querySelectorAll('.menu')) m.classList.remove('open');
      if (!open) menu.classList.add('open');
    });
  }
  document.addEventListener('click', () => { for (const m of document.querySelectorAll('.menu')) m.classList.remove('open'); });
  $('cmd-exit').addEventListener('click', menuExit);
  $('cmd-optimize').addEventListener('click', () => menuTask('IDM_OPTIMIZE', 'optimize'));
  $('cmd-rebuild').addEventListener('click', () => menuTask('IDM_REBUILD', 'rebuild'));
  $('cmd-rescan').addEventListener('click', () => menuTask('IDM_RESCAN', 'rescan'));
  $('cmd-about').addEventListener('click', menuAbout);
}

function wireControls() {
  for (const b of document.querySelectorAll('#tabs button')) b.addEventListener('click', () => selectTab(b.dataset.tab));
  $('btn-clear-log').addEventListener('click', () => api('POST', '/api/log/clear', {}));
  $('btn-log-file').addEventListener('click', logFileDialog);
  $('btn-log-options').addEventListener('click', logOptionsDialog);
  $('btn-edit').addEventListener('click', toggleEdit);
  $('btn-password').addEventListener('click', changePassword);
  $('page-chooser').addEventListener('change', () => showPage($('page-chooser').value));
  $('btn-new-index').addEventListener('click', newIndex);
  $('btn-rename-index').addEventListener('click', renameIndex);
  $('btn-delete-index').addEventListener('click', deleteIndex);
  $('btn-index-folder').addEventListener('click', selectIndexFolder);
  $('btn-add-path').addEventListener('click', addPath);
  $('btn-net-names').addEventListener('click', setNetNames);
  $('btn-set-options').addEventListener('click', setFolderOptions);
  $('btn-remove-path').addEventListener('click', removePath);
  $('opt-mac-text').addEventListener('change', (e) => setOption({ mac_text: e.target.checked }));
  $('opt-doc-info').addEventListener('change', (e) => setOption({ doc_info: e.target.checked }));
  $('opt-empty').addEventListener('change', (e) => setOption({ empty_fields: Number(e.target.value) }));
  $('opt-threshold').addEventListener('input', (e) => setOption({ unused_threshold: e.target.value }));
  $('opt-hour-up').addEventListener('click', () => spinHour(true));
  $('opt-hour-down').addEventListener('click', () => spinHour(false));
  $('opt-space').addEventListener('change', (e) => setOption({ space_warning: e.target.checked }));
  $('opt-space-up').addEventListener('click', () => spinSpace(true));
  $('opt-space-down').addEventListener('click', () => spinSpace(false));
  $('opt-browse').addEventListener('change', (e) => setOption({ browse_limit_on: e.target.checked }));
  $('opt-browse-up').addEventListener('click', () => spinBrowse(true));
  $('opt-browse-down').addEventListener('click', () => spinBrowse(false));
  $('pdf-thumb').addEventListener('change', (e) => setPdfSize('thumbnail_size', e.target));
  $('pdf-preview').addEventListener('change', (e) => setPdfSize('preview_size', e.target));
  $('pdf-leading').addEventListener('change', (e) => change('/api/pdf', { leading_preview: e.target.checked }));
  $('pdf-change').addEventListener('click', async () => {
    const folder = await chooseFolder(state.config.pdf.folder || '/');
    if (folder) await change('/api/pdf', { folder });
  });
  wireMetadataSwitches();
  $('btn-clear-stats').addEventListener('click', clearStatistics);
  $('search-form').addEventListener('submit', runSearch);
}

// The logo while the first status loads (the server shows it at start-up);
// a key or a click closes it early.
function closeSplash() {
  const splash = $('splash');
  if (splash) splash.remove();
}
function wireSplash() {
  document.addEventListener('keydown', closeSplash, { once: true });
  if ($('splash')) $('splash').addEventListener('click', closeSplash);
}
function splashFailed(e) {
  const note = document.createElement('p');
  note.id = 'splash-error';
  note.textContent = 'The console cannot reach the server: ' + e.message;
  ($('splash') || document.body).append(note);
}

async function start() {
  wireSplash();
  try {
    await loadPage();
  } catch (e) {
    splashFailed(e);
    throw e;
  }
  closeSplash();
  document.body.dataset.ready = 'true';
}

async function loadPage() {
  const texts = await api('GET', '/api/texts');
  state.texts = texts.texts;
  state.menus = texts.menus;
  state.build = texts.build;
  applyTexts();
  wireMenus();
  wireControls();
  await refreshSession();
  showStatus(await api('GET', '/api/status'));
  startEventStream();  // its first message holds the whole event list
  state.tab = '';
  await selectTab('status');
  showPage('paths');
}

document.addEventListener('DOMContentLoaded', start);
