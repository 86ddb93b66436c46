#include "serve/LivePage.h"

namespace {

constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>K-350 line live</title>
<style>
:root { --ok: #1b7f3b; --bad: #c62828; --warn: #b26a00; --ink: #1d232b; --muted: #5d6875;
        --line: #d5dbe2; --card: #ffffff; --page: #eef1f4; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.35 system-ui, sans-serif; color: var(--ink); background: var(--page); }
header { display: flex; flex-wrap: wrap; gap: 4px 16px; align-items: baseline; padding: 8px 14px;
         background: var(--ink); color: #fff; }
header h1 { font-size: 18px; margin: 0; }
header a { color: #cfe3ff; margin-left: auto; }
#clock { color: #c9d1d9; }
#banner { padding: 8px 14px; background: var(--bad); color: #fff; font-weight: 600; }
#alerts { padding: 0 14px; }
.alert { margin: 8px 0 0; padding: 6px 10px; border-left: 4px solid var(--warn); background: #fff4e0; }
main { display: grid; grid-template-columns: repeat(auto-fill, minmax(420px, 1fr)); gap: 10px;
       padding: 10px 14px; }
.card { background: var(--card); border: 1px solid var(--line); border-radius: 6px; padding: 8px 10px; }
.card.silent { border-color: var(--bad); box-shadow: 0 0 0 2px var(--bad) inset; }
.card h2 { font-size: 16px; margin: 0; display: inline; }
.meta { color: var(--muted); font-size: 12px; }
.beat.silent { color: var(--bad); font-weight: 700; }
.counts { margin: 4px 0 6px; font-size: 13px; }
.counts b { font-variant-numeric: tabular-nums; }
.tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(96px, 1fr)); gap: 6px; }
.tile { border: 1px solid var(--line); border-radius: 4px; padding: 4px 6px; font-size: 12px;
        min-height: 92px; font-variant-numeric: tabular-nums; }
.tile .port { font-weight: 700; }
.tile .serial { font-size: 15px; font-weight: 700; }
.tile .die { color: var(--muted); font-size: 11px; overflow-wrap: anywhere; }
.bar { height: 6px; background: #e3e7ec; border-radius: 3px; overflow: hidden; margin: 3px 0; }
.bar > div { height: 100%; background: #2f6fdf; }
.result-passed { color: var(--ok); font-weight: 700; }
.result-failed, .result-interrupted, .result-unusable { color: var(--bad); font-weight: 700; }
.tile.failed { background: #fdecec; }
.tile.passed { background: #eaf6ee; }
.empty { color: var(--muted); padding: 20px 14px; }
@media (max-width: 520px) {
  main { grid-template-columns: 1fr; padding: 8px; }
  .tiles { grid-template-columns: repeat(2, 1fr); }
  header a { margin-left: 0; }
}
</style></head>
<body>
<header><h1>The line live</h1><span id="clock"></span><a href="/report">Today's report</a></header>
<div id="banner" hidden></div>
<div id="alerts"></div>
<main id="benches"><p class="empty">No bench has reported yet.</p></main>
<script id="state" type="application/json">)";

constexpr const char* kScript = R"(</script>
<script>
"use strict";
const initial = JSON.parse(document.getElementById("state").textContent);
const line = { benches: {}, ports: {}, figures: initial.figures || {}, banner: initial.banner || "" };
const silentMs = (initial.silent_seconds || 15) * 1000;
// The server's clock, not the browser's, tells how old a heartbeat is.
const offset = Date.parse(initial.now) - Date.now();
const now = () => Date.now() + offset;
for (const b of initial.benches) line.benches[b.name] = b;
for (const p of initial.ports) line.ports[p.bench + "\u0000" + p.port] = p;

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function local(iso) {
  if (!iso) return "";
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", second: "2-digit" });
}
function span(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  return s < 60 ? s + " s" : Math.floor(s / 60) + " min " + (s % 60) + " s";
}
function percent(v) { return v === null || v === undefined ? "–" : (v * 100).toFixed(1) + " %"; }

function tile(p) {
  const t = el("div", "tile");
  t.dataset.port = p.port;
  const under = p.step && p.step !== "board";
  if (!under && p.last_result) t.classList.add(p.last_result === "passed" ? "passed" : "failed");
  t.append(el("div", "port", p.port));
  t.append(el("div", "serial", p.serial || "—"));
  t.append(el("div", "die", p.die_id || ""));
  if (under) {
    t.append(el("div", "step", p.step + " " + (p.state === "progress" ? "" : p.state)));
    const bar = el("div", "bar"), fill = el("div");
    fill.style.width = (p.total > 0 ? Math.min(100, 100 * p.done / p.total) : (p.state === "done" ? 100 : 0)) + "%";
    bar.append(fill);
    t.append(bar);
    const since = Date.parse(p.step_since);
    t.append(el("div", "since", isNaN(since) ? "" : "for " + span(now() - since)));
    t.dataset.since = p.step_since || "";
  }
  if (p.last_result) {
    const r = el("div", "result-" + p.last_result, "last: " + p.last_result);
    if (p.last_error) r.title = p.last_error;
    t.append(r);
  }
  return t;
}

function card(b) {
  const c = el("section", "card");
  c.dataset.bench = b.name;
  const title = el("div");
  title.append(el("h2", "", b.name), document.createTextNode(" "), el("span", "meta", b.recipe + " · " + b.host + " · " + b.version));
  c.append(title);
  const beat = el("div", "beat meta");
  beat.dataset.heartbeat = b.heartbeat;
  beat.dataset.state = b.state;
  c.append(beat);
  const f = (line.figures.benches || []).find(x => x.bench === b.name);
  const counts = el("div", "counts");
  if (f) {
    counts.append("Today: ", el("b", "", String(f.boards)), " boards, ", el("b", "", String(f.passed)),
                  " passed, ", el("b", "", String(f.failed)), " failed, first-pass yield ",
                  el("b", "", percent(f.first_pass_yield)));
  } else {
    counts.textContent = "Today: no runs";
  }
  if (b.journal_runs) counts.append(" · ", el("b", "", String(b.journal_runs)), " runs waiting in its journal");
  c.append(counts);
  const tiles = el("div", "tiles");
  const ports = Object.values(line.ports).filter(p => p.bench === b.name)
    .sort((x, y) => x.port.localeCompare(y.port, undefined, { numeric: true }));
  for (const p of ports) tiles.append(tile(p));
  c.append(tiles);
  return c;
}

function render() {
  const main = document.getElementById("benches");
  // A port whose bench has not said itself yet still has its card.
  const known = new Set(Object.keys(line.benches));
  for (const p of Object.values(line.ports)) known.add(p.bench);
  const names = [...known].sort((x, y) => x.localeCompare(y, undefined, { numeric: true }));
  main.replaceChildren(...names.map(n => card(line.benches[n] ||
    { name: n, recipe: "", host: "", version: "", heartbeat: "", state: "" })));
  if (!names.length) main.append(el("p", "empty", "No bench has reported yet."));
  const banner = document.getElementById("banner");
  banner.textContent = line.banner;
  banner.hidden = !line.banner;
  const alerts = document.getElementById("alerts");
  alerts.replaceChildren(...(line.figures.alerts || []).map(a => el("div", "alert", a.bench + ": " + a.text)));
  tick();
}

function tick() {
  document.getElementById("clock").textContent = new Date(now()).toLocaleString();
  for (const beat of document.querySelectorAll(".beat")) {
    const at = Date.parse(beat.dataset.heartbeat);
    const silent = beat.dataset.state !== "stopped" && !isNaN(at) && now() - at > silentMs;
    beat.classList.toggle("silent", silent);
    beat.closest(".card").classList.toggle("silent", silent);
    if (!beat.dataset.heartbeat) { beat.textContent = "no heartbeat yet"; continue; }
    beat.textContent = beat.dataset.state === "stopped" ? "stopped at " + local(beat.dataset.heartbeat)
      : silent ? "silent since " + local(beat.dataset.heartbeat)
      : beat.dataset.state + ", heartbeat " + local(beat.dataset.heartbeat);
  }
  for (const s of document.querySelectorAll(".tile .since")) {
    const since = Date.parse(s.parentElement.dataset.since);
    if (!isNaN(since)) s.textContent = "for " + span(now() - since);
  }
}

render();
setInterval(tick, 1000);
if (window.EventSource) {
  const events = new EventSource("/events");
  let pending = false;
  const later = () => { if (!pending) { pending = true; requestAnimationFrame(() => { pending = false; render(); }); } };
  events.addEventListener("bench", e => { const b = JSON.parse(e.data); line.benches[b.name] = b; later(); });
  events.addEventListener("port", e => { const p = JSON.parse(e.data); line.ports[p.bench + "\u0000" + p.port] = p; later(); });
  events.addEventListener("figures", e => { line.figures = JSON.parse(e.data); later(); });
  events.addEventListener("banner", e => { line.banner = JSON.parse(e.data).text; later(); });
}
</script>
</body></html>
)";

// The state inside a script element: "</" would end it early.
std::string ScriptSafe(std::string json) {
    for (auto at = json.find("</"); at != std::string::npos; at = json.find("</", at + 3)) {
        json.replace(at, 2, "<\\/");
    }
    return json;
}

}  // namespace

std::string LivePage(const nlohmann::ordered_json& state) {
    return kHead + ScriptSafe(state.dump()) + kScript;
}
