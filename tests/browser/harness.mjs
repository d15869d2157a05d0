// What a browser story needs around it: its own X display with a window
// manager, the device simulator, the shell on that display, Chromium, a
// loopback server for the test page, and xprobe to read what the display
// shows; and what the stories look for on that display (the browser window,
// the dock over it, cells that play). Everything started here is ended by
// `stopAll`, also when the story fails.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const children = [];

export const CHROMIUM = '/usr/lib/chromium/chromium';
export const SCREEN = { x: 0, y: 0, w: 1920, h: 1080 };
export const MAGENTA = 'ff00ff';

export function log(text) {
  console.log(`[${new Date().toISOString().slice(11, 23)}] ${text}`);
}

// "--name value" pairs after the script's name; each of `required` must be there.
export function parseArgs(argv, required = ['bin', 'probe', 'artifacts']) {
  const args = {};
  for (let i = 2; i + 1 < argv.length; i += 2) args[argv[i].replace(/^--/, '')] = argv[i + 1];
  for (const name of required) {
    if (!args[name]) throw new Error(`missing --${name}`);
  }
  return args;
}

// Polls `probe` until it returns a truthy value; that value, or an error
// naming `what` once `ms` have passed. Every wait of a story goes through here.
export async function waitFor(what, probe, ms = 10000, every = 10) {
  const deadline = Date.now() + ms;
  let last;
  for (;;) {
    last = await probe();
    if (last) return last;
    if (Date.now() > deadline) throw new Error(`timed out after ${ms} ms waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, every));
  }
}

function track(child, name) {
  child.name = name;
  child.output = '';
  for (const stream of [child.stdout, child.stderr]) {
    stream?.on('data', (chunk) => {
      child.output = (child.output + chunk.toString()).slice(-20000);
    });
  }
  // A program that cannot start reports it here, not as an uncaught error.
  child.on('error', (error) => {
    child.failure = error;
    child.output += `\n${error.message}`;
  });
  children.push(child);
  return child;
}

function ended(child) {
  return child.failure || child.exitCode !== null || child.signalCode !== null;
}

// Whatever happens to the story, nothing it started outlives it.
process.on('exit', () => {
  for (const child of children) if (!ended(child)) child.kill?.('SIGKILL');
});

export async function stopAll() {
  for (const child of children.reverse()) {
    if (ended(child)) continue;
    const exited = new Promise((resolve) => child.once('exit', resolve));
    child.kill('SIGTERM');
    const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
    await exited;
    clearTimeout(timer);
  }
  children.length = 0;
}

export function childOutputs() {
  return children.map((child) => `== ${child.name} ==\n${child.output}`).join('\n');
}

// A port nobody listens on now; a start that loses it to another program
// fails loudly, and the caller starts again on a new one.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

// Xvfb on a display it picks itself, then openbox with the tests' own
// configuration, ready once it announces itself on the root window.
export async function startDisplay(probePath) {
  const xvfb = track(spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1920x1080x24', '-nolisten', 'tcp', '-noreset'],
    { stdio: ['ignore', 'pipe', 'pipe', 'pipe'] }), 'Xvfb');
  const number = await new Promise((resolve, reject) => {
    let text = '';
    xvfb.stdio[3].on('data', (chunk) => {
      text += chunk.toString();
      if (text.includes('\n')) resolve(text.trim());
    });
    xvfb.once('exit', (code) => reject(new Error(`Xvfb ended (${code}): ${xvfb.output}`)));
    xvfb.once('error', (error) => reject(new Error(`Xvfb did not start: ${error.message}`)));
  });
  const display = `:${number}`;
  const env = { ...process.env, DISPLAY: display };
  track(spawn('openbox', ['--config-file', path.join(here, 'openbox-rc.xml')], { env, stdio: ['ignore', 'pipe', 'pipe'] }),
    'openbox');
  const probe = new XProbe(probePath, display);
  await waitFor('openbox on the display', () => probe.windowManagerRuns(), 15000, 20);
  return { display, env, probe };
}

export async function startDevsim(bin) {
  const devsim = track(spawn(path.join(bin, 'devsim'), ['--port', '0', '--media-port', '0', '--channels', '4',
    '--print-ports'], { stdio: ['ignore', 'pipe', 'pipe'] }), 'devsim');
  return waitFor('devsim ports', () => {
    const match = /devsim command=(\d+) media=(\d+)/.exec(devsim.output);
    if (ended(devsim)) throw new Error(`devsim ended: ${devsim.output}`);
    return match && { commandPort: Number(match[1]), mediaPort: Number(match[2]) };
  }, 10000);
}

// `extraEnv`: more variables for the shell (KESTROVA_ALLOWED_ORIGINS for a
// page served from elsewhere).
export async function startShell(bin, env, workDir, extraEnv = {}) {
  for (let attempt = 0; attempt < 3; ++attempt) {
    const port = await freePort();
    const shell = track(spawn(path.join(bin, 'kestrova'), [], {
      // An instance name of its own: a shell the user runs does not keep this one out.
      env: { ...env, KESTROVA_UI: 'x11', KESTROVA_WS_PORT: String(port), TMPDIR: workDir, XDG_CONFIG_HOME: workDir,
        KESTROVA_INSTANCE_NAME: `kestrova-browser-test-${process.pid}-${attempt}`, ...extraEnv },
      stdio: ['ignore', 'pipe', 'pipe'],
    }), 'kestrova');
    const up = await waitFor('the shell listening', async () => {
      if (ended(shell)) return 'ended';
      return (await canConnect(port)) && 'up';
    }, 15000, 20);
    if (up === 'up') return { port, pid: shell.pid, process: shell };
  }
  throw new Error('the shell did not start three times');
}

// Serves the story's test page on loopback.
export async function startPageServer() {
  const page = fs.readFileSync(path.join(here, 'page.html'));
  const server = http.createServer((request, response) => {
    if (request.url.split('?')[0] !== '/page.html') {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' }).end(page);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  children.push({ name: 'page server', exitCode: null, signalCode: null, output: '',
    once: (event, done) => server.close(done), kill: () => {} });
  return `http://127.0.0.1:${server.address().port}/page.html`;
}

export function makeWorkDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'kestrova-browser-'));
}

// Another client of the display, through the xprobe program.
export class XProbe {
  constructor(program, display) {
    this.program = program;
    this.env = { ...process.env, DISPLAY: display };
  }

  run(args) {
    const result = spawnSync(this.program, args, { env: this.env, encoding: 'utf8' });
    return result;
  }

  windowManagerRuns() {
    return this.run(['wm']).status === 0;
  }

  windows() {
    const result = this.run(['windows']);
    if (result.status !== 0) throw new Error(`xprobe windows: ${result.stderr}`);
    return JSON.parse(result.stdout);
  }

  // An xprobe that stays up on one connection and answers `windows()` (a
  // promise of what "xprobe windows" prints) at the cost of the display's
  // round trips alone, without starting a program per read. stopAll ends it.
  serve() {
    const child = track(spawn(this.program, ['serve'], { env: this.env, stdio: ['pipe', 'pipe', 'pipe'] }),
      'xprobe serve');
    child.stdin.on('error', () => {});
    const waiting = [];
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk.toString();
      // Each answer ends with a line holding only "]"; titles carry no raw newline.
      for (let end = text.indexOf('\n]\n'); end >= 0; end = text.indexOf('\n]\n')) {
        const answer = text.slice(0, end + 3);
        text = text.slice(end + 3);
        waiting.shift()?.resolve(JSON.parse(answer));
      }
    });
    child.once('exit', () => {
      for (const w of waiting.splice(0)) w.reject(new Error(`xprobe serve ended: ${child.output}`));
    });
    return {
      windows: () => new Promise((resolve, reject) => {
        if (ended(child)) {
          reject(new Error(`xprobe serve ended: ${child.output}`));
          return;
        }
        waiting.push({ resolve, reject });
        child.stdin.write('\n');
      }),
    };
  }

  children(id) {
    const result = this.run(['children', String(id)]);
    return result.status === 0 ? JSON.parse(result.stdout) : [];
  }

  region(rect, colour) {
    const args = ['region', rect.x, rect.y, rect.w, rect.h].map(String);
    if (colour) args.push(colour);
    const result = this.run(args);
    if (result.status !== 0) throw new Error(`xprobe region: ${result.stderr}`);
    return JSON.parse(result.stdout);
  }

  shot(file) {
    return this.run(['shot', file]).status === 0;
  }
}

// Debian's Chromium on the story's display, as a person's browser: a window
// of its own at a known place, no first-run noise, nothing from the network.
export async function launchBrowser(env, { x = 100, y = 60, w = 1200, h = 900 } = {}) {
  const browser = await chromium.launch({
    executablePath: CHROMIUM,
    headless: false,
    env,
    args: ['--ozone-platform=x11', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic', `--window-position=${x},${y}`,
      `--window-size=${w},${h}`],
  });
  const context = await browser.newContext({ viewport: null });
  const page = await context.newPage();
  return { browser, context, page };
}

// The browser's top-level window whose title holds `title`, and the dock the
// shell put over it.
export function browserWindow(probe, title) {
  return probe.windows().find((w) => w.title.endsWith(' - Chromium') && w.title.includes(title));
}
export function dockOf(probe, shellPid, browserId) {
  return probe.windows().find((w) => w.pid === shellPid && w.owner === browserId);
}
// Where the page area of a restored browser starts on the screen: inside the
// invisible border that Chromium keeps around its window.
export function pageOrigin(win) {
  if (win.maximized) return { x: 0, y: 0 };
  return { x: win.x + win.gtk[0], y: win.y + win.gtk[2] };
}
// A page rectangle (relative to the browser window, as the page sends it)
// on the screen.
export function onScreen(win, rect) {
  const origin = pageOrigin(win);
  return { x: origin.x + rect.x, y: origin.y + rect.y, w: rect.w, h: rect.h };
}
export function near(a, b, slack = 1) {
  return Math.abs(a - b) <= slack;
}
export function covers(dock, expected) {
  return dock && dock.viewable && near(dock.x, expected.x) && near(dock.y, expected.y) && near(dock.w, expected.w) &&
    near(dock.h, expected.h);
}
// The four cells of a 2 x 2 dock, each inset below its caption row.
export function quarters(dock) {
  const w = Math.floor(dock.w / 2);
  const h = Math.floor(dock.h / 2);
  const out = [];
  for (const row of [0, 1]) {
    for (const column of [0, 1]) out.push({ x: dock.x + column * w + 12, y: dock.y + row * h + 30, w: w - 24, h: h - 40 });
  }
  return out;
}
// Every cell plays: a picture of many colours that changes.
export async function cellsPlay(probe, cells, ms = 10000) {
  const first = cells.map((cell) => probe.region(cell));
  await waitFor('changing video in every cell', () => cells.every((cell, i) => {
    const now = probe.region(cell);
    return now.distinct >= 20 && now.hash !== first[i].hash;
  }), ms);
}
// The page's magenta shows nowhere on the screen: a dock covers all of it.
export function noMagenta(probe) {
  return probe.region(SCREEN, MAGENTA).matching === 0;
}

// Runs a story: `story(run)` fills `run` with what it starts (browser,
// page, probe) so that a failure can save the screen, the page's log
// (`pageLog(page)`) and the programs' output in `artifacts`. Everything
// is torn down either way; the process ends with the story's verdict.
export async function runStory(artifacts, story, pageLog) {
  const run = { workDir: makeWorkDir() };
  fs.mkdirSync(artifacts, { recursive: true });
  let failed = false;
  try {
    await story(run);
  } catch (error) {
    failed = true;
    console.error(`FAILED: ${error.stack}`);
    if (run.probe) run.probe.shot(path.join(artifacts, 'failure-root.png'));
    if (run.page) {
      const lines = await pageLog(run.page).catch(() => []);
      fs.writeFileSync(path.join(artifacts, 'failure-page-log.txt'), lines.join('\n'));
    }
    fs.writeFileSync(path.join(artifacts, 'failure-processes.txt'), childOutputs());
    console.error(`saved the root window, the page's log and the processes' output in ${artifacts}`);
  } finally {
    await run.browser?.close().catch(() => {});
    await stopAll();
    fs.rmSync(run.workDir, { recursive: true, force: true });
  }
  process.exit(failed ? 1 : 0);
}

// The demo page as the shell on `shellPort` serves it.
export function demoPageUrl(shellPort) {
  return `http://127.0.0.1:${shellPort}/demo/`;
}
