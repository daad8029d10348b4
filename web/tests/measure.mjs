// Not a test: for each capture named, in a fresh headless Chromium, the
// time from the click to the outcome, and how much the page's renderer
// processes grew at their peaks over the run, added up (from /proc, so Linux only).
//
//   node web/tests/measure.mjs CAPTURE...     ROMWEAVE_WEB as for the tests

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

import puppeteer from 'puppeteer-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pageDir = path.resolve(process.env.ROMWEAVE_WEB || path.join(root, 'build-web/web'));

for (const capture of process.argv.slice(2)) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'romweave-measure-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.ROMWEAVE_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update',
           '--disable-sync'],
  });
  const page = await browser.newPage();
  await page.goto(pathToFileURL(path.join(pageDir, 'index.html')).href);
  // The spare worker has compiled the program by then, as it has by the
  // time a person has chosen the files.
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const session = await browser.target().createCDPSession();
  const {processInfo} = await session.send('SystemInfo.getProcessInfo');
  const renderers = processInfo.filter((p) => p.type === 'renderer').map((p) => p.id);
  const kilobytes = (field) => renderers.map((pid) => Number(
      new RegExp(`${field}:\\s+(\\d+)`).exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]));
  await (await page.$('#sources')).uploadFile(capture);
  // The peak so far is set back to what each renderer holds now, so that
  // the page's loading and the program's compiling do not count.
  for (const pid of renderers) fs.writeFileSync(`/proc/${pid}/clear_refs`, '5');
  const before = kilobytes('VmRSS');
  const milliseconds = await page.evaluate(() => new Promise((resolve) => {
    const outcome = document.getElementById('outcome');
    const started = performance.now();
    new MutationObserver(() => {
      if (outcome.dataset.status) resolve(performance.now() - started);
    }).observe(outcome, {attributes: true});
    document.getElementById('assemble').click();
  }));
  const peak = kilobytes('VmHWM');
  const grown = peak.reduce((sum, kB, i) => sum + kB - before[i], 0) * 1024;
  const size = fs.statSync(capture).size;
  console.log(`${path.basename(capture)}: ${size} bytes, click to outcome ` +
              `${milliseconds.toFixed(0)} ms, renderers peak +${(grown / 2 ** 20).toFixed(1)} MiB ` +
              `(${(grown / size).toFixed(1)} times the capture)`);
  await browser.close();
  fs.rmSync(profile, {recursive: true, force: true});
}
