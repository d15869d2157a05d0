// The demo page as a person uses it: the shell serves the page, and the story
// works its buttons in a real Chromium on its own X display. It fills the
// device form with the simulator's ports and creates the device, starts a
// 2 x 2 live view, switches to one cell and back, goes full screen and leaves
// with Escape, resizes and zooms the page, hides the tab and shows it again,
// takes a snapshot that appears in the gallery, records a few seconds that
// arrive there as an MP4, plays a recording and pauses it while the browser
// moves, and destroys the device. What the display shows is checked through xprobe.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { spawnSync } from 'node:child_process';

import {
  browserWindow, cellsPlay, covers, demoPageUrl, dockOf, launchBrowser, log, noMagenta, onScreen, parseArgs,
  quarters, runStory, SCREEN, startDevsim, startDisplay, startShell, waitFor,
} from './harness.mjs';

const args = parseArgs(process.argv);

function get(url) {
  return new Promise((resolve, reject) => {
    http.get(url, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => resolve({ status: response.statusCode, body: Buffer.concat(chunks) }));
    }).on('error', reject);
  });
}

// Every file below `folder`, at any depth; none when it does not exist.
function filesUnder(folder) {
  if (!fs.existsSync(folder)) return [];
  return fs.readdirSync(folder, { withFileTypes: true }).flatMap((entry) => {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) return filesUnder(full);
    return entry.isFile() ? [full] : [];
  });
}

let page;
// How many replies of `name` with `code` the page has had.
async function replied(name, code) {
  const replies = await page.evaluate(() => window.kestrovaDemo.replies.map((r) => `${r.name} ${r.code}`));
  return replies.filter((r) => r === `${name} ${code}`).length;
}

async function story(run) {
  const display = await startDisplay(args.probe);
  const { probe } = display;
  run.probe = probe;
  const device = await startDevsim(args.bin);
  const shell = await startShell(args.bin, display.env, run.workDir);
  const url = demoPageUrl(shell.port);
  log(`display ${display.display}, shell on port ${shell.port}, devsim on ${device.commandPort}, page ${url}`);

  const { browser, context, page: tab } = await launchBrowser(display.env, { w: 1400, h: 950 });
  page = tab;
  Object.assign(run, { browser, page });
  await page.goto(url);
  const status = page.locator('#connection');
  await waitFor('the page connected to the shell', async () => (await status.textContent()) === 'connected');

  // A title of this tab alone, which the browser window shows.
  const title = await page.evaluate(() => window.kestrovaDemo.title);
  assert.match(title, /^Kestrova demo · [a-z0-9]{4}$/);
  assert.equal(await page.title(), title);
  const restored = await waitFor('the browser window with the tab title', () => browserWindow(probe, title));

  // The live area turns magenta for the story, so that any of it left
  // uncovered by the dock shows on the screen.
  await page.addStyleTag({ content: '#live-area { background: #ff00ff !important; }' });
  const areaOnScreen = async () => onScreen(browserWindow(probe, title),
    await page.evaluate(() => window.kestrovaDemo.dockRect('live-area')));
  let expected = await areaOnScreen();
  await waitFor('the magenta live area on the screen', () => !noMagenta(probe));

  // The device form, as a person fills it in: the simulator's ports.
  await page.getByLabel('Command port').fill(String(device.commandPort));
  await page.getByLabel('Media port').fill(String(device.mediaPort));
  await page.getByRole('button', { name: 'Create', exact: true }).click();
  const uniqueId = await waitFor('the device created', async () => {
    const text = await page.locator('#dev-unique-id').textContent();
    return /^\d+$/.test(text) && Number(text);
  });
  assert.match(await page.locator('#dev-dpi').textContent(), /^\d+$/, 'dpiRadio shown');
  assert.deepEqual(await page.locator('#live-channel option').allTextContents(), ['1', '2', '3', '4']);

  // Preview: four channels in a 2 x 2 layout over the live area.
  assert.equal(await page.getByLabel('Layout').inputValue(), '2');
  await page.getByRole('button', { name: 'Preview', exact: true }).click();
  let dock = await waitFor('the dock over the live area', () => {
    const d = dockOf(probe, shell.pid, restored.id);
    return covers(d, expected) && d;
  });
  await waitFor('the Preview answered', () => replied('live Preview', 200));
  log(`dock ${dock.id} at ${dock.x},${dock.y} ${dock.w}x${dock.h}`);
  await waitFor('no magenta left on the screen', () => noMagenta(probe));
  await cellsPlay(probe, quarters(dock));
  assert.equal(probe.children(dock.id).length, 4, 'four cells in layout 2');

  // One cell, then four again, from the layout list.
  await page.getByLabel('Layout').selectOption('1');
  await waitFor('one cell over the whole dock', () => {
    const shown = probe.children(dock.id);
    return shown.length === 1 && shown[0].w >= dock.w - 4 && shown[0].h >= dock.h - 4;
  });
  await page.getByLabel('Layout').selectOption('2');
  await waitFor('four cells again', () => probe.children(dock.id).length === 4);

  // Full screen from the button; Escape typed into the browser leaves it.
  await page.getByRole('button', { name: 'Full screen', exact: true }).click();
  await waitFor('the dock on the whole screen', () => covers(dockOf(probe, shell.pid, restored.id), SCREEN));
  const xdotool = (...words) => {
    const result = spawnSync('xdotool', words, { env: display.env, encoding: 'utf8' });
    assert.equal(result.status, 0, `xdotool ${words.join(' ')}: ${result.stderr}`);
  };
  xdotool('windowfocus', '--sync', String(restored.id));
  xdotool('key', 'Escape');
  await waitFor('the dock back over the live area after Escape',
    () => covers(dockOf(probe, shell.pid, restored.id), expected));
  await waitFor('no magenta on the screen after Escape', () => noMagenta(probe));

  // A smaller browser makes a smaller live area; the page moves the dock.
  const cdp = await context.newCDPSession(page);
  const { windowId } = await cdp.send('Browser.getWindowForTarget');
  await cdp.send('Browser.setWindowBounds', { windowId, bounds: { width: 1200, height: 800 } });
  dock = await waitFor('the dock over the resized live area', async () => {
    const b = browserWindow(probe, title);
    if (!b || b.w > 1300) return false;
    expected = await areaOnScreen();
    const d = dockOf(probe, shell.pid, restored.id);
    return covers(d, expected) && d;
  });
  await waitFor('no magenta on the screen after the resize', () => noMagenta(probe));
  log(`dock after the resize at ${dock.x},${dock.y} ${dock.w}x${dock.h}`);

  // Zoomed in, the page's live area grows on the screen; the dock with it.
  const zoom = async (keys, what, test) => {
    xdotool('windowfocus', '--sync', String(restored.id));
    xdotool('key', keys);
    await waitFor(`the page ${what}`, async () => test(await page.evaluate(() => window.devicePixelRatio)));
    dock = await waitFor(`the dock over the live area ${what}`, async () => {
      expected = await areaOnScreen();
      const d = dockOf(probe, shell.pid, restored.id);
      return covers(d, expected) && d;
    });
    await waitFor(`no magenta on the screen ${what}`, () => noMagenta(probe));
  };
  await zoom('ctrl+plus', 'zoomed in', (ratio) => ratio > 1.05);
  log(`dock zoomed in at ${dock.x},${dock.y} ${dock.w}x${dock.h}`);
  await zoom('ctrl+0', 'at normal size', (ratio) => ratio === 1);

  // A hidden tab hides the dock; the tab back in front shows it again.
  // Chromium under automation reports every tab visible, so the story
  // tells the page what a tab switch would.
  const setHidden = (hidden) => page.evaluate((h) => {
    Object.defineProperty(document, 'hidden', { configurable: true, get: () => h });
    Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => (h ? 'hidden' : 'visible') });
    document.dispatchEvent(new Event('visibilitychange'));
  }, hidden);
  await setHidden(true);
  // A hidden dock leaves the window manager's list of windows.
  await waitFor('the dock hidden with its tab', () => {
    const d = dockOf(probe, shell.pid, restored.id);
    return !d || !d.viewable;
  });
  await setHidden(false);
  await waitFor('the dock back with its tab', () => covers(dockOf(probe, shell.pid, restored.id), expected));
  await waitFor('no magenta with the tab back', () => noMagenta(probe));

  // A snapshot of channel 2 arrives in the gallery as a picture to download.
  await page.locator('#live-channel').selectOption({ label: '2' });
  await page.getByRole('button', { name: 'Snapshot', exact: true }).click();
  const link = page.locator('#gallery a').first();
  await waitFor('the snapshot in the gallery', async () => (await page.locator('#gallery a').count()) > 0);
  const href = await link.getAttribute('href');
  assert.match(await link.textContent(), /^picture ch 2: /);
  const picture = await get(href);
  assert.equal(picture.status, 200, href);
  assert.ok(picture.body.length > 1000 && picture.body[0] === 0xff && picture.body[1] === 0xd8, `a JPEG at ${href}`);
  await waitFor('the thumbnail shown', () => link.locator('img').evaluate((img) => img.complete && img.naturalWidth > 0));

  // A recording of channel 2: started, its file grows in the video work
  // folder, stopped; the finished file arrives in the gallery and downloads
  // as an MP4.
  await page.getByRole('button', { name: 'Start recording', exact: true }).click();
  await waitFor('the recording started', async () => (await replied('record', 200)) === 1);
  const videoFolder = path.join(run.workDir, `Kestrova-${process.getuid()}`, 'Video');
  await waitFor('a recording file past its first fragments', () => filesUnder(videoFolder)
    .some((file) => file.endsWith('.mp4') && fs.statSync(file).size > 16 * 1024));
  await page.getByRole('button', { name: 'Stop recording', exact: true }).click();
  await waitFor('the recording stopped', async () => (await replied('record', 200)) === 2);
  const video = page.locator('#gallery a', { hasText: /^video ch 2: / });
  await waitFor('the recording in the gallery', async () => (await video.count()) > 0);
  const videoHref = await video.first().getAttribute('href');
  const movie = await get(videoHref);
  assert.equal(movie.status, 200, videoHref);
  assert.equal(movie.body.subarray(4, 8).toString('latin1'), 'ftyp', `an MP4 at ${videoHref}`);

  // Recorded video of 2024-05-06 10:00 on channel 1 plays over the playback
  // area; paused, its picture stays on the screen when the browser moves.
  await page.locator('#pb-area').scrollIntoViewIfNeeded();
  await page.locator('#pb-area').evaluate((area) => { area.style.background = '#ff00ff'; });
  await page.locator('#pb-start').evaluate((input) => { input.value = '2024-05-06T10:00:00'; });
  await page.locator('#pb-channel').selectOption({ index: 0 });
  await page.getByRole('button', { name: 'Play', exact: true }).click();
  await waitFor('the playback started', async () => (await replied('playback Preview', 200)) === 1);
  const playbackArea = async () => onScreen(browserWindow(probe, title),
    await page.evaluate(() => window.kestrovaDemo.dockRect('pb-area')));
  const playbackDock = (area) => probe.windows().find((w) => w.pid === shell.pid && w.owner === restored.id &&
    covers(w, area));
  let pbArea = await playbackArea();
  await waitFor('the playback dock over its area', () => playbackDock(pbArea));
  const pictureIn = (area) => probe.region({ x: area.x + 12, y: area.y + 30, w: area.w - 24, h: area.h - 40 });
  await waitFor('a recorded picture in the playback dock', () => pictureIn(pbArea).distinct >= 20);
  await waitFor('no magenta with the playback dock', () => noMagenta(probe));
  await page.getByRole('button', { name: 'Pause', exact: true }).click();
  await waitFor('the playback paused', async () => (await replied('playback pause', 200)) === 1);
  const before = browserWindow(probe, title);
  await cdp.send('Browser.setWindowBounds', { windowId, bounds: { left: before.x + 60, top: before.y + 40 } });
  await waitFor('the browser moved', () => browserWindow(probe, title).x !== before.x);
  await waitFor('the playback dock moved with the browser', async () => {
    pbArea = await playbackArea();
    return playbackDock(pbArea);
  });
  await waitFor('the paused picture still shown after the move', () => pictureIn(pbArea).distinct >= 20);
  await waitFor('no magenta after the move', () => noMagenta(probe));
  await page.getByRole('button', { name: 'Stop', exact: true }).click();
  await waitFor('the playback stopped', async () => (await replied('playback stop', 200)) === 1);

  // Every request of the story is in the log with its code and meaning.
  const lines = await page.evaluate(() => window.kestrovaDemo.log);
  assert.ok(lines.some((line) => / createDev 200 success \(\d+ ms\)/.test(line)), 'createDev in the log');
  assert.ok(lines.some((line) => line.includes('⇐ push') && line.includes('HttpDownload')), 'the push in the log');

  // Destroy: the dock goes with the device.
  await page.getByRole('button', { name: 'Destroy', exact: true }).click();
  await waitFor('the dock gone with the device', () => !dockOf(probe, shell.pid, restored.id));
  await waitFor('the device gone from the page', async () => (await page.locator('#dev-unique-id').textContent()) === '–');
  const replies = await page.evaluate(() => window.kestrovaDemo.replies.map((r) => `${r.name} ${r.code}`));
  assert.ok(replies.includes('destroy 200'), replies.join(', '));
  log(`device ${uniqueId}: the story held`);
}

await runStory(args.artifacts, story, (page) => page.evaluate(() => window.kestrovaDemo?.log ?? []));
