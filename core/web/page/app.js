// SPDX-License-Identifier: GPL-3.0-or-later
// The live page: the latest record every second, the last hour's chart
// every ten seconds, both from the logger that served this page.
'use strict';

const $ = (id) => document.getElementById(id);
// The log's decimals for each reading of the state.
const readings = { power: 3, apparent_power: 3, voltage: 2, current: 3, power_factor: 3 };

async function getJson(path) {
  const reply = await fetch(path, { cache: 'no-store' });
  if (!reply.ok) throw new Error(path + ': ' + reply.status);
  return reply.json();
}

function two(n) { return String(n).padStart(2, '0'); }

// Seconds as h:mm:ss, the readout's way.
function elapsed(s) {
  return `${two(Math.floor(s / 3600))}:${two(Math.floor(s / 60) % 60)}:${two(Math.floor(s) % 60)}`;
}

function clock(iso) {
  return iso ? iso.slice(11, 19) : '';
}

function showLive(live) {
  $('port').textContent = live.port;
  const s = live.state;
  for (const key of Object.keys(readings))
    $(key).textContent = s && s[key] !== null ? s[key].toFixed(readings[key]) : '–';
  $('lead_lag').textContent = s ? s.lead_lag : '';
  $('energy').textContent = s && s.energy !== null ? s.energy.toFixed(3) : '–';
  $('elapsed').textContent = s && s.elapsed !== null ? elapsed(s.elapsed) : '–';
  const status = $('status');
  status.className = 'status ' + (live.meter ? 'up' : 'down');
  status.textContent = live.meter ? 'The meter answers'
    : live.at ? `The meter does not answer; last record at ${clock(live.at)}` : 'The meter does not answer yet';
  $('today').textContent = live.today ? live.today.kwh : '–';
  $('cost').textContent = live.today && live.today.cost ? live.today.cost : '';
  $('since').textContent = live.today ? `since ${live.today.since.slice(0, 10)} ${clock(live.today.since).slice(0, 5)}` : 'no record today yet';
  const parts = [];
  if ('written' in live) parts.push(`${live.written} records written, ${live.missed} missed`);
  if ('broker' in live) parts.push(live.broker ? 'MQTT broker connected' : 'MQTT broker not connected');
  $('log').textContent = parts.join(' · ');
}

async function liveLoop() {
  try {
    showLive(await getJson('live.json'));
  } catch (e) {
    const status = $('status');
    status.className = 'status down';
    status.textContent = 'The logger does not answer';
  }
  setTimeout(liveLoop, 1000);
}

let chart = null;

// Points with a break at each silence, so no line crosses it.
function chartData(h) {
  const data = h.points.map(([x, y]) => ({ x, y }));
  for (const [from, to] of h.gaps) data.push({ x: (from + to) / 2, y: null });
  return data.sort((a, b) => a.x - b.x);
}

async function chartLoop() {
  try {
    const h = await getJson('history.json');
    const data = chartData(h);
    if (typeof Chart === 'undefined') {
      $('chart-note').textContent = 'No chart: the chart library (Debian package libjs-chart.js) is not installed.';
    } else if (!chart) {
      const time = (ms) => new Date(ms).toTimeString().slice(0, 5);
      chart = new Chart($('chart'), {
        type: 'line',
        data: { datasets: [{ data, borderColor: '#2a6fdb', borderWidth: 1.5, pointRadius: 0, spanGaps: false }] },
        options: {
          animation: false, parsing: false, maintainAspectRatio: false,
          plugins: { legend: { display: false } },
          scales: {
            x: { type: 'linear', min: h.from, max: h.to, ticks: { stepSize: 600000, callback: time } },
            y: { beginAtZero: true, title: { display: true, text: 'W' } },
          },
        },
      });
    } else {
      chart.data.datasets[0].data = data;
      chart.options.scales.x.min = h.from;
      chart.options.scales.x.max = h.to;
      chart.update();
    }
    $('chart').dataset.points = h.points.length;
  } catch (e) {
    $('chart-note').textContent = 'The last hour could not be fetched.';
  }
  setTimeout(chartLoop, 10000);
}

liveLoop();
chartLoop();
