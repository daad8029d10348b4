// The page in headless Chromium and headless Firefox, opened from its
// folder and from a web server on this machine.  The conversion itself is
// tested in C++; these tests cover what only the page does: the order of
// the sources, the run in a worker, the words for the outcome, the second
// run as a receiver, the download, the layout on a phone, and that nothing
// but the page's own files is ever requested.  On every case the status,
// the messages and the downloaded bytes must be those of the native build
// of the same commit on the same files.
//
//   ROMWEAVE_BROWSERS     the browsers to test in, chromium, firefox or both
//                         (default: "chromium firefox")
//   ROMWEAVE_WEB          the page's folder (default: build-web/web)
//   ROMWEAVE_HOST_BUILD   the native build, with romweave and mkcapture
//                         (default: build)
//   ROMWEAVE_CHROMIUM     Chromium (default: /usr/bin/chromium)
//   ROMWEAVE_FIREFOX      Firefox (default: /usr/bin/firefox-esr)
//   ROMWEAVE_WEB_OUTPUT   where the phone screenshots go (default: the
//                         page's folder's parent, web-tests/)

import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';
import {fileURLToPath, pathToFileURL} from 'node:url';

import puppeteer from 'puppeteer-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pageDir = path.resolve(process.env.ROMWEAVE_WEB || path.join(root, 'build-web/web'));
const hostBuild = path.resolve(process.env.ROMWEAVE_HOST_BUILD || path.join(root, 'build'));
const browserNames = (process.env.ROMWEAVE_BROWSERS || 'chromium firefox')
    .split(/[\s,]+/).filter(Boolean);
const outputDir = path.resolve(process.env.ROMWEAVE_WEB_OUTPUT ||
                               path.join(pageDir, '..', 'web-tests'));
const pageFiles = ['index.html', 'page.js', 'romweave.js', 'style.css'];

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'romweave-web-'));

function mkcapture(...args) {
  const run = spawnSync(path.join(hostBuild, 'mkcapture'), args, {cwd: work});
  assert.equal(run.status, 0, `mkcapture ${args.join(' ')}: ${run.stderr}`);
}

// What the native tool prints and writes for `names`, run in `folder`, in
// the plain reading or as an XMODEM receiver.
function nativeRun(folder, names, receiver) {
  const run = spawnSync(path.join(hostBuild, 'romweave'),
                        [...(receiver ? ['--receiver', '--'] : []), ...names, 'rom.bin'],
                        {cwd: folder, encoding: 'buffer'});
  const image = path.join(folder, 'rom.bin');
  return {
    status: run.status,
    stdout: run.stdout.toString('utf8'),
    stderr: run.stderr.toString('utf8'),
    image: fs.existsSync(image) ? fs.readFileSync(image) : null,
  };
}

// The cases: each makes its files in a folder of its own, gives them to the
// page in the order `given`, expects them listed in the order `listed` (the
// native run gets that order too) and the outcome in words to match `words`,
// and read as a receiver, `receiverWords` where they differ.
const cases = [
  {name: 'three parts given out of order',
   make(folder) {
     mkcapture('3', path.join(folder, 'part1.cap'));
     mkcapture('--first', '3', '2', path.join(folder, 'part2.cap'));
     mkcapture('--first', '5', '1', path.join(folder, 'part10.cap'));
   },
   given: ['part10.cap', 'part2.cap', 'part1.cap'],
   listed: ['part1.cap', 'part2.cap', 'part10.cap'],
   words: /^Clean: 3 sources checked and joined into an image of 768 bytes\.$/,
   receiverWords: /^Clean: 3 sources .* 768 bytes\. Read as an XMODEM receiver would, PART1\.CAP: no EOT at its end/},
  {name: 'a source kept as a calculator string',
   make(folder) { mkcapture('--wrap', '20', path.join(folder, 'dump.hp')); },
   given: ['dump.hp'], listed: ['dump.hp'], words: /^Clean: /},
  // A raw capture as sent: the sender's end-of-transmission byte after the
  // last block.
  {name: 'the EOT byte after the last block',
   make(folder) {
     mkcapture('4', path.join(folder, 'dump.cap'));
     fs.appendFileSync(path.join(folder, 'dump.cap'), Buffer.from([0x04]));
   },
   given: ['dump.cap'], listed: ['dump.cap'],
   words: /^Fault in dump\.cap at address 00200: /,
   receiverWords: /^Clean: 1 source checked and joined into an image of 512 bytes\.$/},
  // Frames with a CRC-16, which only a receiver's reading takes; one sent
  // twice, as after a lost acknowledgement.
  {name: 'a CRC capture with a frame sent twice',
   make(folder) {
     const file = path.join(folder, 'crc.cap');
     mkcapture('--crc', '3', file);
     const frames = fs.readFileSync(file);
     fs.writeFileSync(file, Buffer.concat([frames, frames.subarray(266), Buffer.from([0x04])]));
   },
   given: ['crc.cap'], listed: ['crc.cap'],
   words: /^Fault in crc\.cap at address 00000: /,
   receiverWords: new RegExp('^Clean: .* Read as an XMODEM receiver would, CRC\\.CAP: ' +
                             'frames with a CRC-16; a repeated frame skipped at offset 399\\.$')},
  // A block that noise damaged, and the sender's second copy of it after:
  // the plain reading fails on the first and names the receiver's reading,
  // which skips it.
  {name: 'a damaged block the sender sent again',
   make(folder) {
     const file = path.join(folder, 'resent.cap');
     mkcapture('3', file);
     const blocks = fs.readFileSync(file);
     const damaged = Buffer.from(blocks.subarray(0, 264));
     damaged[132 + 40] ^= 0xFF;
     fs.writeFileSync(file, Buffer.concat([damaged, blocks.subarray(132), Buffer.from([0x04])]));
   },
   given: ['resent.cap'], listed: ['resent.cap'],
   words: /^Fault in resent\.cap at address 00080: /,
   receiverWords: new RegExp('^Clean: 1 source .* 384 bytes\\. Read as an XMODEM receiver ' +
                             'would, RESENT\\.CAP: a damaged stretch skipped at offset 132\\.$')},
  // Noise on the line where the sender's EOT belonged, before its EOT.
  {name: 'noise before the EOT',
   make(folder) {
     mkcapture('3', path.join(folder, 'noise.cap'));
     fs.appendFileSync(path.join(folder, 'noise.cap'), Buffer.from([0x2E, 0x0C, 0x04]));
   },
   given: ['noise.cap'], listed: ['noise.cap'],
   words: /^Fault in noise\.cap at address 00180: /,
   receiverWords: new RegExp('^Clean: 1 source .* 384 bytes\\. Read as an XMODEM receiver ' +
                             'would, NOISE\\.CAP: noise skipped before the EOT at offset 398\\.$')},
  // Only a to z are raised in names; the rest of a UTF-8 name passes as it is.
  {name: 'a text file',
   make(folder) { fs.writeFileSync(path.join(folder, 'notes-é.txt'), 'Not a capture at all.\n'); },
   given: ['notes-é.txt'], listed: ['notes-é.txt'],
   words: /^Fault in notes-é\.txt at address 00000: /},
  {name: 'an empty file',
   make(folder) { fs.writeFileSync(path.join(folder, 'empty.cap'), ''); },
   given: ['empty.cap'], listed: ['empty.cap'],
   words: /^Clean: 1 source checked and joined into an image of 0 bytes\.$/,
   receiverWords: /^Clean: 1 source .* 0 bytes\. Read as an XMODEM receiver would, EMPTY\.CAP: no EOT/},
  // Removed after it was chosen: the browser cannot read it, and the tool
  // is told so as it would be of a missing file.
  {name: 'a source gone before the run',
   make(folder) {
     mkcapture('2', path.join(folder, 'a.cap'));
     mkcapture('--first', '2', '2', path.join(folder, 'b.cap'));
   },
   given: ['a.cap', 'b.cap'], listed: ['a.cap', 'b.cap'], remove: 'b.cap',
   words: /^Not read: b\.cap could not be read by the browser/},
  // 4 MiB: 31,776 blocks of 132 bytes, to be assembled within a second.
  {name: 'a 4 MiB capture',
   make(folder) { mkcapture('31776', path.join(folder, 'large.cap')); },
   given: ['large.cap'], listed: ['large.cap'], words: /^Clean: /, timed: true},
];
before(() => {
  for (const file of [path.join(pageDir, 'index.html'), path.join(hostBuild, 'romweave'),
                      path.join(hostBuild, 'mkcapture')]) {
    assert.ok(fs.existsSync(file), `${file} is missing: see CONTRIBUTING.md, "In a browser"`);
  }
  for (const c of cases) {
    c.folder = path.join(work, c.name.replace(/\W+/g, '-'));
    fs.mkdirSync(c.folder);
    c.make(c.folder);
  }
  fs.mkdirSync(outputDir, {recursive: true});
});

after(() => {
  fs.rmSync(work, {recursive: true, force: true});
});

function pause(milliseconds) {
  return new Promise((resolve) => setTimeout(resolve, milliseconds));
}

// Each browser as puppeteer-core starts it, with what catches a download:
// {browser, catchDownload(click, size)}, which clicks and gives the file
// saved as {name, bytes}.  Chromium is driven over its DevTools protocol,
// which tells when a download begins and ends.  Firefox is driven over
// WebDriver BiDi, which does not: its preferences save every download in
// `downloadDir` under the name the page gives, and the file is done when
// it has the size the page states and Firefox's partial file is gone.
const launchers = {
  async chromium(downloadDir) {
    const browser = await puppeteer.launch({
      executablePath: process.env.ROMWEAVE_CHROMIUM || '/usr/bin/chromium',
      headless: true,
      userDataDir: path.join(work, 'profile-chromium'),
      // As root, and on a machine whose network is closed: no sandbox, and
      // none of the browser's own background connections.
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
             '--disable-background-networking', '--disable-component-update',
             '--disable-sync'],
    });
    const session = await browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior',
                       {behavior: 'allowAndName', downloadPath: downloadDir,
                        eventsEnabled: true});
    async function catchDownload(click) {
      const begun = new Promise((resolve) => session.once('Browser.downloadWillBegin', resolve));
      const finished = new Promise((resolve) => {
        const progress = (event) => {
          if (event.state === 'inProgress') return;
          session.off('Browser.downloadProgress', progress);
          resolve(event);
        };
        session.on('Browser.downloadProgress', progress);
      });
      await click();
      const {guid, suggestedFilename} = await begun;
      assert.equal((await finished).state, 'completed');
      return {name: suggestedFilename, bytes: fs.readFileSync(path.join(downloadDir, guid))};
    }
    return {browser, catchDownload};
  },

  async firefox(downloadDir) {
    const browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: process.env.ROMWEAVE_FIREFOX || '/usr/bin/firefox-esr',
      headless: true,
      userDataDir: path.join(work, 'profile-firefox'),
      extraPrefsFirefox: {
        'browser.download.folderList': 2,
        'browser.download.dir': downloadDir,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
      },
    });
    async function catchDownload(click, size) {
      await click();
      let files = [];
      for (const started = Date.now(); Date.now() - started < 10000; await pause(20)) {
        files = fs.readdirSync(downloadDir);
        if (files.length !== 1 || files[0].endsWith('.part')) continue;
        const file = path.join(downloadDir, files[0]);
        if (fs.statSync(file).size !== size) continue;
        const bytes = fs.readFileSync(file);
        // The next download of the same name is then not renamed.
        fs.rmSync(file);
        return {name: files[0], bytes};
      }
      assert.fail(`no download of ${size} bytes: ${files.map((name) =>
          `${name} (${fs.statSync(path.join(downloadDir, name)).size} bytes)`).join(', ')}`);
    }
    return {browser, catchDownload};
  },
};

// A static server of the page's folder that notes every path asked for.
function servePage() {
  const asked = [];
  const types = {'.html': 'text/html', '.js': 'text/javascript',
                 '.css': 'text/css', '.txt': 'text/plain'};
  const server = http.createServer((request, response) => {
    const file = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    asked.push(file);
    const name = file === '/' ? 'index.html' : file.slice(1);
    if (!pageFiles.includes(name) && name !== 'romweave.txt') {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'Content-Type': types[path.extname(name)]});
    response.end(fs.readFileSync(path.join(pageDir, name)));
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({server, asked,
      url: `http://127.0.0.1:${server.address().port}/`}));
  });
}

async function openPage(browser, url, requests) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('request', (request) => requests.push(request.url()));
  page.workersMade = 0;
  page.workersEnded = 0;
  page.on('workercreated', () => page.workersMade++);
  page.on('workerdestroyed', () => page.workersEnded++);
  page.errors = errors;
  await page.goto(url);
  return page;
}

function listed(page) {
  return page.$$eval('#list .name', (names) => names.map((n) => n.textContent));
}

async function removeAll(page) {
  while (await page.$('#list .remove')) await page.click('#list .remove');
}

// Clicks the button (#assemble, or #rerun) and waits for the outcome;
// returns what the page shows, every value the progress bar took and the
// time from the click to the outcome, measured in the page.
async function assemble(page, button = 'assemble') {
  const ended = page.workersEnded;
  const shown = await page.evaluate((button) => new Promise((resolve) => {
    const outcome = document.getElementById('outcome');
    const bar = document.getElementById('progress');
    const progress = [];
    const watch = new MutationObserver(() => progress.push(bar.value));
    watch.observe(bar, {attributeFilter: ['value']});
    const started = performance.now();
    new MutationObserver((changes, observer) => {
      if (!outcome.hasAttribute('data-status')) return;
      observer.disconnect();
      watch.disconnect();
      resolve({
        progress,
        status: outcome.dataset.status,
        words: outcome.textContent,
        summary: document.getElementById('summary').textContent,
        messages: document.getElementById('messages').textContent,
        download: document.getElementById('download').textContent,
        again: !document.getElementById('again').hidden,
        receiver: document.getElementById('receiver').checked,
        milliseconds: performance.now() - started,
      });
    }).observe(outcome, {attributes: true});
    document.getElementById(button).click();
  }), button);
  // The run had a worker of its own, ended with it; one more waits for the
  // next run.
  for (let wait = 0; wait < 50 && (page.workersEnded === ended ||
                                   page.workersMade === page.workersEnded); wait++) {
    await pause(20);
  }
  assert.equal(page.workersEnded, ended + 1);
  assert.equal(page.workersMade, page.workersEnded + 1);
  return shown;
}

// Saves the image under `name`: the file saved, with as many bytes as the
// link says.
async function download(browser, page, name) {
  await page.click('#image-name', {count: 3});
  await page.keyboard.type(name);
  const link = await page.$eval('#download', (a) => a.textContent);
  const size = Number(/\(([\d,]+) bytes?\)$/.exec(link)[1].replace(/,/g, ''));
  const saved = await browser.catchDownload(() => page.click('#download'), size);
  assert.equal(saved.bytes.length, size, link);
  return saved;
}

// The lines shown plainly: all but the progress lines.
function plainLines(text) {
  return text.split('\n').filter((line) => line && !line.startsWith('Checking Address '));
}

// The hint that names the receiver's reading, in the native tool's words.
function namesReceiver(stderr) {
  return /^Hint: .*romweave --receiver/m.test(stderr);
}

// Every test of the page, in the browser `kind`.
function testPageIn(kind) {
  // {browser, catchDownload}, from launchers[kind].
  const driven = {};
  before(async () => {
    assert.ok(launchers[kind], `ROMWEAVE_BROWSERS: no browser "${kind}"`);
    const downloadDir = path.join(work, `downloads-${kind}`);
    fs.mkdirSync(downloadDir);
    Object.assign(driven, await launchers[kind](downloadDir));
  });
  after(async () => {
    await driven.browser?.close();
  });

  for (const where of ['folder', 'server']) {
    describe(`the page opened from a ${where}`, () => {
      let page;
      let served;
      const requests = [];
      before(async () => {
        if (where === 'server') served = await servePage();
        page = await openPage(driven.browser,
                              served ? served.url : pathToFileURL(path.join(pageDir, 'index.html')).href,
                              requests);
      });
      after(async () => {
        await page?.close();
        served?.server.close();
      });

      test('lists sources in natural order; reorders, removes, refuses a name twice', async () => {
        const folder = cases[0].folder;
        const input = await page.$('#sources');
        await input.uploadFile(...cases[0].given.map((name) => path.join(folder, name)));
        assert.deepEqual(await listed(page), ['part1.cap', 'part2.cap', 'part10.cap']);
        // By keyboard: the first one down, then removed.
        await page.focus('#list li:first-child .down');
        await page.keyboard.press('Enter');
        assert.deepEqual(await listed(page), ['part2.cap', 'part1.cap', 'part10.cap']);
        assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')),
                     'Move part1.cap down');
        await page.click('#list li:nth-child(2) .remove');
        assert.deepEqual(await listed(page), ['part2.cap', 'part10.cap']);
        // Added again, it goes to its place; a name already listed is refused.
        await input.uploadFile(path.join(folder, 'part2.cap'), path.join(folder, 'part1.cap'));
        assert.deepEqual(await listed(page), ['part1.cap', 'part2.cap', 'part10.cap']);
        assert.match(await page.$eval('#notice', (n) => n.textContent), /not added again: part2\.cap\./);
        await removeAll(page);
        assert.equal(await page.$eval('#assemble', (b) => b.disabled), true);
      });

      for (const c of cases) {
        for (const receiver of [false, true]) {
          test(`as the native tool${receiver ? ', as a receiver' : ''}: ${c.name}`, async (t) => {
            // Copies, so that a case's files can be removed after being chosen.
            const folder = `${c.folder}-${kind}-${where}-${receiver}`;
            fs.cpSync(c.folder, folder, {recursive: true});
            await removeAll(page);
            await page.$eval('#receiver', (box, on) => { box.checked = on; }, receiver);
            await (await page.$('#sources')).uploadFile(...c.given.map((name) => path.join(folder, name)));
            assert.deepEqual(await listed(page), c.listed);
            if (c.remove) fs.rmSync(path.join(folder, c.remove));
            const shown = await assemble(page);
            const native = nativeRun(folder, c.listed, receiver);

            assert.equal(shown.status, String(native.status));
            assert.equal(shown.messages, native.stdout + native.stderr);
            assert.match(shown.words, receiver ? c.receiverWords || c.words : c.words);
            // A second run as a receiver is offered where a hint names it.
            assert.equal(shown.again, namesReceiver(native.stderr));
            // The lines that say something shown plainly, a hint among them
            // exactly when the tool gives one.
            assert.deepEqual(plainLines(shown.summary), plainLines(native.stdout + native.stderr));
            assert.equal(/^Hint: /m.test(shown.messages), /^Hint: /m.test(native.stderr));

            const saved = await download(driven, page, `${c.listed[0]} image.bin`);
            assert.equal(saved.name, `${c.listed[0]} image.bin`);
            assert.deepEqual(saved.bytes, native.image);
            assert.equal(shown.download.startsWith('Download the partial image'), native.status !== 0);
            // The bar only moves forward, to its end on a clean run, and
            // through the values between on a large one.
            assert.deepEqual(shown.progress, [...shown.progress].sort((a, b) => a - b));
            if (native.status === 0) assert.equal(shown.progress.at(-1), 1);
            if (c.timed) {
              assert.ok(shown.progress.some((v) => v > 0 && v < 1), `${shown.progress}`);
              t.diagnostic(`4 MiB capture, click to outcome: ${shown.milliseconds.toFixed(0)} ms`);
              assert.ok(shown.milliseconds < 1000, `${shown.milliseconds} ms`);
            }
          });
        }
      }

      // After the sender's EOT, and after a block that the sender sent again.
      for (const name of ['the EOT byte after the last block', 'a damaged block the sender sent again']) {
        test(`runs again as a receiver after a hint that names it: ${name}`, async () => {
          const c = cases.find((one) => one.name === name);
          await removeAll(page);
          await page.$eval('#receiver', (box) => { box.checked = false; });
          await (await page.$('#sources')).uploadFile(...c.given.map((file) => path.join(c.folder, file)));
          const plain = await assemble(page);
          assert.equal(plain.again, true);
          const again = await assemble(page, 'rerun');
          const native = nativeRun(c.folder, c.listed, true);
          assert.equal(again.status, String(native.status));
          assert.equal(again.messages, native.stdout + native.stderr);
          assert.match(again.words, c.receiverWords);
          assert.equal(again.receiver, true, 'the box stays ticked for the next run');
          assert.equal(again.again, false);
          assert.deepEqual((await download(driven, page, 'rom.bin')).bytes, native.image);
        });
      }

      test('makes no request beyond its own files', async () => {
        assert.deepEqual(page.errors, []);
        const own = served ? served.url : pathToFileURL(pageDir + '/').href;
        for (const url of requests) {
          const file = url.startsWith(own) ? url.slice(own.length) : null;
          // A blob: or data: URL names bytes the page holds already.
          assert.ok(/^(blob|data):/.test(url) || pageFiles.includes(file) || file === '', url);
        }
        if (!served) return;
        // The policy forbids a request even to the page's own server.
        const refused = await page.evaluate((url) => fetch(url).then(() => false, () => true),
                                            served.url + 'probe');
        assert.equal(refused, true);
        for (const file of served.asked) {
          assert.ok(file === '/' || pageFiles.includes(file.slice(1)), file);
        }
      });
    });
  }

  test('at a phone\'s width, the button and the outcome are in view', async () => {
    const served = await servePage();
    const page = await openPage(driven.browser, served.url, []);
    try {
      await page.setViewport({width: 390, height: 844, isMobile: true, hasTouch: true});
      const c = cases[2];
      await (await page.$('#sources')).uploadFile(...c.given.map((name) => path.join(c.folder, name)));
      await assemble(page);
      for (const id of ['#assemble', '#outcome']) {
        const box = await (await page.$(id)).boundingBox();
        assert.ok(box && box.x >= 0 && box.x + box.width <= 390, `${id}: ${JSON.stringify(box)}`);
        assert.ok(await (await page.$(id)).isIntersectingViewport({threshold: 1}), `${id} out of view`);
      }
      assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 390),
                'the page is wider than the phone');
      // It names the version it runs, and links to the manual beside it.
      const version = spawnSync(path.join(hostBuild, 'romweave'), ['--version'], {encoding: 'utf8'});
      assert.equal(`romweave ${await page.$eval('#version', (v) => v.textContent)}\n`, version.stdout);
      const manual = await page.$eval('a[href="romweave.txt"]', (a) => a.href);
      assert.match((await (await fetch(manual)).text()), /^ROMWEAVE\(1\)/);
      // Every control has a name a screen reader can say.  Puppeteer reads
      // the accessibility tree only over Chromium's DevTools protocol; the
      // names come from the page's markup, the same in every browser.
      if (kind === 'chromium') {
        const unnamed = [];
        (function walk(node) {
          if (['button', 'textbox', 'link'].includes(node.role) && !node.name) unnamed.push(node.role);
          (node.children || []).forEach(walk);
        })(await page.accessibility.snapshot());
        assert.deepEqual(unnamed, []);
      }
      await page.screenshot({path: path.join(outputDir, `phone-${kind}.png`)});
    } finally {
      await page.close();
      served.server.close();
    }
  });
}

for (const kind of browserNames) describe(`in ${kind}`, () => testPageIn(kind));
