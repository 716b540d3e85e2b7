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
import dgram from 'node:dgram';
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
  // The host decodes the form: "50%" is stored as typed.
  assert.equal(read('Router alarms'), syslogFile('Router alarms', '10.0.0.5', 'Router down at 50% load', '514'));

  // The same name from the new page again is refused, the file stays, and the way back
  // leads to the form as it was filled in.
  await page.goto(baseUrl);
  await page.click('text=New Syslog notification');
  await page.fill('input[name=instancename]', 'Router alarms');
  await page.fill('input[name=port]', '1');
  await page.fill('input[name=address]', '10.0.0.9');
  await page.fill('input[name=message]', 'Typed with care & 100% "kept"');
  const [answer] = await Promise.all([page.waitForResponse(/_maincfgret\.cgi$/), page.click('input[type=submit]')]);
  assert.equal(answer.status(), 409);
  assert.match(await page.textContent('#failure'), /^A notification named "Router alarms" already exists\. Choose another name/);
  assert.equal(read('Router alarms'), syslogFile('Router alarms', '10.0.0.5', 'Router down at 50% load', '514'));
  await Promise.all([page.waitForURL(/_newnotify\.cgi\?type=SysLog$/), page.click('#back')]);
  assert.equal(await page.inputValue('input[name=instancename]'), 'Router alarms');
  assert.equal(await page.inputValue('input[name=port]'), '1');
  assert.equal(await page.inputValue('input[name=address]'), '10.0.0.9');
  assert.equal(await page.inputValue('input[name=message]'), 'Typed with care & 100% "kept"');
  // Corrected, the same form is saved.
  await page.fill('input[name=instancename]', 'Router spare');
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=submit]')]);
  assert.equal(read('Router spare'), syslogFile('Router spare', '10.0.0.9', 'Typed with care %26 100% "kept"', '1'));
  fs.rmSync(path.join(notify, 'Router spare'));
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

// Opens the edit page of an instance from the list and submits it as it is, n times,
// checking after each that the file is byte for byte what it was.
async function submitUnchanged(page, name, times) {
  const before = fs.readFileSync(path.join(notify, name));
  for (let i = 0; i < times; i++) {
    await page.goto(baseUrl);
    await page.click(`#instances a:text-is(${JSON.stringify(name)})`);
    await page.waitForSelector('input[name=origname]', { state: 'attached' });
    assert.equal(await page.inputValue('input[name=origname]'), name);
    await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=submit], input[type=SUBMIT]')]);
    assert.deepEqual(fs.readFileSync(path.join(notify, name)), before, `after submit ${i + 1}`);
  }
}

test('an instance submitted unchanged from its edit page keeps its file byte for byte', async () => {
  const page = await openPage();
  // Written elsewhere (the desktop, a shell): %, <, quotes, an accented letter (code page 1252).
  const typed = '50% "load" <core>';
  fs.writeFileSync(path.join(notify, typed),
    syslogFile(typed, '10.0.0.5', 'Disk 90% full on %H <hot> "now" it\'s caf\u00e9 %25', '514'), 'latin1');
  await submitUnchanged(page, typed, 3);
  await page.click(`#instances a:text-is(${JSON.stringify(typed)})`);
  assert.equal(await page.inputValue('textarea[name=message]'), 'Disk 90% full on %H <hot> "now" it\'s caf\u00e9 %25');

  // Typed into the new page: "&" and "+" are stored escaped (%26, %2B), and stay so.
  await page.goto(`${baseUrl}_newnotify.cgi?type=SysLog`);
  await page.fill('input[name=instancename]', 'Typed 100% <b>');
  await page.fill('input[name=port]', '514');
  await page.fill('input[name=address]', '10.0.0.6');
  await page.fill('input[name=message]', 'Disk 90% full on %H & <hot> 1+1 "caf\u00e9"');
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=submit]')]);
  assert.equal(read('Typed 100% <b>'), syslogFile('Typed 100% <b>', '10.0.0.6', 'Disk 90% full on %H %26 <hot> 1%2B1 "caf\u00e9"', '514'));
  await submitUnchanged(page, 'Typed 100% <b>', 3);
  await page.close();
});

test('a multi-line speech message typed in the browser survives repeated submits', async () => {
  const page = await openPage();
  await page.goto(`${baseUrl}_newnotify.cgi?type=TextSpeech`);
  await page.fill('input[name=instancename]', 'Hall 100%');
  await page.fill('input[name=speakrate]', '-2');
  await page.fill('input[name=volumerate]', '70');
  await page.fill('textarea[name=message]', 'Front door open at 50%\nCall "security" & the caf\u00e9 <now>');
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[type=submit]')]);
  // The line break arrives escaped and is stored as its escape, as "&" is.
  assert.equal(read('Hall 100%'), speechFile('Hall 100%', -2, 70,
    ['Front door open at 50%%0D%0ACall "security" %26 the caf\u00e9 <now>']));
  await submitUnchanged(page, 'Hall 100%', 3);
  await page.close();
});

test('an instance is deleted from the list after a confirmation', async () => {
  fs.writeFileSync(path.join(notify, 'Old switch'), syslogFile('Old switch', '10.0.0.8', 'gone', '514'), 'latin1');
  const page = await openPage();
  await page.goto(baseUrl);
  await page.click('#instances tr:has(a:text-is("Old switch")) a:text-is("Delete")');
  assert.match(await page.textContent('#question'), /Delete the notification Old switch\?/);
  assert.equal(fs.existsSync(path.join(notify, 'Old switch')), true);
  await Promise.all([page.waitForURL(/_maincfgreg\.cgi$/), page.click('input[value=Delete]')]);
  assert.equal(fs.existsSync(path.join(notify, 'Old switch')), false);
  assert.equal(await page.locator('#instances a:text-is("Old switch")').count(), 0);
  // The Default instance is marked in the list and on its confirmation page.
  assert.match(await page.textContent('#instances tr:has(td:text-is("Default")), #instances tr:has(a:text-is("Default"))'), /Default: presets new notifications/);
  await page.goto(`${baseUrl}_deletenotify.cgi?name=Default`);
  assert.match(await page.textContent('#default'), /This is the Default notification/);
  await page.click('text=Cancel');
  assert.equal(fs.existsSync(path.join(notify, 'Default')), true);
  await page.close();
});

test('the Help link opens the plug-in\'s help page, whose own links work', async () => {
  fs.writeFileSync(path.join(notify, 'Helped'), syslogFile('Helped', '10.0.0.5', 'm', '514'), 'latin1');
  const page = await openPage();
  await page.goto(`${baseUrl}_editnotify.cgi?name=Helped`);
  const [help] = await Promise.all([context.waitForEvent('page'), page.click('a:text-is("Help")')]);
  await help.waitForLoadState();
  assert.match(help.url(), /\/help\/Tellumo\.chm\/h_edtnotsyslog\.htm$/);
  assert.equal(await help.textContent('h1'), 'SysLog Notification web page');
  await Promise.all([help.waitForURL(/\/help\/Tellumo\.chm\/index\.htm$/), help.click('a:text-is("Contents")')]);
  assert.notEqual(await help.textContent('body'), '');
  await help.close();
  fs.rmSync(path.join(notify, 'Helped'));
  await page.close();
});

test('the Test action sends one alert with the typed variables and shows the outcome', async () => {
  const receiver = dgram.createSocket('udp4');
  await new Promise((resolve) => receiver.bind(0, '127.0.0.1', resolve));
  const received = new Promise((resolve) => receiver.once('message', (msg) => resolve(msg.toString('latin1'))));
  fs.writeFileSync(path.join(notify, 'Tested'),
    syslogFile('Tested', '127.0.0.1', '%H down, load %L', String(receiver.address().port)), 'latin1');
  const page = await openPage();
  await page.goto(baseUrl);
  await page.click('#instances tr:has(a:text-is("Tested")) a:text-is("Test")');
  await page.fill('textarea[name=vars]', 'H=core-9\nL=97%');
  await page.click('input[type=submit]');
  await page.waitForSelector('#result');
  assert.equal(await received, 'core-9 down, load 97%');
  assert.match(await page.textContent('#result'), /^Notify returned 0x00000000 \(S_OK\)/);
  assert.match(await page.textContent('#log'), /SysLog::Notify Processing\.\.\. Complete\./);
  receiver.close();
  fs.rmSync(path.join(notify, 'Tested'));
  await page.close();
});

test('sentrel web stops cleanly on SIGTERM', async () => {
  await context.close();
  context = undefined;
  server.kill('SIGTERM');
  assert.deepEqual(await serverExit, { code: 0, signal: null });
});
