// Drives Chromium against the real recorder: the recordings page and the status page as a
// browser shows them, with Basic credentials, over loopback.
//
// Usage: node pages_test.mjs <path to velloran> <folder for the screenshots>
//
// The program runs twice on one root folder with two generator slots: the first run records a
// few seconds on both slots and closes its files, so the second run (slot 0 recording, slot 1
// off) has finished recordings to list, play and download. Every wait is on the program's output,
// the file system, the network or the page, each with a time-out; the status page's timers run
// on Playwright's clock, so "500 ms after a press" is page time, not wall time.
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';
import {chromium} from 'playwright-core';

// A zone away from UTC, for the program and the browser alike: start times cross the service as
// UTC and must come back as the recording's local time.
process.env.TZ = 'America/New_York';

const VELLORAN = path.resolve(process.argv[2] ?? '');
const ARTEFACTS = path.resolve(process.argv[3] ?? '.');
const TIMEOUT = 30000;
const USER = 'admin';
const PASSWORD = 'pages-secret';
const SLOT1_NAME = '<u>Ramp';  // markup in a name must stay text on the pages

function webHash(password) {
  return crypto.createHash('md5')
      .update('QuorvexTamblinPrade' + password, 'latin1')
      .digest('hex')
      .toUpperCase();
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function waitUntil(what, probe, timeout = TIMEOUT) {
  const deadline = Date.now() + timeout;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

// One running "velloran -headless" whose standard output is collected line by line.
class Program {
  constructor(root) {
    this.lines = [];
    this.exited = new Promise((resolve) => {
      this.proc =
          spawn(VELLORAN, ['-headless', '-rootfolder', root], {stdio: ['ignore', 'pipe', 'pipe']});
      this.proc.on('exit', (code) => resolve(code));
    });
    let rest = '';
    this.proc.stdout.on('data', (chunk) => {
      rest += chunk.toString();
      const parts = rest.split('\n');
      rest = parts.pop();
      this.lines.push(...parts);
    });
    this.proc.stderr.resume();
  }

  waitFor(text, count = 1) {
    return waitUntil(`${count} line(s) with ${JSON.stringify(text)}`, () => {
      const found = this.lines.filter((line) => line.includes(text));
      return found.length >= count ? found : null;
    });
  }

  async stop() {
    if (this.proc.exitCode === null) this.proc.kill('SIGTERM');
    return this.exited;
  }
}

function writeConfiguration(root, port) {
  const slot = (index, name, device, enabled) =>
      [`[Slot${index}]`,
       `Name=${name}`,
       `Enabled=${enabled}`,
       'Source=Soundcard',
       `Device=${device}`,
       'Format=mp3',
       'Bitrate=128',
       'Mode=stereo',
       'TimeSlotLength=60',
       'TimeSlotAlign=off',
       `Folder=${path.join(root, 'recordings', String(index))}`,
  ];
  const lines = [
    '[General]',
    'SlotCount=2',
    'AlarmSlotCount=0',
    'CloseConfirmation=off',
    '[Webserver]',
    'Enabled=on',
    `Port=127.0.0.1:${port}`,
    `AdminUser=${USER}`,
    `AdminPassword=${webHash(PASSWORD)}`,
    'AnonymousAccess=none',
    ...slot(0, 'Tone', 'GEN:tone', 'on'),
    ...slot(1, SLOT1_NAME, 'GEN:ramp', 'on'),
  ];
  fs.writeFileSync(path.join(root, 'Velloran.ini'), lines.join('\n') + '\n');
}

// Turns one slot off in the configuration the program wrote at close.
function disableSlot(root, index) {
  const file = path.join(root, 'Velloran.ini');
  const text = fs.readFileSync(file, 'utf8');
  const section = new RegExp(`(\\[Slot${index}\\][^\\[]*?)Enabled=on`);
  assert.match(text, section);
  fs.writeFileSync(file, text.replace(section, '$1Enabled=off'));
}

function getJson(port, target) {
  return new Promise((resolve, reject) => {
    const auth = Buffer.from(`${USER}:${PASSWORD}`).toString('base64');
    http.get(
            {host: '127.0.0.1', port, path: target, headers: {Authorization: `Basic ${auth}`}},
            (res) => {
              let body = '';
              res.setEncoding('latin1');
              res.on('data', (chunk) => {
                body += chunk;
              });
              res.on('end', () => {
                if (res.statusCode !== 200)
                  reject(new Error(`${target}: ${res.statusCode} ${body}`));
                else
                  resolve(JSON.parse(body));
              });
            })
        .on('error', reject);
  });
}

// The events the calendar shows for today in list view.
function todaysEvents(port, slot) {
  const day = new Date();
  day.setHours(0, 0, 0, 0);
  const next = new Date(day.getTime() + 86400000);
  const iso = (d) => encodeURIComponent(d.toISOString());
  return getJson(port, `/ws/slot/${slot}/calendarevents?start=${iso(day)}&end=${iso(next)}`);
}

// Moment's "LLLL" in English, e.g. "Thursday, December 10, 2026 4:05 PM".
function longDateTime(date) {
  const weekday = date.toLocaleDateString('en-US', {weekday: 'long'});
  const month = date.toLocaleDateString('en-US', {month: 'long'});
  const hours = date.getHours() % 12 || 12;
  const minutes = String(date.getMinutes()).padStart(2, '0');
  const half = date.getHours() < 12 ? 'AM' : 'PM';
  return `${weekday}, ${month} ${date.getDate()}, ${date.getFullYear()} ${hours}:${minutes} ${
      half}`;
}

describe('browser pages', () => {
  let root;
  let port;
  let program;
  let context;
  let page;
  let base;

  before(async () => {
    assert.ok(
        fs.statSync(VELLORAN, {throwIfNoEntry: false})?.isFile(), `no program at ${VELLORAN}`);
    fs.mkdirSync(ARTEFACTS, {recursive: true});
    root = fs.mkdtempSync(path.join(os.tmpdir(), 'velloran-pages-'));
    port = await freePort();
    base = `http://127.0.0.1:${port}`;
    writeConfiguration(root, port);

    // First run: a few seconds on both slots, closed cleanly.
    const first = new Program(root);
    try {
      const encoding = await first.waitFor('Encoding to file ', 2);
      const files = encoding.map((line) => line.split('Encoding to file ')[1].trim());
      await waitUntil(
          'audio in both files',
          () => files.every((file) => fs.existsSync(file) && fs.statSync(file).size > 48000));
    } finally {
      assert.equal(await first.stop(), 0, first.lines.join('\n'));
    }
    disableSlot(root, 1);

    program = new Program(root);
    await program.waitFor(': Web server started');
    await program.waitFor('Encoding to file ');

    context = await chromium.launchPersistentContext(
        fs.mkdtempSync(path.join(os.tmpdir(), 'velloran-chromium-')), {
          executablePath: '/usr/bin/chromium',
          headless: true,
          args: [
            '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync'
          ],
          httpCredentials: {username: USER, password: PASSWORD},
          viewport: {width: 1280, height: 800},
          locale: 'en-US',
        });
    page = context.pages()[0] ?? await context.newPage();
    page.setDefaultTimeout(TIMEOUT);
    page.on('response', (response) => {
      if (response.status() >= 400) console.log(`# ${response.status()} ${response.url()}`);
    });
  });

  after(async () => {
    await context?.close();
    if (program) {
      const code = await program.stop();
      assert.equal(code, 0, program.lines.join('\n'));
    }
    if (root) fs.rmSync(root, {recursive: true, force: true});
  });

  it('lands on the calendar in list view with slot 0 and switches slots', async () => {
    const tone = await todaysEvents(port, 0);
    const ramp = await todaysEvents(port, 1);
    assert.ok(tone.length >= 2, JSON.stringify(tone));  // the closed file and the current one
    assert.equal(ramp.length, 1, JSON.stringify(ramp));

    await page.goto(base + '/');
    assert.equal(page.url(), base + '/index.html');
    await page.locator('#calendar .fc-list-view').waitFor();
    const rows = page.locator('#calendar .fc-list-item');
    await waitUntil('slot 0 events', async () => (await rows.count()) === tone.length);
    assert.deepEqual(
        await page.locator('#calendar .fc-list-item-title').allTextContents(),
        tone.map(() => 'Tone'));

    const options = page.locator('#slotselector option');
    await waitUntil('slot options', async () => (await options.count()) === 2);
    assert.deepEqual(
        await options.evaluateAll((list) => list.map((o) => [o.value, o.text])),
        [['0', 'Tone'], ['1', SLOT1_NAME]]);

    await page.selectOption('#slotselector', '1');
    await waitUntil('only slot 1 events', async () => {
      const titles = await page.locator('#calendar .fc-list-item-title').allTextContents();
      return titles.length === 1 && titles[0] === SLOT1_NAME;
    });
    await page.selectOption('#slotselector', '0');
    await waitUntil('slot 0 events again', async () => (await rows.count()) === tone.length);
  });

  it('plays a recording from the dialog and links its download', async () => {
    const [event] = await todaysEvents(port, 0);  // the closed file of the first run
    // The label's texts as the page sets them, caught before the dialog opens.
    await page.evaluate(() => {
      window.loadingLabels = [];
      new MutationObserver(() => {
        window.loadingLabels.push({
          text: document.getElementById('playerLoadingLabel').textContent,
          playDisabled: document.getElementById('playButton').disabled,
        });
      }).observe(document.getElementById('playerLoadingLabel'), {childList: true, subtree: true});
    });
    // A throttled line makes the download arrive in many pieces, so its progress shows.
    const cdp = await context.newCDPSession(page);
    await cdp.send('Network.enable');
    await cdp.send('Network.emulateNetworkConditions', {
      offline: false,
      latency: 0,
      downloadThroughput: 64 * 1024,
      uploadThroughput: -1,
    });
    const ranged = page.waitForResponse(
        (response) => response.url().includes(`/ws/slot/0/getfile/${event.id}/`) &&
            response.request().headers().range !== undefined && response.status() === 206);

    await page.locator('#calendar .fc-list-item').first().click();
    await page.locator('#playerModal').waitFor({state: 'visible'});
    assert.equal(
        await page.locator('#playerTitle').textContent(), longDateTime(new Date(event.start)));

    await page.waitForFunction(() => !document.getElementById('playButton').disabled);
    await cdp.send('Network.emulateNetworkConditions', {
      offline: false,
      latency: 0,
      downloadThroughput: -1,
      uploadThroughput: -1,
    });
    await ranged;  // the media element streams the file in byte ranges
    const seen = await page.evaluate(() => window.loadingLabels);
    const labels = seen.map((entry) => entry.text);
    assert.ok(labels.some((text) => /^Downloading\.\.\. \d{1,3}%$/.test(text)), labels.join('|'));
    assert.equal(labels.at(-1), 'Decoding...');
    assert.ok(
        seen.every((entry) => entry.playDisabled), 'Play enabled before the player was ready');
    assert.ok(await page.locator('#playerLoading').isHidden());
    assert.ok(await page.locator('#pauseButton').isDisabled());
    assert.ok((await page.locator('#playerWaveform canvas').count()) > 0, 'no waveform drawn');
    assert.match(await page.locator('#playerWaveformTimeline').innerText(), /\d{1,2}:\d\d [AP]M/);

    await page.locator('#playButton').click();
    await page.waitForFunction(
        () => document.getElementById('playButton').disabled &&
            !document.getElementById('pauseButton').disabled);
    await waitUntil(
        'a playback position',
        async () =>
            /^\d{1,2}:\d\d:\d\d [AP]M$/.test(await page.locator('#playerPosition').textContent()));
    await page.screenshot({path: path.join(ARTEFACTS, 'recordings-page.png')});
    await page.locator('#pauseButton').click();
    await page.waitForFunction(
        () => !document.getElementById('playButton').disabled &&
            document.getElementById('pauseButton').disabled);

    const href = await page.locator('#playerDownloadButton').getAttribute('href');
    assert.equal(href, `/ws/slot/0/getfile/${event.id}/${event.filename}`);
    assert.ok(event.filename.length > 0 && !event.filename.includes('/'), event.filename);
    const download = await page.request.get(base + href);
    assert.equal(download.status(), 200);
    assert.match(download.headers()['content-disposition'] ?? '', /^attachment/);
    assert.ok(download.headers()['content-disposition'].includes(event.filename));

    await page.locator('#playerModal button[data-dismiss="modal"]').last().click();
    await page.locator('#playerModal').waitFor({state: 'hidden'});
    // Bootstrap reports the dialog hidden once its fade has ended; the player goes with it.
    await page.waitForFunction(
        () => document.getElementById('playerWaveform').children.length === 0);
  });

  it('status page colours the slots and sends START to /execute', async () => {
    const status = await context.newPage();
    status.setDefaultTimeout(TIMEOUT);
    try {
      await status.clock.install();
      await status.goto(base + '/status.html');
      assert.equal(await status.title(), 'Sondrel Velloran');
      await status.locator('#list .slot').nth(1).waitFor();
      assert.equal(await status.locator('#list .slot').count(), 2);
      assert.equal(await status.locator('#slot-name-1').textContent(), SLOT1_NAME);
      assert.equal(await status.locator('#slot-name-1 u').count(), 0);
      await status.locator('#start-0.started').waitFor();
      await status.locator('#stop-1.stopped').waitFor();
      const colour = (selector) =>
          status.locator(selector).evaluate((el) => getComputedStyle(el).backgroundColor);
      assert.equal(await colour('#start-0'), 'rgb(0, 255, 51)');
      assert.equal(await colour('#stop-1'), 'rgb(255, 0, 0)');
      await status.screenshot({path: path.join(ARTEFACTS, 'status-page.png')});

      // From here the page's timers only run when the test moves its clock.
      await status.clock.pauseAt(Date.now() + 1000);
      const command = status.waitForRequest(
          (request) =>
              new URL(request.url()).pathname === '/execute' && request.method() === 'POST');
      await status.locator('#start-1').click();
      assert.equal((await command).postData(), 'command=SLOT+2+START');
      await waitUntil(
          'slot 2 recording', async () => (await getJson(port, '/ws/slots'))[1].Recording);
      assert.equal(await status.locator('#start-1.started').count(), 0);

      const refresh =
          status.waitForResponse((response) => new URL(response.url()).pathname === '/ws/slots');
      await status.clock.runFor(500);
      await refresh;
      await status.locator('#start-1.started').waitFor();
      assert.equal(await colour('#start-1'), 'rgb(0, 255, 51)');
      assert.equal(await status.locator('#stop-1.stopped').count(), 0);
      await status.screenshot({path: path.join(ARTEFACTS, 'status-page-started.png')});
    } finally {
      await status.close();
    }
  });
});
