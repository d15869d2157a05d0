// How far the dock lags behind a real browser window that moves. The set-up
// is the browser story's: its own Xvfb with openbox, devsim, the shell on
// the X11 desktop, a headful Chromium showing the test page, a device
// created and a live preview (layout 2, all channels) over the page's
// magenta area. Then the browser is moved 50 times through CDP
// Browser.setWindowBounds to places spread over the screen. For each move,
// one read of the display's windows after another (a serving xprobe, so a
// read costs round trips, not a program start) sees both windows; the
// dock's lag is the time from the first read that shows the browser at its
// new place to the first that shows the dock where the page area now is.
// The baseline is the browser window itself: from the request to the first
// read that shows it moved. Both are only as fine as one read of the
// display, whose time is printed too.
//
// Usage: node dock-follow.mjs --bin BUILD/bin --probe BUILD/tests/xprobe [--moves N]
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { performance } from 'node:perf_hooks';

import {
  childOutputs, parseArgs, startDevsim, startDisplay, startPageServer, startShell, stopAll, waitFor,
} from '../../tests/browser/harness.mjs';

// playwright-core is installed beside the browser tests (scripts/install-deps).
const require = createRequire(new URL('../../tests/browser/package.json', import.meta.url));
const { chromium } = require('playwright-core');

const args = parseArgs(process.argv, ['bin', 'probe']);
// How often the shell's supervision pass moves docks after their browsers.
const TRACKING_PERIOD_MS = 150;
const MOVES = Number(args.moves ?? 50);
const CHROMIUM = '/usr/lib/chromium/chromium';
const TITLE = 'Kestrova browser test';
const WIDTH = 1200;
const HEIGHT = 900;

let browser;
let probe;
const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrova-dock-follow-'));

// An interrupted run ends everything it started, as a finished one does.
let stopping = false;
async function shutDown() {
  if (stopping) return;
  stopping = true;
  await browser?.close().catch(() => {});
  await stopAll();
  fs.rmSync(workDir, { recursive: true, force: true });
}
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => shutDown().finally(() => process.exit(128 + (signal === 'SIGINT' ? 2 : 15))));
}

function browserWindowIn(windows) {
  return windows.find((w) => w.title.endsWith(' - Chromium') && w.title.includes(TITLE));
}
function dockIn(windows, shellPid, browserId) {
  return windows.find((w) => w.pid === shellPid && w.owner === browserId);
}
// Where the page area of a restored browser starts on the screen: inside the
// invisible border that Chromium keeps around its window.
function pageOrigin(win) {
  return { x: win.x + win.gtk[0], y: win.y + win.gtk[2] };
}
function near(a, b, slack = 1) {
  return Math.abs(a - b) <= slack;
}
function covers(dock, expected) {
  return dock && dock.viewable && near(dock.x, expected.x) && near(dock.y, expected.y) && near(dock.w, expected.w) &&
    near(dock.h, expected.h);
}

// Places spread over the 1920 x 1080 screen where the whole window fits,
// each far from the one before.
function target(i) {
  return { left: 20 + ((i * 263) % 680), top: 20 + ((i * 97) % 150) };
}

function quantile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.round(p * (sorted.length - 1)))];
}
function figures(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const f = (v) => v.toFixed(1).padStart(7);
  return `p50 ${f(quantile(sorted, 0.5))} ms   p99 ${f(quantile(sorted, 0.99))} ms   max ${f(sorted.at(-1))} ms`;
}

async function bench() {
  const display = await startDisplay(args.probe);
  probe = display.probe;
  const device = await startDevsim(args.bin);
  // The test page comes from a server of its own: an origin the shell must list.
  const pageUrl = await startPageServer();
  const shell = await startShell(args.bin, display.env, workDir, { KESTROVA_ALLOWED_ORIGINS: new URL(pageUrl).origin });

  browser = await chromium.launch({
    executablePath: CHROMIUM,
    headless: false,
    env: display.env,
    args: ['--ozone-platform=x11', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic', '--window-position=100,60',
      `--window-size=${WIDTH},${HEIGHT}`],
  });
  const context = await browser.newContext({ viewport: null });
  const page = await context.newPage();
  await page.goto(pageUrl);
  await page.evaluate((port) => window.kestrova.open(port), shell.port);
  const send = (command) => page.evaluate((c) => window.kestrova.send(c), command);
  const cdp = await context.newCDPSession(page);
  const { windowId } = await cdp.send('Browser.getWindowForTarget');

  const restored = await waitFor('the browser window with the page title', () => browserWindowIn(probe.windows()));
  const rect = await page.evaluate(() => window.kestrova.dockRect('video'));
  const created = await send({
    Fountion: 'createDev',
    Device: { MAC: '00-11-22-33-44-55', totalChannel: 4, cmdPort: device.commandPort, mediaPort: device.mediaPort,
      stream: [2, 2, 2, 2], resShowBitrate: 'Bitrate', resMainStream: 'Main', resSubStream: 'Sub',
      resThirdStream: 'Third' },
    Auth: { usr: 'admin', pwd: 'admin', address: '127.0.0.1' },
  });
  if (created.code !== 200) throw new Error(`createDev: ${JSON.stringify(created)}`);
  const preview = await send({ Fountion: 'live', LiveCtrl: { type: 1, uniqueId: created.uniqueId, channel: 0,
    Preview: { title: TITLE, layout: 2, openAll: true, adjustPos: false, channelName: ['Gate', 'Yard', 'Hall', 'Roof'],
      ...rect } } });
  if (preview.code !== 200) throw new Error(`live preview: ${JSON.stringify(preview)}`);
  const origin = pageOrigin(restored);
  await waitFor('the dock over the page area', () => covers(dockIn(probe.windows(), shell.pid, restored.id),
    { x: origin.x + rect.x, y: origin.y + rect.y, w: rect.w, h: rect.h }), 15000);

  const reader = probe.serve();
  const browserLag = [];
  const dockLag = [];
  const readTimes = [];
  for (let i = 1; i <= MOVES; ++i) {
    const { left, top } = target(i);
    // Each move starts at a random point of the shell's tracking period:
    // moving right after the dock followed would always land at the same
    // phase and measure that phase, not the lag a user meets.
    await new Promise((resolve) => setTimeout(resolve, Math.random() * TRACKING_PERIOD_MS));
    let browserSeen = 0;
    const requested = performance.now();
    await cdp.send('Browser.setWindowBounds', { windowId, bounds: { left, top } });
    await waitFor(`the browser at ${left},${top} and the dock over its page area`, async () => {
      const before = performance.now();
      const windows = await reader.windows();
      const now = performance.now();
      readTimes.push(now - before);
      const b = browserWindowIn(windows);
      if (!browserSeen) {
        if (!b || b.x !== left || b.y !== top) return false;
        browserSeen = now;
      }
      const o = pageOrigin(b);
      const expected = { x: o.x + rect.x, y: o.y + rect.y, w: rect.w, h: rect.h };
      if (!covers(dockIn(windows, shell.pid, b.id), expected)) return false;
      browserLag.push(browserSeen - requested);
      dockLag.push(now - browserSeen);
      return true;
    }, 10000, 0);
  }

  console.log(`dock-follow: ${os.cpus().length} cores, display ${display.display}, ${MOVES} browser moves`);
  console.log(`  browser window, request -> seen moved    ${figures(browserLag)}`);
  console.log(`  dock, browser seen moved -> dock seen    ${figures(dockLag)}`);
  console.log(`  one read of the display's windows        ${figures(readTimes)}`);
}

let failed = false;
try {
  await bench();
} catch (error) {
  failed = true;
  console.error(`dock-follow failed: ${error.stack}`);
  console.error(childOutputs());
} finally {
  await shutDown();
}
process.exit(failed ? 1 : 0);
