// The panel page in Debian's Chromium, driven by playwright-core. Serves the
// built page with Python's http.server and runs one group of checks:
//
//   node web/tests/page_test.mjs GROUP PAGE_DIR OUTPUT_DIR
//
// pictures: for each case of web/tests/page.vxs the test builds the screen
//   through the page's controls, with the keyboard where it matters. The
//   page's list of host calls must be the case's lines, its text art the host
//   simulator's art of them (web/tests/expected/), the canvas must show that
//   art's pixels and icons, and the PNG download must be the canvas. A
//   screenshot of the panel at each case goes to OUTPUT_DIR/NAME.png.
// link: a screen's link opened in a fresh page restores the same screen.
// page: labels, the keyboard's way through the controls, a narrow screen,
//   working offline once loaded, the size of the files; screenshots.
// Every group fails on an error or warning in the browser's console.
import {spawn} from 'node:child_process';
import {mkdirSync, readFileSync, readdirSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';
import {gzipSync} from 'node:zlib';

const [group, pageDir, outputDir] = process.argv.slice(2);
const testsDir = new URL('.', import.meta.url).pathname;
// The fixed time of the browser's clock: the host simulator's art draws the
// clock of 'done' at this time.
const CLOCK = Date.UTC(2000, 0, 1, 12, 34, 56);
const SIZE_LIMIT = 150 * 1024;  // all files of the page, gzipped
// The layout of the emulator's PNG picture: panel pixels 8 apart from
// (16, 16), icon boxes 13 apart from (16, 161), 11 wide; an unlit pixel.
const PIXEL = {left: 16, top: 16, pitch: 8};
const ICON = {left: 16, top: 161, pitch: 13, box: 11};
const DARK = [178, 192, 158];

let failures = 0;
const problems = [];  // console errors and warnings of every page

function check(condition, what, detail = '') {
  if (!condition) {
    failures += 1;
    console.log(`FAILED: ${what}${detail ? `\n${detail}` : ''}`);
  }
  return condition;
}

function sameLines(expected, actual, what) {
  const report = [];
  for (let i = 0; i < Math.max(expected.length, actual.length); ++i) {
    if (expected[i] !== actual[i]) {
      report.push(`  expected: ${expected[i] ?? '(none)'}\n  actual:   ${actual[i] ?? '(none)'}`);
    }
  }
  return check(report.length === 0, what, report.join('\n'));
}

// ---------------------------------------------------------------------------
// The server, the browser and the page
// ---------------------------------------------------------------------------

function serve(directory) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '0',
                                   '--directory', directory], {stdio: ['ignore', 'pipe', 'ignore']});
  return new Promise((resolve, reject) => {
    let output = '';
    server.stdout.on('data', (data) => {
      output += data;
      const match = /port (\d+)/.exec(output);
      if (match) {
        resolve({server, base: `http://127.0.0.1:${match[1]}/`});
      }
    });
    server.on('exit', (code) => reject(new Error(`http.server ended with status ${code}`)));
  });
}

async function openPage(context, address, viewport) {
  const page = await context.newPage();
  if (viewport) {
    await page.setViewportSize(viewport);
  }
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') {
      problems.push(`console ${message.type()}: ${message.text()}`);
    }
  });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  // The browser's clock stands still at CLOCK, and moves only as runFor says.
  await page.clock.install({time: CLOCK - 60000});
  await page.clock.pauseAt(CLOCK);
  await page.goto(address);
  await page.waitForSelector('body[data-ready=true]', {timeout: 20000});
  return page;
}

// ---------------------------------------------------------------------------
// What the page shows
// ---------------------------------------------------------------------------

const artLines = (text) =>
  text.split('\n').filter((line) => line !== '' && !line.startsWith('#'))
      .map((line) => line.replace("clock the local time at 'done', drawn as ", 'clock '));

async function downloaded(page, button) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
  const chunks = [];
  for await (const chunk of await download.createReadStream()) {
    chunks.push(chunk);
  }
  return Buffer.concat(chunks);
}

// The canvas: its 16 pixel rows as text art, each icon box lit or not, and
// whether the PNG download decodes to exactly its pixels.
async function readPanel(page) {
  const png = (await downloaded(page, '#download-png')).toString('base64');
  return page.evaluate(async ({png, PIXEL, ICON, DARK}) => {
    const canvas = document.getElementById('panel');
    const shown = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    const lit = (x, y) => {
      const at = (y * shown.width + x) * 4;
      return DARK.some((value, i) => shown.data[at + i] !== value);
    };
    const rows = [];
    for (let y = 0; y < 16; ++y) {
      let row = '';
      for (let x = 0; x < 96; ++x) {
        row += lit(PIXEL.left + x * PIXEL.pitch + 4, PIXEL.top + y * PIXEL.pitch + 4) ? '#' : '.';
      }
      rows.push(row);
    }
    const icons = Array.from({length: 56}, (_, n) =>
      lit(ICON.left + n * ICON.pitch + ICON.box / 2 | 0, ICON.top + ICON.box / 2 | 0));
    const bytes = Uint8Array.from(atob(png), (c) => c.charCodeAt(0));
    const image = await createImageBitmap(new Blob([bytes], {type: 'image/png'}));
    const scratch = new OffscreenCanvas(image.width, image.height).getContext('2d', {willReadFrequently: true});
    scratch.drawImage(image, 0, 0);
    const decoded = scratch.getImageData(0, 0, image.width, image.height);
    const pngIsCanvas = decoded.width === shown.width && decoded.height === shown.height &&
        decoded.data.every((value, i) => value === shown.data[i]);
    return {rows, icons, pngIsCanvas};
  }, {png, PIXEL, ICON, DARK});
}

// The page's text art, its host calls and its canvas, once three icon packets
// have followed while the plug-in is open, as the host simulator samples them.
async function screenOf(page) {
  if (await page.evaluate(() => document.getElementById('finish-now').textContent === 'Finish now')) {
    await page.clock.runFor(1500);
  }
  return {
    art: artLines((await downloaded(page, '#download-art')).toString('latin1')),
    script: (await page.textContent('#script')).trim().split('\n'),
    panel: await readPanel(page),
  };
}

// ---------------------------------------------------------------------------
// Building screens through the controls
// ---------------------------------------------------------------------------

async function type(page, selector, text) {
  await page.focus(selector);
  await page.keyboard.type(text);
}

// Draws a custom character's rows on the 5 x 8 dots with the arrow keys and Space.
async function drawDots(page, rows) {
  await page.focus('#dots button[tabindex="0"]');
  let at = 0;
  for (let row = 0; row < 8; ++row) {
    for (let column = 0; column < 5; ++column) {
      if ((rows[row] >> (4 - column) & 1) === 0) {
        continue;
      }
      const to = row * 5 + column;
      for (; at < to; ++at) {
        await page.keyboard.press('ArrowRight');
      }
      await page.keyboard.press('Space');
    }
  }
}

// Each case of web/tests/page.vxs by name: the steps that build its screen.
const CASES = {
  'two-lines': async (page) => {
    await type(page, '#line1', 'Café crème');
    await type(page, '#line2', 'H');
    await type(page, '#code', '0x82');
    await page.keyboard.press('Enter');
    await type(page, '#line2', 'O 21°C');
    await page.fill('#column2', '2');
  },
  'large': async (page) => {
    await page.check('input[name=screen][value="1"]');
    await type(page, '#line1', 'Café 42£');
    await page.fill('#column1', '3');
  },
  'custom': async (page) => {
    await drawDots(page, [0x04, 0x0e, 0x0e, 0x0e, 0x1f, 0x00, 0x04, 0x00]);
    await type(page, '#line1', 'Bell ');
    await page.click('#insert-custom');
  },
  'contrast': async (page) => {
    await page.focus('#contrast');
    await page.keyboard.press('Home');
    for (let i = 0; i < 40; ++i) {
      await page.keyboard.press('ArrowRight');
    }
    await type(page, '#line1', 'Contrast 40');
  },
  'icons': async (page) => {
    for (const number of [3, 3, 7, 49]) {
      await page.click(`#icons button[data-number="${number}"]`);
    }
  },
  'ring': async (page) => {
    await page.selectOption('#ring', '51');
  },
  'clock': async (page) => {
    await type(page, '#line1', 'Good night');
    await page.click('#finish-now');
  },
};

// The host calls of each case in web/tests/page.vxs: the lines from its init
// to its snapshot, without comments.
function scriptCases() {
  const cases = new Map();
  let lines = null;
  for (const line of readFileSync(join(testsDir, 'page.vxs'), 'latin1').split('\n')) {
    const match = /^snapshot (\S+)\.txt$/.exec(line);
    if (match) {
      cases.set(match[1], lines);
      lines = null;
    } else if (line.startsWith('init ')) {
      lines = [line];
    } else if (lines && line.trim() !== '' && !line.startsWith('#')) {
      lines.push(line);
    }
  }
  return cases;
}

// The screen matches the host simulator's art of the case's calls.
function checkScreen(name, screen, calls) {
  sameLines(calls, screen.script, `${name}: the page's host calls are the case's`);
  const expected = artLines(readFileSync(join(testsDir, 'expected', `${name}.txt`), 'latin1'));
  sameLines(expected, screen.art, `${name}: the page's text art is the host simulator's`);
  const pixels = expected.slice(expected.indexOf('pixels') + 1);
  sameLines(pixels, screen.panel.rows, `${name}: the canvas shows the art's pixels`);
  const icons = expected.find((line) => line.startsWith('icons ')).slice(6);
  const wrong = [...icons].flatMap((mark, n) =>
    (mark === '#' && !screen.panel.icons[n]) || (mark === '.' && screen.panel.icons[n]) ? [n] : []);
  check(wrong.length === 0, `${name}: the canvas shows the art's icons`, `  segments ${wrong.join(', ')}`);
  check(screen.panel.pngIsCanvas, `${name}: the PNG download is the canvas, pixel for pixel`);
}

// ---------------------------------------------------------------------------
// The groups
// ---------------------------------------------------------------------------

async function pictures(context, base) {
  const cases = scriptCases();
  check([...cases.keys()].sort().join() === Object.keys(CASES).sort().join(),
        'every case of page.vxs has its steps here, and no other');
  for (const [name, calls] of cases) {
    const page = await openPage(context, `${base}#s=2`);
    await CASES[name](page);
    checkScreen(name, await screenOf(page), calls);
    await page.locator('#panel').screenshot({path: join(outputDir, `${name}.png`)});
    await page.close();
  }
}

async function link(context, base) {
  const screens = [
    ['a screen of everything', async (page) => {
      await CASES.custom(page);
      await type(page, '#line2', 'Dü\\xcd');
      await page.fill('#column2', '4');
      await page.focus('#contrast');
      await page.keyboard.press('End');
      await page.click('#icons button[data-number="12"]');
      await page.click('#icons button[data-number="12"]');
      await page.click('#icons button[data-number="30"]');
      await page.selectOption('#ring', '53');
      await page.check('input[name=finish][value="off"]');
    }],
    ['the large font', CASES.large],
    ['a finished screen', CASES.clock],
  ];
  for (const [what, build] of screens) {
    const page = await openPage(context, `${base}#s=2`);
    await build(page);
    const address = await page.inputValue('#link');
    const before = await screenOf(page);
    await page.close();
    const restored = await openPage(context, address);
    const after = await screenOf(restored);
    check(await restored.inputValue('#link') === address, `${what}: the restored page keeps the link`);
    sameLines(before.script, after.script, `${what}: the link restores the host calls`);
    sameLines(before.art, after.art, `${what}: the link restores the panel`);
    sameLines(before.panel.rows, after.panel.rows, `${what}: the link restores the picture`);
    await restored.close();
  }
}

async function pageChecks(context, base) {
  const page = await openPage(context, base);
  await page.clock.runFor(1000);
  await page.screenshot({path: join(outputDir, 'page.png')});

  const unnamed = await page.evaluate(() =>
    [...document.querySelectorAll('input, select, button, textarea')]
        .filter((control) => !(control.labels?.length || control.getAttribute('aria-label') ||
                               (control.tagName === 'BUTTON' && control.textContent.trim())))
        .map((control) => control.outerHTML.slice(0, 80)));
  check(unnamed.length === 0, 'every control has a label', unnamed.join('\n'));

  // Tab from the top reaches every control, and one button of each grid.
  await page.focus('body');
  const reached = new Set();
  for (let i = 0; i < 60; ++i) {
    await page.keyboard.press('Tab');
    reached.add(await page.evaluate(() => {
      const active = document.activeElement;
      return active.closest('.grid')?.id ?? (active.id || active.name || active.tagName);
    }));
  }
  const wanted = await page.evaluate(() =>
    [...document.querySelectorAll('input:not(:disabled), select, button:not(:disabled), .grid')]
        .filter((control) => !control.closest('.grid') || control.classList.contains('grid'))
        .map((control) => control.id || control.name));
  const missed = wanted.filter((id) => !reached.has(id));
  check(missed.length === 0, 'the Tab key reaches every control', `  not reached: ${missed.join(', ')}`);

  // Once loaded, the page needs no network.
  await context.setOffline(true);
  const before = (await readPanel(page)).rows;
  await type(page, '#line2', ' offline');
  const after = await readPanel(page);
  check(after.rows.join() !== before.join() && after.pngIsCanvas, 'the page works offline once loaded');
  await context.setOffline(false);
  await page.close();

  const narrow = await openPage(context, base, {width: 360, height: 740});
  const width = await narrow.evaluate(() => document.documentElement.scrollWidth);
  check(width <= 360, 'the page fits a screen 360 pixels wide', `  it is ${width} pixels wide`);
  await narrow.screenshot({path: join(outputDir, 'page-narrow.png'), fullPage: true});
  await narrow.close();

  let total = 0;
  for (const file of readdirSync(pageDir).sort()) {
    const size = gzipSync(readFileSync(join(pageDir, file)), {level: 9}).length;
    total += size;
    console.log(`size: ${file} ${size} bytes gzipped`);
  }
  console.log(`size: all ${total} bytes gzipped`);
  check(total < SIZE_LIMIT, `the page's files take less than ${SIZE_LIMIT} bytes gzipped`);
}

const GROUPS = {pictures, link, page: pageChecks};

async function main() {
  if (!GROUPS[group] || !pageDir || !outputDir) {
    console.log(`usage: node page_test.mjs ${Object.keys(GROUPS).join('|')} PAGE_DIR OUTPUT_DIR`);
    return 2;
  }
  let playwright;
  try {
    playwright = await import('playwright-core');
  } catch (error) {
    console.log(`playwright-core is missing (scripts/setup.sh installs it into web/node_modules): ${error.message}`);
    return 1;
  }
  mkdirSync(outputDir, {recursive: true});
  const {server, base} = await serve(pageDir);
  const browser = await playwright.chromium.launch({executablePath: '/usr/bin/chromium'});
  try {
    const context = await browser.newContext({timezoneId: 'UTC', viewport: {width: 1000, height: 900}});
    await GROUPS[group](context, base);
  } finally {
    await browser.close();
    server.kill();
  }
  check(problems.length === 0, 'no errors or warnings in the browser console', problems.join('\n'));
  console.log(failures === 0 ? `${group}: all checks passed` : `${group}: ${failures} checks failed`);
  return failures === 0 ? 0 : 1;
}

process.exitCode = await main();
