// The demo page's side of Kestrova: one WebSocket to the shell that served
// this page, requests matched to replies by msgId, pushes shown as they come,
// and the live dock kept over #live-area while the window changes.
'use strict';

(() => {
  // What each reply code means, as a person reading the log needs it.
  const CODES = {
    200: 'success',
    1000: 'malformed or incomplete request, unknown command, or no such device for a dock',
    1001: 'not supported',
    1002: 'out of memory, or the device could not be built',
    1003: 'channel out of range, not logged in for a cell, cell missing, or settings block missing',
    1005: 'a window or process cannot be created or found',
    1006: 'operation not available',
    1007: 'HTTP error status',
    1008: 'the shell is closing for an upgrade',
    1009: 'not ready: device not logged in, dock missing or stream not open',
    1010: 'the dock must be created first',
    1012: 'busy: a download runs or another channel plays back',
    1013: 'device failure, or no browser window with this title',
    1014: 'device error or time-out',
    1015: 'device error',
    1016: 'no device with this uniqueId',
    1017: 'the save dialog was cancelled',
    1018: 'device limit reached (8)',
    1019: 'service reply without the expected data',
    2000: 'browser window not found for the playback dock',
    3001: 'device refused: not authorised',
    3002: 'connection to the device failed',
    3005: 'device error',
    3006: 'a local file cannot be created or opened',
    3007: 'device login failed',
    3008: 'device error',
    4000: 'no recording in the requested span',
  };
  const meaning = (code) => CODES[code] ?? 'unknown code';

  // The object that carries a settings block, by settings type.
  const SETTINGS_OBJECT = { 1: 'OSD', 2: 'polygon', 3: 'privacyCover', 4: 'polygon', 5: 'intrusion', 6: 'polygon',
    7: 'passenger', 8: 'polygon', 9: 'faceDiscern' };
  // A starting block per settings type, in device units (0 to 9999 per axis).
  const polygon = { type: 1, edge: 4, x: [2000, 8000, 8000, 2000], y: [2000, 2000, 8000, 8000] };
  const SETTINGS_TEMPLATE = {
    1: { type: 1, count: 1, text: ['Gate'], text_x: [500], text_y: [500], datetime_format: 0, datetime_x: 500,
      datetime_y: 9200, fontName: 'DejaVu Sans', bold: false, italic: false, strikeOut: false, underline: false },
    2: polygon,
    3: { type: 1, count: 1, left: [1000], right: [3000], top: [1000], bottom: [3000], fillColor: '000000' },
    4: polygon,
    5: { type: 1, orientation: 0, x: [2000, 8000], y: [5000, 5000] },
    6: polygon,
    7: { type: 1, edge: 2, x: [1000, 9000], y: [5000, 5000], boundary: { left: 0, top: 0, right: 9999, bottom: 9999 },
      orientation: 0 },
    8: polygon,
    9: { type: 1, width: [500, 3000], height: [500, 3000], defWidth: [500, 3000], defHeight: [500, 3000],
      widthQuoto: [1, 1, 1], heightQuoto: [1, 1, 1], detect: { left: 1000, top: 1000, right: 9000, bottom: 9000 },
      detectDef: { left: 0, top: 0, right: 9999, bottom: 9999 } },
  };

  const $ = (id) => document.getElementById(id);

  // A title of this tab alone: the shell finds the browser window by it.
  const tag = Array.from(crypto.getRandomValues(new Uint8Array(4)), (b) => 'abcdefghjkmnpqrstuvwxyz23456789'[b % 31])
    .join('');
  const TITLE = `Kestrova demo · ${tag}`;
  document.title = TITLE;
  $('tab-title').textContent = TITLE;
  // The window manager learns the title a little after the page sets it;
  // a Preview that still misses the window is tried again (below).
  const titleShown = new Promise((resolve) => {
    requestAnimationFrame(() => requestAnimationFrame(() => setTimeout(resolve, 100)));
  });

  const state = {
    socket: null,
    nextId: 1,
    waiting: new Map(),
    devices: new Map(), // uniqueId → what the page knows of the device
    current: 0, // the device the controls act on; only its dock shows
    playing: false, // a playback Preview succeeded
    positionTimer: 0,
    seeking: false,
    taskId: null,
    downloadTimer: 0,
  };

  // What a test or a curious person can read from the console.
  const exposed = { title: TITLE, log: [], replies: [], pushes: [] };
  window.kestrovaDemo = exposed;

  // ---- the event log -----------------------------------------------------

  const logList = $('log');
  function log(kind, text) {
    const stamp = new Date().toTimeString().slice(0, 8);
    const line = `${stamp} ${text}`;
    exposed.log.push(line);
    if (exposed.log.length > 2000) exposed.log.splice(0, 1000);
    const item = document.createElement('li');
    item.className = kind;
    item.textContent = line;
    logList.append(item);
    while (logList.childElementCount > 500) logList.firstElementChild.remove();
    logList.scrollTop = logList.scrollHeight;
  }
  $('log-clear').addEventListener('click', () => logList.replaceChildren());

  // ---- the connection ----------------------------------------------------

  // The shell that served the page answers on the same host and port.
  const socketUrl = () => `ws://${location.host}/`;

  function setConnection(text, kind) {
    const pill = $('connection');
    pill.textContent = text;
    pill.className = `pill ${kind}`;
  }

  let reconnectDelay = 500;
  function connect() {
    const socket = new WebSocket(socketUrl());
    socket.onopen = () => {
      state.socket = socket;
      reconnectDelay = 500;
      setConnection('connected', 'ok');
      log('ok', `connected to ${socket.url}`);
    };
    socket.onclose = (event) => {
      const wasOpen = state.socket === socket;
      state.socket = null;
      for (const [, pending] of state.waiting) pending.resolve({ code: -1, msgId: 0 });
      state.waiting.clear();
      if (wasOpen) {
        log('bad', `connection closed (${event.code}); the shell released this page's device`);
        forgetDevices();
      }
      setConnection('not connected: retrying', 'bad');
      setTimeout(connect, reconnectDelay);
      reconnectDelay = Math.min(reconnectDelay * 2, 5000);
    };
    socket.onmessage = (event) => receive(event.data);
  }

  function receive(text) {
    let message;
    try {
      message = JSON.parse(text);
    } catch {
      log('bad', `unreadable message: ${text}`);
      return;
    }
    if (message.Fountion === 'serverPush') {
      onPush(message.PushDetail ?? {});
      return;
    }
    const pending = state.waiting.get(message.msgId);
    if (!pending) {
      log('bad', `reply to no request: ${compact(message)}`);
      return;
    }
    state.waiting.delete(message.msgId);
    const ms = Math.round(performance.now() - pending.sent);
    const { code, msgId, ...rest } = message;
    const extra = Object.keys(rest).length ? ` ${compact(rest)}` : '';
    log(code === 200 ? 'ok' : 'bad', `← #${msgId} ${pending.name} ${code} ${meaning(code)} (${ms} ms)${extra}`);
    exposed.replies.push({ name: pending.name, code, reply: message });
    if (exposed.replies.length > 2000) exposed.replies.splice(0, 1000);
    pending.resolve(message);
  }

  const compact = (value) => JSON.stringify(value);

  // Sends one command; resolves with its reply ({code: -1} without a connection).
  function send(command, name) {
    const label = name ?? command.Fountion;
    if (!state.socket) {
      log('bad', `not sent, no connection: ${label}`);
      return Promise.resolve({ code: -1, msgId: 0 });
    }
    const msgId = state.nextId++;
    const text = JSON.stringify({ msgId, ...command });
    // The log shows everything sent except the device password.
    const shown = command.Auth ? JSON.stringify({ msgId, ...command, Auth: { ...command.Auth, pwd: '•••' } }) : text;
    log('out', `→ #${msgId} ${shown}`);
    return new Promise((resolve) => {
      state.waiting.set(msgId, { resolve, sent: performance.now(), name: label });
      state.socket.send(text);
    });
  }

  // Every button runs through here, so a failure lands in the log.
  function on(id, event, action) {
    $(id).addEventListener(event, (e) => {
      Promise.resolve(action(e)).catch((error) => log('bad', `page error: ${error.message}`));
    });
  }

  // ---- pushes ------------------------------------------------------------

  function onPush(detail) {
    exposed.pushes.push(detail);
    if (exposed.pushes.length > 2000) exposed.pushes.splice(0, 1000);
    log('push', `⇐ push ${compact(detail)}`);
    switch (detail.type) {
      case 1:
        break;
      case 2:
        if (detail.uniqueId === state.current) $('live-channel').value = String(detail.channel);
        break;
      case 3:
        if (detail.uniqueId === state.current && detail.StreamSwitch) {
          $('live-stream').value = String(detail.StreamSwitch.stream);
        }
        break;
      case 4:
        if (detail.HttpDownload) addToGallery(detail);
        break;
      default:
        break;
    }
  }

  // A finished file, announced by the shell with its download address on
  // this machine. Only loopback addresses are shown as links.
  function addToGallery(detail) {
    const { url, type } = detail.HttpDownload;
    let parsed;
    try {
      parsed = new URL(url);
    } catch {
      return;
    }
    if (parsed.protocol !== 'http:' || parsed.hostname !== '127.0.0.1') return;
    const item = document.createElement('li');
    const link = document.createElement('a');
    link.href = parsed.href;
    link.target = '_blank';
    link.rel = 'noopener';
    const name = decodeURIComponent(parsed.pathname.split('/').pop() || 'file');
    if (type === 2) {
      const picture = document.createElement('img');
      picture.src = parsed.href;
      picture.alt = `snapshot of channel ${detail.channel + 1}`;
      link.append(picture);
    }
    link.append(document.createTextNode(`${type === 2 ? 'picture' : 'video'} ch ${detail.channel + 1}: ${name}`));
    item.append(link);
    $('gallery').prepend(item);
  }

  // ---- devices -----------------------------------------------------------

  function forgetDevices() {
    state.devices.clear();
    state.current = 0;
    setDockHidden(false);
    stopPlaybackPoll();
    stopDownloadPoll();
    state.playing = false;
    refreshDevices();
  }

  function refreshDevices() {
    const select = $('dev-select');
    select.replaceChildren();
    if (state.devices.size === 0) select.append(new Option('none', ''));
    for (const [id, device] of state.devices) {
      select.append(new Option(`#${id} ${device.address}:${device.cmdPort}`, String(id)));
    }
    select.value = state.current ? String(state.current) : '';
    const device = state.devices.get(state.current);
    $('dev-unique-id').textContent = device ? String(state.current) : '–';
    $('dev-dpi').textContent = device ? String(device.dpiRadio) : '–';
    const channels = device ? device.channels : Number($('dev-channels').value) || 1;
    for (const id of ['live-channel', 'pb-channel']) {
      const list = $(id);
      const keep = list.value;
      list.replaceChildren();
      for (let i = 0; i < channels; ++i) list.append(new Option(`${i + 1}`, String(i)));
      if (keep && Number(keep) < channels) list.value = keep;
    }
  }

  $('dev-channels').addEventListener('input', () => {
    const count = Number($('dev-channels').value);
    if (!Number.isInteger(count) || count < 1 || count > 64) return;
    const streams = $('dev-streams').value.split(',').map((s) => s.trim()).filter(Boolean);
    const fill = streams[streams.length - 1] || '2';
    while (streams.length < count) streams.push(fill);
    $('dev-streams').value = streams.slice(0, count).join(',');
    if (!state.current) refreshDevices();
  });

  on('device-form', 'submit', async (event) => {
    event.preventDefault();
    const form = $('device-form');
    if (!form.reportValidity()) return;
    const channels = Number($('dev-channels').value);
    const stream = $('dev-streams').value.split(',').map((s) => Number(s.trim()));
    if (stream.length !== channels) {
      log('bad', `Streams names ${stream.length} channels, the device has ${channels}`);
      $('dev-streams').focus();
      return;
    }
    const device = {
      MAC: $('dev-mac').value.trim(),
      totalChannel: channels,
      cmdPort: Number($('dev-cmd-port').value),
      mediaPort: Number($('dev-media-port').value),
      stream,
      resShowBitrate: 'Bitrate',
      resMainStream: 'Main stream',
      resSubStream: 'Sub stream',
      resThirdStream: 'Third stream',
    };
    const auth = { usr: $('dev-user').value, pwd: $('dev-password').value, address: $('dev-address').value.trim() };
    const reply = await send({ Fountion: 'createDev', Device: device, Auth: auth });
    if (reply.code !== 200) return;
    // liveDock: a Preview succeeded, so the dock exists and follows #live-area;
    // dockHidden: the person hid it with the button.
    state.devices.set(reply.uniqueId, { channels, dpiRadio: reply.dpiRadio, address: auth.address,
      cmdPort: device.cmdPort, liveDock: false, dockHidden: false });
    await selectDevice(reply.uniqueId);
  });

  const currentDevice = () => state.devices.get(state.current);

  // The live area shows one device's dock: the one chosen steps in front.
  async function selectDevice(id) {
    const before = currentDevice();
    if (before?.liveDock && !before.dockHidden && id !== state.current) {
      await live(9, { ShowDock: { showMode: 4 } });
    }
    state.current = id;
    state.playing = false;
    stopPlaybackPoll();
    const after = currentDevice();
    setDockHidden(after?.dockHidden ?? false);
    refreshDevices();
    if (after?.liveDock && !after.dockHidden && after !== before) {
      await live(9, { ShowDock: { showMode: 3 } });
      await moveDocks();
    }
  }

  on('dev-select', 'change', () => selectDevice(Number($('dev-select').value) || 0));

  function needDevice() {
    if (state.current) return true;
    log('bad', 'create a device first');
    $('dev-create').focus();
    return false;
  }

  on('dev-destroy', 'click', async () => {
    if (!needDevice()) return;
    const id = state.current;
    const reply = await send({ Fountion: 'destroy', DestroyObject: { type: 1, Device: { uniqueId: id } } });
    if (reply.code === 200 || reply.code === 1016) {
      state.devices.delete(id);
      await selectDevice(state.devices.keys().next().value ?? 0);
    }
  });

  // ---- where the docks go ------------------------------------------------

  // The browser's page zoom levels. The outer size of the window is in
  // screen units and the inner one in page units, so their ratio is about
  // the zoom; the nearest level is taken.
  const ZOOM_LEVELS = [0.25, 1 / 3, 0.5, 2 / 3, 0.75, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2, 2.5, 3, 4, 5];
  function pageZoom() {
    const ratio = window.outerWidth / window.innerWidth;
    return ZOOM_LEVELS.reduce((best, level) => (Math.abs(level - ratio) < Math.abs(best - ratio) ? level : best), 1);
  }

  // The rectangle of an element relative to the browser window, in device
  // pixels: its place in the page plus the browser's top chrome (the outer
  // height beyond the page, less the side border that the bottom repeats).
  // The chrome keeps its size when the page is zoomed, so it is measured in
  // screen units: the device pixel ratio is the screen's scale times the zoom.
  function dockRect(element) {
    const r = element.getBoundingClientRect();
    const dpr = window.devicePixelRatio;
    const scale = dpr / pageZoom();
    const side = (window.outerWidth * scale - window.innerWidth * dpr) / 2;
    const chrome = window.outerHeight * scale - window.innerHeight * dpr - side;
    return {
      x: Math.round(r.left * dpr),
      y: Math.round(r.top * dpr + chrome),
      w: Math.max(1, Math.round(r.width * dpr)),
      h: Math.max(1, Math.round(r.height * dpr)),
    };
  }
  exposed.dockRect = (id) => dockRect($(id));

  const channelNames = () => Array.from({ length: state.devices.get(state.current)?.channels ?? 0 },
    (_, i) => `Channel ${i + 1}`);

  function live(type, body, channel = 0, extra = {}) {
    return send({ Fountion: 'live', LiveCtrl: { type, uniqueId: state.current, channel, ...extra, ...body } },
      `live ${Object.keys(body)[0]}`);
  }

  // A Preview places the dock; while the window manager has not yet shown
  // this tab's title, the shell answers 1013 and the page asks again.
  async function preview(fields, channel = 0, extra = {}) {
    await titleShown;
    const body = { title: TITLE, adjustPos: false, streamType: Number($('live-stream').value), ...fields,
      ...dockRect($('live-area')) };
    let reply;
    for (let delay = 100; ; delay *= 2) {
      reply = await live(1, { Preview: body }, channel, extra);
      if (reply.code !== 1013 || delay > 1600) break;
      await new Promise((resolve) => setTimeout(resolve, delay));
    }
    if (reply.code === 200 && currentDevice()) {
      currentDevice().liveDock = true;
      setDockHidden(false);
      // The window may have changed while the dock was being made.
      const now = dockRect($('live-area'));
      if (['x', 'y', 'w', 'h'].some((k) => now[k] !== body[k])) await moveDocks();
    }
    return reply;
  }

  on('live-preview', 'click', async () => {
    if (!needDevice()) return;
    await preview({ layout: Number($('live-layout').value), openAll: true, channelName: channelNames() });
  });
  on('live-close-all', 'click', async () => {
    if (needDevice()) await preview({ closeAll: true });
  });
  const channel = () => Number($('live-channel').value) || 0;
  on('live-open-one', 'click', async () => {
    if (!needDevice()) return;
    await preview({ open: true, layout: 0, channelName: [`Channel ${channel() + 1}`] }, channel());
  });
  on('live-close-one', 'click', async () => {
    if (needDevice()) await preview({ open: false }, channel());
  });

  on('live-layout', 'change', async () => {
    if (needDevice()) await live(11, { Split: { Count: Number($('live-layout').value) } });
  });
  on('live-next-page', 'click', async () => {
    if (needDevice()) await live(11, { Split: { Count: Number($('live-layout').value) } });
  });
  on('live-fullscreen', 'click', async () => {
    if (needDevice()) await live(5, { Fullscreen: { enter: true } });
  });
  on('live-switch-stream', 'click', async () => {
    if (!needDevice()) return;
    await live(7, { SwitchStream: { newStream: Number($('live-stream').value),
      channelName: [`Channel ${channel() + 1}`] } }, channel());
  });
  on('live-show-cell', 'click', async () => {
    if (needDevice()) await live(9, { ShowDock: { showMode: 1 } }, channel());
  });
  on('live-hide-cell', 'click', async () => {
    if (needDevice()) await live(9, { ShowDock: { showMode: 2 } }, channel());
  });
  on('live-audio', 'change', async () => {
    if (needDevice()) await live(2, { Audio: { mute: !$('live-audio').checked } }, channel());
  });
  on('live-talk', 'change', async () => {
    if (needDevice()) await live(3, { Talk: { open: $('live-talk').checked } }, channel());
  });
  on('live-zoom', 'change', async () => {
    if (needDevice()) await live(4, { DigitalZoom: { open: $('live-zoom').checked } }, channel());
  });
  on('live-ratio', 'change', async () => {
    if (needDevice()) await live(6, { AspectRatio: { ratio: $('live-ratio').checked } }, channel());
  });
  on('live-bitrate', 'click', async () => {
    if (!needDevice()) return;
    await live(8, { Bitrate: { kbpsMain: Number($('bitrate-main').value), kbpsSub: Number($('bitrate-sub').value),
      kbpsThird: Number($('bitrate-third').value) } }, channel());
  });

  function setDockHidden(hidden) {
    const device = currentDevice();
    if (device) device.dockHidden = hidden;
    const button = $('live-dock-toggle');
    button.textContent = hidden ? 'Show dock' : 'Hide dock';
    button.setAttribute('aria-pressed', String(!hidden));
  }
  on('live-dock-toggle', 'click', async () => {
    if (!needDevice()) return;
    const hide = !currentDevice().dockHidden;
    const reply = await live(9, { ShowDock: { showMode: hide ? 4 : 3 } });
    if (reply.code !== 200) return;
    setDockHidden(hide);
    if (!hide) await moveDocks();
  });

  // The docks follow the page: window size, full screen and zoom all move
  // the areas they cover. Changes within one frame make one move.
  let movePending = false;
  async function moveDocks() {
    const device = currentDevice();
    if (!device || document.hidden) return;
    if (device.liveDock && !device.dockHidden) await live(10, { MoveDock: dockRect($('live-area')) });
    if (state.playing) {
      await send({ Fountion: 'playback', PlaybackCtrl: { type: 9, uniqueId: state.current,
        channel: Number($('pb-channel').value), MoveDock: dockRect($('pb-area')) } }, 'playback MoveDock');
    }
  }
  function scheduleMove() {
    if (movePending) return;
    movePending = true;
    requestAnimationFrame(() => {
      movePending = false;
      moveDocks().catch((error) => log('bad', `page error: ${error.message}`));
    });
  }
  window.addEventListener('resize', scheduleMove);
  document.addEventListener('fullscreenchange', scheduleMove);
  document.querySelector('.panel').addEventListener('scroll', () => {
    if (state.playing) scheduleMove();
  });
  // Page zoom changes the device pixel ratio; a query for the current one
  // fires once when it no longer holds, and is then set up anew.
  function watchZoom() {
    const query = matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`);
    query.addEventListener('change', () => {
      scheduleMove();
      watchZoom();
    }, { once: true });
  }
  watchZoom();

  // A hidden tab takes its docks out of sight; back in front, they show again.
  async function showDocks(show) {
    const device = currentDevice();
    if (!device) return;
    if (device.liveDock && !device.dockHidden) await live(9, { ShowDock: { showMode: show ? 3 : 4 } });
    if (state.playing) {
      await send({ Fountion: 'playback', PlaybackCtrl: { type: 8, uniqueId: state.current,
        channel: Number($('pb-channel').value), ShowDock: { showMode: show ? 3 : 4 } } }, 'playback ShowDock');
    }
    if (show) await moveDocks();
  }
  document.addEventListener('visibilitychange', () => {
    showDocks(!document.hidden).catch((error) => log('bad', `page error: ${error.message}`));
  });

  // ---- snapshots and recordings -------------------------------------------

  on('snapshot', 'click', async () => {
    if (needDevice()) await send({ Fountion: 'snapshot', Capture: { uniqueId: state.current, channel: channel(), format: 2 } });
  });
  on('record-start', 'click', async () => {
    if (!needDevice()) return;
    await send({ Fountion: 'record', VideoRecord: { uniqueId: state.current, channel: channel(), start: true } });
  });
  on('record-stop', 'click', async () => {
    if (!needDevice()) return;
    await send({ Fountion: 'record', VideoRecord: { uniqueId: state.current, channel: channel(), start: false } });
  });

  // ---- playback ----------------------------------------------------------

  const pad = (n) => String(n).padStart(2, '0');
  const localInput = (d) => `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())}T${pad(d.getHours())}:` +
    `${pad(d.getMinutes())}:${pad(d.getSeconds())}`;
  // The shell reads times as "YYYY-MM-DD hh:mm:ss" in local time.
  function timeText(value) {
    const match = /^(\d{4}-\d{2}-\d{2})T(\d{2}:\d{2})(:\d{2})?/.exec(value);
    return match ? `${match[1]} ${match[2]}${match[3] ?? ':00'}` : '';
  }
  const timeOf = (value) => new Date(timeText(value).replace(' ', 'T')).getTime();

  (function defaultSpan() {
    const end = new Date();
    end.setMilliseconds(0);
    const start = new Date(end.getTime() - 3600 * 1000);
    if (start.getDate() !== end.getDate()) start.setTime(new Date(end).setHours(0, 0, 0, 0));
    $('pb-start').value = localInput(start);
    $('pb-end').value = localInput(end);
  })();

  function playback(type, body, name) {
    return send({ Fountion: 'playback', PlaybackCtrl: { type, uniqueId: state.current,
      channel: Number($('pb-channel').value), ...body } }, `playback ${name}`);
  }
  const playOp = (play, name) => playback(1, { Preview: { play, remote: true } }, name);

  on('pb-play', 'click', async () => {
    if (!needDevice()) return;
    await titleShown;
    const reply = await playback(1, { Preview: { play: 1, remote: true, streamType: 2, recordType: -1, adjustPos: false,
      title: TITLE, playPos: timeText($('pb-start').value), ...dockRect($('pb-area')) } }, 'Preview');
    if (reply.code !== 200) return;
    state.playing = true;
    await playback(3, { Audio: { mute: $('pb-mute').checked } }, 'Audio');
    startPlaybackPoll();
  });
  on('pb-pause', 'click', () => needDevice() && playOp(2, 'pause'));
  on('pb-step', 'click', () => needDevice() && playOp(4, 'step'));
  on('pb-stop', 'click', async () => {
    if (!needDevice()) return;
    await playOp(3, 'stop');
    state.playing = false;
    stopPlaybackPoll();
  });
  on('pb-slow', 'click', () => needDevice() && playback(2, { Speed: { fast: false } }, 'slow'));
  on('pb-fast', 'click', () => needDevice() && playback(2, { Speed: { fast: true } }, 'fast'));
  on('pb-normal', 'click', () => needDevice() && playback(2, { Speed: { revertToNormal: true } }, 'normal'));
  on('pb-mute', 'change', () => needDevice() && playback(3, { Audio: { mute: $('pb-mute').checked } }, 'Audio'));

  // The position slider spans the chosen time range; it follows the player
  // once a second unless the person is moving it.
  function startPlaybackPoll() {
    stopPlaybackPoll();
    state.positionTimer = setInterval(async () => {
      if (!state.playing || state.seeking) return;
      const reply = await playback(5, {}, 'position');
      if (reply.code !== 200) {
        stopPlaybackPoll();
        return;
      }
      const start = timeOf($('pb-start').value);
      const end = timeOf($('pb-end').value);
      if (reply.nowPos) {
        $('pb-now').textContent = reply.nowPos;
        const now = new Date(reply.nowPos.replace(' ', 'T')).getTime();
        if (end > start) $('pb-position').value = String(Math.round(((now - start) / (end - start)) * 1000));
      } else if (typeof reply.progress === 'number') {
        $('pb-now').textContent = `${reply.progress}`;
      }
    }, 1000);
  }
  function stopPlaybackPoll() {
    clearInterval(state.positionTimer);
    state.positionTimer = 0;
  }
  $('pb-position').addEventListener('pointerdown', () => { state.seeking = true; });
  on('pb-position', 'change', async () => {
    state.seeking = false;
    if (!needDevice()) return;
    const start = timeOf($('pb-start').value);
    const end = timeOf($('pb-end').value);
    if (!(end > start)) return;
    const at = new Date(start + ((end - start) * Number($('pb-position').value)) / 1000);
    await playback(4, { Position: { progress: 0, newPos: timeText(localInput(at)) } }, 'Position');
  });

  // ---- downloads ---------------------------------------------------------

  on('dl-start', 'click', async () => {
    if (!needDevice()) return;
    // No path: Kestrova asks the person where to save the file.
    const reply = await send({ Fountion: 'download', DownloadParam: { operate: 1, uniqueId: state.current,
      Playback: { remote: true, mainStream: $('dl-main').checked, channel: Number($('pb-channel').value),
        recordType: -1, format: Number($('dl-format').value), startTime: timeText($('pb-start').value),
        endTime: timeText($('pb-end').value) } } }, 'download start');
    if (reply.code !== 200) return;
    state.taskId = reply.taskId;
    $('dl-progress').value = 0;
    $('dl-percent').textContent = '0 %';
    stopDownloadPoll();
    state.downloadTimer = setInterval(async () => {
      if (state.taskId === null) return;
      const progress = await send({ Fountion: 'download', DownloadParam: { operate: 2, uniqueId: state.current,
        Query: { taskId: state.taskId } } }, 'download query');
      if (progress.code !== 200) {
        // A lost device or a full disk ends the download with its code.
        finishDownload(`stopped: ${progress.code} ${meaning(progress.code)}`);
        return;
      }
      // 10005 means finished (or interrupted) and the file complete.
      const value = Math.min(10000, progress.percent);
      $('dl-progress').value = value;
      $('dl-percent').textContent = `${(value / 100).toFixed(1)} %`;
      if (progress.percent >= 10005) finishDownload('done');
    }, 1000);
  });
  on('dl-stop', 'click', async () => {
    if (!needDevice() || state.taskId === null) return;
    const reply = await send({ Fountion: 'download', DownloadParam: { operate: 3, uniqueId: state.current,
      Interrupt: { taskId: state.taskId } } }, 'download interrupt');
    if (reply.code === 200) finishDownload('interrupted');
  });
  function stopDownloadPoll() {
    clearInterval(state.downloadTimer);
    state.downloadTimer = 0;
  }
  function finishDownload(how) {
    stopDownloadPoll();
    state.taskId = null;
    $('dl-percent').textContent = how;
  }

  // ---- device settings ---------------------------------------------------

  function showTemplate() {
    $('set-block').value = JSON.stringify(SETTINGS_TEMPLATE[$('set-type').value], null, 1);
  }
  $('set-type').addEventListener('change', showTemplate);
  showTemplate();

  function settings(operate, extra = {}) {
    return send({ Fountion: 'settings', settings: { operate, uniqueId: state.current,
      type: Number($('set-type').value), ...extra } }, `settings ${['', 'apply', 'read', 'clear'][operate]}`);
  }
  // The settings cell takes the channel's picture; the block goes on it.
  on('set-edit', 'click', async () => {
    if (!needDevice()) return;
    let block;
    try {
      block = JSON.parse($('set-block').value);
    } catch (error) {
      $('set-result').textContent = `The block is not JSON: ${error.message}`;
      return;
    }
    const opened = await preview({ open: true }, channel(), { settings: true });
    if (opened.code !== 200) {
      $('set-result').textContent = `settings view: ${opened.code} ${meaning(opened.code)}`;
      return;
    }
    const reply = await settings(1, { [SETTINGS_OBJECT[$('set-type').value]]: block });
    $('set-result').textContent = `${reply.code} ${meaning(reply.code)}`;
  });
  on('set-read', 'click', async () => {
    if (!needDevice()) return;
    const reply = await settings(2);
    $('set-result').textContent = reply.code === 200 ? JSON.stringify(reply.settings, null, 1)
      : `${reply.code} ${meaning(reply.code)}`;
  });
  on('set-clear', 'click', async () => {
    if (!needDevice()) return;
    const reply = await settings(3);
    $('set-result').textContent = `${reply.code} ${meaning(reply.code)}`;
  });
  on('set-leave', 'click', async () => {
    if (needDevice()) await live(9, { ShowDock: { showMode: 6 } });
  });

  refreshDevices();
  connect();
})();
