"use strict";
// The operator's page. The run, its lines, the communication log and the task table follow
// /api/status and /api/tasks without a reload; a new task's channels are chosen direction by
// direction, as in the window's selection lists; the month grid comes a page of rows at a time.
// Every text from the service is shown as text, never as markup.

const $ = (id) => document.getElementById(id);
const PAGE = 500;
const LOG_LINES = 1000;
const MONTHS = ["Януари", "Февруари", "Март", "Април", "Май", "Юни", "Юли", "Август", "Септември",
  "Октомври", "Ноември", "Декември"];
const STATES = {
  dial: "0 набира", answer: "1 чака отговор", hold: "2 държи връзката", hangup: "3 затваря",
  pause: "4 пауза", connecting: "свързва се", recovering: "възстановява се", away: "- излезе от теста",
};
const ACTIONS = { disable: "Забрани", enable: "Разреши", start: "Стартирай сега" };

const state = {
  csrf: "", role: "viewer", logNext: 0, log: [], runFile: undefined,
  base: "", listing: null, marks: null, exChecked: new Set(), chOffset: 0, listingAsked: 0,
  month: null, gridOffset: 0,
};

class ApiError extends Error {
  constructor(message, status) { super(message); this.status = status; }
}

async function api(path, options = {}) {
  const init = { method: options.method || "GET", headers: {}, credentials: "same-origin" };
  if (init.method !== "GET") init.headers["X-CSRF-Token"] = state.csrf;
  if (options.body !== undefined) {
    init.headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(options.body);
  }
  const response = await fetch(path, init);
  if (response.status === 401) {
    location.replace("/login");
    throw new ApiError("Сесията е изтекла.", 401);
  }
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new ApiError(body.error || "Грешка " + response.status, response.status);
  return body;
}

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = text;
  if (className) e.className = className;
  return e;
}

function row(cells) {
  const tr = document.createElement("tr");
  for (const c of cells) tr.append(c instanceof Node ? c : element("td", c));
  return tr;
}

function cell(node) {
  const td = document.createElement("td");
  td.append(node);
  return td;
}

function say(id, text, bad) {
  const e = $(id);
  e.textContent = text || "";
  e.classList.toggle("alert", !!bad);
}

// --- the run, its lines and the log ---------------------------------------------------------

function showRun(run) {
  $("runNone").hidden = !!run;
  $("runInfo").hidden = !run;
  if (!run) return;
  $("runTitle").textContent = `Задача „${run.task}“ (${run.type}, ${run.file})` + (run.stopping ? " — спира" : "");
  $("runGauge").value = run.percent;
  $("runCount").textContent = `${run.done} от ${run.channels} канала (${run.percent}%)`;
  const body = $("lines").tBodies[0];
  body.replaceChildren(...run.lines.map((l) => row([l.name || "—", STATES[l.state] || l.state, l.channel])));
}

function appendLog(log) {
  if (log.next < state.logNext) state.log = []; // the service started again
  state.logNext = log.next;
  const messages = $("messages");
  let grew = false;
  for (const line of log.lines) {
    if (line.message) {
      const li = element("li", `${line.time.slice(11, 19)} ${line.text}`, "alert");
      messages.prepend(li);
      while (messages.children.length > 20) messages.lastChild.remove();
    } else {
      state.log.push(line.text);
      grew = true;
    }
  }
  if (!grew) return;
  if (state.log.length > LOG_LINES) state.log.splice(0, state.log.length - LOG_LINES);
  const pre = $("commLog");
  const atEnd = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 4;
  pre.textContent = state.log.join("\n");
  if (atEnd) pre.scrollTop = pre.scrollHeight;
}

async function pollStatus() {
  try {
    const s = await api("/api/status?log=" + state.logNext);
    $("offline").hidden = true;
    showRun(s.run);
    appendLog(s.log);
    const file = s.run ? s.run.file : null;
    if (file !== state.runFile) {
      state.runFile = file;
      refreshTasks();
    }
  } catch (e) {
    if (e.status !== 401) $("offline").hidden = false;
  }
  setTimeout(pollStatus, 1000);
}

// --- the task table -------------------------------------------------------------------------

async function taskAction(file, action, button) {
  button.disabled = true;
  try {
    const r = await api(`/api/tasks/${encodeURIComponent(file)}/${action}`, { method: "POST" });
    say("taskMessage", `Задача ${file}: „${r.status}“.`);
  } catch (e) {
    say("taskMessage", e.message, true);
  }
  refreshTasks();
}

function actionButton(t, action, caption) {
  const b = element("button", caption);
  b.type = "button";
  b.dataset.file = t.file;
  b.dataset.action = action;
  const allowed = t.actions.includes(action);
  b.disabled = !allowed || state.role !== "operator";
  if (state.role !== "operator") b.title = "Само операторът може да променя задачите.";
  b.addEventListener("click", () => taskAction(t.file, action, b));
  return b;
}

async function refreshTasks() {
  let t;
  try {
    t = await api("/api/tasks");
  } catch (e) {
    return;
  }
  const body = $("taskTable").tBodies[0];
  body.replaceChildren(...t.tasks.map((task) => {
    const actions = document.createElement("td");
    // The status button, by the window's rules; its caption follows the status.
    if (task.caption) {
      const action = task.caption === "Забрани" ? "disable" : task.caption === "Разреши" ? "enable" : "stop";
      actions.append(actionButton(task, action, task.caption));
    }
    actions.append(actionButton(task, "start", ACTIONS.start));
    const tr = row([String(task.no), task.name, task.type, task.start, task.status, task.file, actions]);
    if (task.file === t.running) tr.className = "running";
    return tr;
  }));
  if (!t.tasks.length) {
    const td = element("td", "Няма задачи в работната папка.");
    td.colSpan = 7;
    body.append(row([td]));
  }
  if (t.errors.length) say("taskMessage", t.errors.join(" "), true);
}

// --- a new task: directions, exchanges, channels ----------------------------------------------

function checkbox(text, checked, onChange, extra) {
  const label = element("label");
  const box = document.createElement("input");
  box.type = "checkbox";
  box.checked = checked;
  box.addEventListener("change", () => onChange(box.checked));
  label.append(box, " " + text);
  if (extra) box.dataset.index = extra;
  return label;
}

function checkedDirections() {
  return [...$("dirList").querySelectorAll("input")].filter((b) => b.checked).map((b) => b.parentNode.dataset.value);
}

async function loadDirections() {
  const c = await api("/api/channels");
  state.base = c.base;
  $("dirList").replaceChildren(...c.directions.map((d) => {
    const l = checkbox(d, false, () => directionsChanged());
    l.dataset.value = d;
    return l;
  }));
  const sel = $("resDir");
  sel.replaceChildren(sel.options[0], ...c.directions.map((d) => {
    const o = element("option", d);
    o.value = d;
    return o;
  }));
  directionsChanged();
}

function directionsChanged() {
  state.listing = null;
  state.marks = null;
  state.exChecked.clear();
  state.chOffset = 0;
  $("exList").replaceChildren();
  $("chList").replaceChildren();
  $("chPager").hidden = true;
  countChannels();
  if (checkedDirections().length) loadChannels();
}

async function loadChannels() {
  const directions = checkedDirections();
  const asked = ++state.listingAsked;
  const query = directions.map((d) => "direction=" + encodeURIComponent(d)).join("&");
  let c;
  try {
    c = await api(`/api/channels?${query}&offset=${state.chOffset}&limit=${PAGE}`);
  } catch (e) {
    say("formMessage", e.message, true);
    return;
  }
  if (asked !== state.listingAsked) return; // the choice changed meanwhile
  if (!state.listing) {
    state.listing = { base: c.base, directions, total: c.total, exchanges: c.exchanges };
    state.marks = new Uint8Array(c.total);
    $("exList").replaceChildren(...c.exchanges.map((e, i) =>
      checkbox(e.name, false, (on) => { on ? state.exChecked.add(i) : state.exChecked.delete(i); exchangesChanged(); })));
  }
  state.page = c.channels;
  showChannels();
}

// As in the window: a change of an exchange's mark sets every channel's mark from the exchanges.
function exchangesChanged() {
  state.marks.fill(0);
  for (const i of state.exChecked)
    for (const [first, last] of state.listing.exchanges[i].marks) state.marks.fill(1, first, last + 1);
  showChannels();
}

function showChannels() {
  const from = state.chOffset;
  $("chList").replaceChildren(...state.page.map((ch, i) =>
    checkbox(ch.text, state.marks[from + i] === 1, (on) => { state.marks[from + i] = on ? 1 : 0; countChannels(); }, from + i)));
  const total = state.listing.total;
  $("chPager").hidden = total <= PAGE;
  $("chPage").textContent = `${from + 1}–${Math.min(from + PAGE, total)} от ${total}`;
  $("chPrev").disabled = from === 0;
  $("chNext").disabled = from + PAGE >= total;
  countChannels();
}

function countChannels() {
  if (!state.marks) {
    $("chCount").textContent = "";
    return;
  }
  const n = state.marks.reduce((a, b) => a + b, 0);
  $("chCount").textContent = `(избрани ${n} от ${state.marks.length})`;
}

function selectAll(list, on) {
  if (list === "dir") {
    for (const b of $("dirList").querySelectorAll("input")) b.checked = on;
    directionsChanged();
  } else if (list === "ex" && state.listing) {
    for (const b of $("exList").querySelectorAll("input")) b.checked = on;
    state.exChecked = new Set(on ? state.listing.exchanges.map((_, i) => i) : []);
    exchangesChanged();
  } else if (list === "ch" && state.marks) {
    state.marks.fill(on ? 1 : 0);
    showChannels();
  }
}

function chosenRanges() {
  const ranges = [];
  const m = state.marks || [];
  for (let i = 0; i < m.length; ++i) {
    if (!m[i]) continue;
    let j = i;
    while (j + 1 < m.length && m[j + 1]) ++j;
    ranges.push([i, j]);
    i = j;
  }
  return ranges;
}

async function addTask(event) {
  event.preventDefault();
  const type = document.querySelector("input[name=type]:checked").value;
  const channels = chosenRanges();
  if (!channels.length) {
    say("formMessage", "Не е избран канал за проба. Моля изберете канал.", true);
    return;
  }
  $("addTask").disabled = true;
  try {
    const r = await api("/api/tasks", {
      method: "POST",
      body: {
        name: $("taskName").value, type, hour: Number($("taskHour").value), minute: Number($("taskMinute").value),
        base: state.listing.base, directions: state.listing.directions, channels,
      },
    });
    say("formMessage", `Задачата е записана във файл ${r.file}.` + (r.warning ? " " + r.warning : ""), !!r.warning);
    refreshTasks();
  } catch (e) {
    say("formMessage", e.message, true);
    if (e.status === 409) loadDirections();
  } finally {
    $("addTask").disabled = state.role !== "operator";
  }
}

// --- the month grid and the tests of a day ------------------------------------------------------

function monthId(year, month) {
  return String(year % 100).padStart(2, "0") + String(month).padStart(2, "0");
}

async function openMonth(year, month, offset) {
  const dir = $("resDir").value;
  const query = (dir ? "direction=" + encodeURIComponent(dir) + "&" : "") + `offset=${offset}&limit=${PAGE}`;
  const id = monthId(year, month);
  let m;
  try {
    m = await api(`/api/months/${id}?${query}`);
  } catch (e) {
    say("monthMessage", e.message, true);
    return false;
  }
  say("monthMessage", "");
  state.month = { id, year, month, dir };
  state.gridOffset = offset;
  $("monthSel").value = String(month);
  $("yearSel").value = String(year);
  $("monthTitle").textContent = m.title;
  $("openMonth").textContent = "Опресни";
  $("monthView").hidden = false;
  const q = dir ? "direction=" + encodeURIComponent(dir) : "";
  const updateExport = () => {
    const c = $("exportComments").checked ? "comments=1" : "";
    $("exportLink").href = `/api/months/${id}/workbook?` + [q, c].filter(Boolean).join("&");
  };
  $("exportComments").onchange = updateExport;
  updateExport();
  $("exportLink").download = id + ".xlsx";
  $("reportLink").href = `/api/months/${id}/report`;
  const head = [element("th", "№"), element("th", "Направление -- Канал")];
  for (let d = 1; d <= m.days; ++d) head.push(element("th", String(d)));
  $("monthGrid").tHead.replaceChildren(row(head));
  $("monthGrid").tBodies[0].replaceChildren(...m.rows.map((r) => {
    const cells = [String(r.no), r.label];
    const tr = row(cells);
    r.marks.forEach((mark, i) => {
      const td = element("td", mark, mark ? "mark m" + mark : "day");
      td.dataset.day = String(i + 1);
      td.dataset.label = r.label;
      tr.append(td);
    });
    return tr;
  }));
  $("gridPager").hidden = m.total <= PAGE;
  $("gridPage").textContent = `Редове ${offset + 1}–${Math.min(offset + PAGE, m.total)} от ${m.total}`;
  $("gridPrev").disabled = offset === 0;
  $("gridNext").disabled = offset + PAGE >= m.total;
  return true;
}

async function stepMonth(delta) {
  if (!state.month) return;
  let { year, month } = state.month;
  month += delta;
  if (month < 1) { month = 12; --year; }
  if (month > 12) { month = 1; ++year; }
  await openMonth(year, month, 0); // a month without data leaves the one shown
}

async function showDay(td) {
  const { id } = state.month;
  const d = await api(`/api/months/${id}/days/${td.dataset.day}?channel=${encodeURIComponent(td.dataset.label)}`)
    .catch((e) => ({ error: e.message, tests: [] }));
  $("detailsTitle").textContent = d.error || d.title;
  $("detailsTable").tBodies[0].replaceChildren(...d.tests.map((t) => row([String(t.no), t.answer, t.delay, t.time])));
  $("detailsNone").hidden = d.tests.length > 0;
  $("details").hidden = false;
}

// --- the page ---------------------------------------------------------------------------------

function showPage(results) {
  $("pageTasks").hidden = results;
  $("pageResults").hidden = !results;
  $("tabTasks").setAttribute("aria-pressed", String(!results));
  $("tabResults").setAttribute("aria-pressed", String(results));
}

async function start() {
  const s = await api("/api/session");
  state.csrf = s.csrf;
  state.role = s.role;
  $("userName").textContent = `${s.name} (${s.role === "operator" ? "оператор" : "наблюдател"})`;
  $("addTask").disabled = s.role !== "operator";
  $("tabTasks").addEventListener("click", () => showPage(false));
  $("tabResults").addEventListener("click", () => showPage(true));
  $("logout").addEventListener("click", async () => {
    await api("/api/logout", { method: "POST" }).catch(() => {});
    location.replace("/login");
  });
  for (const r of document.querySelectorAll("input[name=type]"))
    r.addEventListener("change", () => { $("taskTime").hidden = r.value === "Веднага" && r.checked; });
  for (const b of document.querySelectorAll("[data-all]")) b.addEventListener("click", () => selectAll(b.dataset.all, true));
  for (const b of document.querySelectorAll("[data-none]")) b.addEventListener("click", () => selectAll(b.dataset.none, false));
  $("chPrev").addEventListener("click", () => { state.chOffset -= PAGE; loadChannels(); });
  $("chNext").addEventListener("click", () => { state.chOffset += PAGE; loadChannels(); });
  $("taskForm").addEventListener("submit", addTask);

  const now = new Date();
  $("monthSel").replaceChildren(...MONTHS.map((name, i) => {
    const o = element("option", name);
    o.value = String(i + 1);
    return o;
  }));
  $("monthSel").value = String(now.getMonth() + 1);
  $("yearSel").value = String(now.getFullYear());
  $("monthForm").addEventListener("submit", (e) => {
    e.preventDefault();
    const year = Math.min(2100, Math.max(1995, Number($("yearSel").value) || now.getFullYear()));
    openMonth(year, Number($("monthSel").value), 0);
  });
  $("prevMonth").addEventListener("click", () => stepMonth(-1));
  $("nextMonth").addEventListener("click", () => stepMonth(1));
  $("gridPrev").addEventListener("click", () => openMonth(state.month.year, state.month.month, state.gridOffset - PAGE));
  $("gridNext").addEventListener("click", () => openMonth(state.month.year, state.month.month, state.gridOffset + PAGE));
  $("closeMonth").addEventListener("click", () => {
    $("monthView").hidden = true;
    $("openMonth").textContent = "Отвори";
    state.month = null;
  });
  $("monthGrid").addEventListener("click", (e) => {
    const td = e.target.closest("td[data-day]");
    if (td) showDay(td);
  });
  $("closeDetails").addEventListener("click", () => { $("details").hidden = true; });

  pollStatus();
  setInterval(refreshTasks, 3000);
  loadDirections().catch((e) => say("formMessage", e.message, true));
}

start().catch(() => {});
