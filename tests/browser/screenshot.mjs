// A picture of the demo page at work for the README: its own X display,
// the device simulator, the shell and Chromium with the demo page; the
// device is created and a 2 x 2 live view started through the page's
// buttons, and once all four cells play the whole screen goes to --out.
//
//   node screenshot.mjs --bin BUILD/bin --probe BUILD/tests/xprobe --out docs/screenshot.png --artifacts DIR
import path from 'node:path';

import {
  browserWindow, cellsPlay, covers, demoPageUrl, dockOf, launchBrowser, log, onScreen, parseArgs, quarters, runStory,
  startDevsim, startDisplay, startShell, waitFor,
} from './harness.mjs';

const args = parseArgs(process.argv, ['bin', 'probe', 'out', 'artifacts']);

async function story(run) {
  const display = await startDisplay(args.probe);
  const { probe } = display;
  run.probe = probe;
  const device = await startDevsim(args.bin);
  const shell = await startShell(args.bin, display.env, run.workDir);
  const { browser, page } = await launchBrowser(display.env, { x: 0, y: 0, w: 1920, h: 1080 });
  Object.assign(run, { browser, page });
  await page.goto(demoPageUrl(shell.port));
  const status = page.locator('#connection');
  await waitFor('the page connected to the shell', async () => (await status.textContent()) === 'connected');
  const title = await page.evaluate(() => window.kestrovaDemo.title);
  const win = await waitFor('the browser window', () => browserWindow(probe, title));

  await page.getByLabel('Command port').fill(String(device.commandPort));
  await page.getByLabel('Media port').fill(String(device.mediaPort));
  await page.getByRole('button', { name: 'Create', exact: true }).click();
  await waitFor('the device created', async () => /^\d+$/.test(await page.locator('#dev-unique-id').textContent()));
  await page.getByRole('button', { name: 'Preview', exact: true }).click();

  const expected = onScreen(win, await page.evaluate(() => window.kestrovaDemo.dockRect('live-area')));
  const dock = await waitFor('the dock over the live area', () => {
    const d = dockOf(probe, shell.pid, win.id);
    return covers(d, expected) && d;
  }, 15000);
  await waitFor('four cells', () => probe.children(dock.id).length === 4);
  await cellsPlay(probe, quarters(dock), 15000);
  const out = path.resolve(args.out);
  if (!probe.shot(out)) throw new Error(`xprobe could not write ${out}`);
  log(`wrote ${out}`);
}

await runStory(args.artifacts, story, (page) => page.evaluate(() => window.kestrovaDemo?.log ?? []));
