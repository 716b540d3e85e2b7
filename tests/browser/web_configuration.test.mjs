// The web configuration as an operator uses it: Debian's headless Chromium, driven by
// playwright-core, against `sentrel web` on 127.0.0.1 with an ephemeral port, in a fresh
// registry and notification directory.
//
// The build directory comes from SENTREL_BUILD_DIR (CTest sets it), else ../../build.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { createInterface } from 'node:readline';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (e) {
  throw new Error('playwright-core is missing: run "npm ci" in tests/browser first');
}

const here = path.dirname(fileURLToPath(import.meta.url));
const buildDir = path.resolve(process.env.SENTREL_BUILD_DIR || path.join(here, '..', '..', 'build'));
const sentrel = path.join(buildDir, 'bin', 'sentrel');
const SYSLOG_TYPE = '{69DD7B00-B669-11D4-804A-0001025EB176}';
const SPEECH_CLSID = '{44440FAF-3359-11D5-8075-00E0295E9283}';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'sentrel-browser-'));
const registry = path.join(work, 'registry.reg');
const notify = path.join(work, 'notify');
let server;
let serverExit;
let baseUrl;
let context;

function host(...args) {
  return execFileSync(sentrel, ['--registry', registry, ...args], { encoding: 'utf8' });
}

function syslogFile(name, address, message, port) {
  return `[Syslog\\${name}]\r\nCLSID=${SYSLOG_TYPE}\r\nAddress=${address}\r\n` +
    `Message=${message}\r\nPort=${port}\r\n`;
}

function speechFile(name, rate, volume, lines) {
  return `[TextSpeech\\${name}]\r\nCLSID=${SPEECH_CLSID}\r\nSpeakRate=${rate}\r\n` +
    `VolumnRate=${volume}\r\n` + lines.map((line, i) => `Message${i + 1}=${line}\r\n`).join('') +
    `NO_OF_MESSAGE_LINES=${lines.length}\r\n`;
}

function read(name) {
  return fs.readFileSync(path.join(notify, name), 'latin1');
}

before(async () => {
  fs.mkdirSync(notify);
  host('init');
  host('register', path.join(buildDir, 'plugins', 'tellumo.so'));
  host('register', path.join(buildDir, 'plugins', 'parlanza.so'));

  server = spawn(sentrel, ['--registry', registry, 'web', '--dir', notify, '--listen', '127.0.0.1:0'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  serverExit = new Promise((resolve) => server.on('exit', (code, signal) => resolve({ code, signal })));
  const lines = createInterface({ input: server.stdout });
  baseUrl = await new Promise((resolve, reject) => {
    lines.once('line', (line) => {
      const m = /^Listening on (http:\/\/127\.0\.0\.1:\d+\/)$/.exec(line);
      if (m) resolve(m[1]); else reject(new Error(`unexpected first line: ${line}`));
    });
    server.once('exit', (code) => reject(new Error(`sentrel web exited with ${code}`)));
  });
  lines.on('line', () => {}); // keep reading the log so the server never blocks on it

  context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (context) await context.close();
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(work, { recursive: true, force: true });
});

// A fresh page that fails the test on any script the pages did not bring themselves.
async function openPage() {
  const page = await context.newPage();
  page.on('dialog', (dialog) => {
    dialog.dismiss();
    assert.fail(`a dialog opened: ${dialog.message()}`);
  });
  return page;
}

test('a syslog instance created from the new page is written with the posted values', async () => {
  const page = await openPage();
  await page.goto(baseUrl);
  await page.click('text=New Syslog notification');
  await page.waitForSelector('td:text-is("New SysLog Notification")');
  await page.fill('input[name=instancename]', 'Router alarms');
  await page.fill('input[name=port]', '514');
  await page.fill('input[name=address]', '10.0.0.5');
  await page.fill('input[name=message]', 'Router down at 50% load');
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=submit][value=Submit]')]);

  // Back on the list, which now holds the instance.
  assert.equal(await page.textContent('#instances a'), 'Router alarms');
  // The body reaches the plug-in undecoded: "+" is read as a blank, "%25" stays.
  assert.equal(read('Router alarms'), syslogFile('Router alarms', '10.0.0.5', 'Router down at 50%25 load', '514'));

  // The same name from the new page again is refused and the file stays.
  await page.goto(`${baseUrl}_newnotify.cgi?type=SysLog`);
  await page.fill('input[name=instancename]', 'Router alarms');
  await page.fill('input[name=port]', '1');
  await page.click('input[type=submit]');
  await page.waitForSelector('#failure');
  assert.match(await page.textContent('#log'), /Router alarms Syslog Notification - Instance name already exists\./);
  assert.equal(read('Router alarms'), syslogFile('Router alarms', '10.0.0.5', 'Router down at 50%25 load', '514'));
  await page.close();
});

test('an edited syslog instance is rewritten under the same name', async () => {
  fs.writeFileSync(path.join(notify, 'Core switch'), syslogFile('Core switch', '10.0.0.7', 'Switch down', '1514'), 'latin1');
  const page = await openPage();
  await page.goto(baseUrl);
  await page.click('#instances a:text-is("Core switch")');
  assert.match(page.url(), /_editnotify\.cgi\?name=Core%20switch$/);

  // The stored values, the name shown but disabled.
  const name = page.locator('input[name=instancename]');
  assert.equal(await name.inputValue(), 'Core switch');
  assert.equal(await name.isDisabled(), true);
  assert.equal(await page.inputValue('input[name=port]'), '1514');
  assert.equal(await page.inputValue('input[name=address]'), '10.0.0.7');
  assert.equal(await page.inputValue('textarea[name=message]'), 'Switch down');

  await page.fill('textarea[name=message]', 'Switch down again');
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=SUBMIT]')]);
  assert.equal(read('Core switch'), syslogFile('Core switch', '10.0.0.7', 'Switch down again', '1514'));
  assert.deepEqual(fs.readdirSync(notify).filter((f) => f.startsWith('Core')), ['Core switch']);
  await page.close();
});

test('a speech instance is created from a form preset from the Default instance', async () => {
  fs.writeFileSync(path.join(notify, 'Default'), speechFile('Default', -3, 80, ['Front desk printer is down']), 'latin1');
  const page = await openPage();
  await page.goto(baseUrl);
  await page.click('text=New TextSpeech notification');
  await page.waitForSelector('td:text-is("New \'Text To Speech\' Notification")');

  // The form starts with the Default instance's values.
  assert.equal(await page.inputValue('input[name=speakrate]'), '-3');
  assert.equal(await page.inputValue('input[name=volumerate]'), '80');
  assert.equal(await page.inputValue('textarea[name=message]'), 'Front desk printer is down');
  assert.equal(await page.inputValue('input[name=instancename]'), '');

  await page.fill('input[name=instancename]', 'Lobby');
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=submit]')]);
  assert.equal(await page.locator('#instances tr:has(a:text-is("Lobby")) td >> nth=1').textContent(), 'TextSpeech');
  assert.equal(read('Lobby'), speechFile('Lobby', -3, 80, ['Front desk printer is down']));

  // Its edit page shows what was written.
  await page.click('#instances a:text-is("Lobby")');
  assert.equal(await page.inputValue('input[name=origname]'), 'Lobby');
  assert.equal(await page.inputValue('input[name=speakrate]'), '-3');
  assert.equal(await page.inputValue('textarea[name=message]'), 'Front desk printer is down');
  await page.close();
});

test('a stored <script> is shown as text and never runs', async () => {
  const message = '</textarea><script>window.injected = "message"; document.title = "pwned"</script>';
  const address = '"><script>window.injected = "address"</script>';
  const name = 'Scripted <img src=x onerror="window.injected=1">';
  fs.writeFileSync(path.join(notify, name), syslogFile(name, address, message, '514'), 'latin1');

  const page = await openPage();
  await page.goto(baseUrl);
  // The list shows the name as text, the edit page the values.
  await page.click(`#instances a:text-is(${JSON.stringify(name)})`);
  await page.waitForSelector('textarea[name=message]');
  assert.equal(await page.inputValue('textarea[name=message]'), message);
  assert.equal(await page.inputValue('input[name=address]'), address);
  assert.equal(await page.inputValue('input[name=instancename]'), name);
  assert.equal(await page.inputValue('input[name=origname]'), name);
  assert.equal(await page.evaluate(() => window.injected), undefined);
  assert.equal(await page.title(), 'Sentrel');
  assert.equal(await page.locator('script').count(), 0);
  assert.equal(await page.locator('img').count(), 0);
  await page.close();
});

test('sentrel web stops cleanly on SIGTERM', async () => {
  await context.close();
  context = undefined;
  server.kill('SIGTERM');
  assert.deepEqual(await serverExit, { code: 0, signal: null });
});
