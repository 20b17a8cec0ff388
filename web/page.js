// The panel page: the host's side. It keeps the screen the user builds (the
// state), calls the plug-in's entry points in the WebAssembly module as
// Lumidor does, and shows the emulated panel on the canvas. The state lives in
// the page's address, so that a link restores the screen.
'use strict';

const SPACES = Array(16).fill(0x20);
const ICON_NUMBERS = [...Array(40).keys(), 48, 49];  // the ring's 40..47 under "Ring"
const ACTIONS = ['off', 'on', 'blink'];  // SetFan's actions 1, 2, 3
const FINISH_MODES = ['clock', 'off', 'message'];
const RING_CHOICES = ['off', 'on', 'blink', '51', '52', '53', '54'];
// Typed letters with these marks are looked up by the font's glyph names.
const MARKS = {
  '\u0301': 'acute', '\u0300': 'grave', '\u0302': 'circumflex', '\u0308': 'diaeresis',
  '\u0327': 'cedilla', '\u0303': 'tilde', '\u030a': 'ring',
};
// Other typed characters and the names their glyphs have in the fonts.
const SYMBOLS = {
  '£': 'pound sign', '¥': 'yen sign', '€': 'euro sign', '¢': 'cent sign', '°': 'degree sign',
  '±': 'plus-minus sign', '×': 'multiplication sign', '÷': 'division sign',
  '≤': 'less-than or equal to', '≥': 'greater-than or equal to', '≠': 'not equal to',
  '≈': 'almost equal to', '√': 'square root', '∞': 'infinity', '¹': 'superscript one',
  '²': 'superscript two', '³': 'superscript three', '©': 'copyright sign',
  '®': 'registered sign', '«': 'left guillemet', '»': 'right guillemet', '½': 'one half',
  '¼': 'one quarter', '·': 'middle dot', '…': 'ellipsis', '¿': 'inverted question mark',
  '¡': 'inverted exclamation mark', 'µ': 'mu (micro sign)', 'ß': 'sharp s', 'æ': 'ae ligature',
  'Æ': 'AE ligature', 'ƒ': 'f hook (florin)', '§': 'section sign', '¶': 'pilcrow',
  '♥': 'heart', '♪': 'eighth note', '█': 'full block', 'α': 'alpha', 'β': 'beta', 'γ': 'gamma',
  'δ': 'delta', 'ε': 'epsilon', 'θ': 'theta', 'λ': 'lambda', 'π': 'pi', 'σ': 'sigma',
  'τ': 'tau', 'φ': 'phi', 'ω': 'omega', 'Γ': 'Gamma', 'Δ': 'Delta', 'Θ': 'Theta',
  'Σ': 'Sigma', 'Φ': 'Phi', 'Ω': 'Omega',
};

const $ = (id) => document.getElementById(id);
const canvas = $('panel');
// Drawn by putImageData alone: it needs no GPU, and reading it back stays fast.
const panelContext = canvas.getContext('2d', {willReadFrequently: true});
let M = null;  // the module
let open = false;  // the plug-in is open: between a successful Init and Done
let state = null;
let customShown = 1;  // the custom character being drawn
let lastLine = 1;  // the line that the glyph chooser and the code entry insert into
let glyphsDrawn = null;  // the font the glyph chooser shows
let addressTimer = null;  // the next change of the page's address

// ---------------------------------------------------------------------------
// The state and the address
// ---------------------------------------------------------------------------

function blankState() {
  return {
    screen: 2,
    lines: [{text: '', column: 1}, {text: '', column: 1}],
    custom: Array(8).fill(null),  // eight rows of five dots each, or null: not defined
    contrast: null,  // 0..255, or null: the plug-in's own until the host sets one
    icons: Array(50).fill(0),  // icon number -> index into ACTIONS
    ring: 'off',
    finish: 'clock',
    finished: false,
  };
}

function greetingState() {
  const s = blankState();
  s.custom[0] = [0x04, 0x0e, 0x0e, 0x0e, 0x1f, 0x00, 0x04, 0x00];  // a bell, code 8
  s.lines = [{text: '\\x08 Vestrix \\x08', column: 3}, {text: 'Caf\u00e9 21\u00b0C \\x80\\x81', column: 1}];
  s.icons[7] = 1;
  s.ring = '52';
  return s;
}

const clampInt = (text, low, high, fallback) => {
  const value = Number.parseInt(text, 10);
  return Number.isInteger(value) && value >= low && value <= high ? value : fallback;
};

function stateFromAddress() {
  const hash = location.hash.replace(/^#/, '');
  if (hash === '') {
    return greetingState();
  }
  const p = new URLSearchParams(hash);
  const s = blankState();
  s.screen = p.get('s') === '1' ? 1 : 2;
  for (const row of [1, 2]) {
    s.lines[row - 1] = {text: p.get(`l${row}`) ?? '', column: clampInt(p.get(`c${row}`), 1, 16, 1)};
  }
  for (let i = 0; i < 8; ++i) {
    const hex = p.get(`k${i + 1}`);
    if (hex !== null && /^[0-9a-f]{16}$/i.test(hex)) {
      s.custom[i] = hex.match(/../g).map((pair) => Number.parseInt(pair, 16) & 0x1f);
    }
  }
  s.contrast = clampInt(p.get('ct'), 0, 255, null);
  for (const item of (p.get('i') ?? '').split(',')) {
    const match = /^(b?)(\d+)$/.exec(item);
    const number = match ? Number(match[2]) : -1;
    if (ICON_NUMBERS.includes(number)) {
      s.icons[number] = match[1] ? 2 : 1;
    }
  }
  s.ring = RING_CHOICES.includes(p.get('r')) ? p.get('r') : 'off';
  s.finish = FINISH_MODES.includes(p.get('f')) ? p.get('f') : 'clock';
  s.finished = p.get('d') === '1';
  return s;
}

function addressOf(s) {
  const p = new URLSearchParams();
  p.set('s', s.screen);
  s.lines.forEach((line, i) => {
    p.set(`l${i + 1}`, line.text);
    p.set(`c${i + 1}`, line.column);
  });
  s.custom.forEach((rows, i) => rows && p.set(`k${i + 1}`, rows.map(hex2).join('')));
  if (s.contrast !== null) {
    p.set('ct', s.contrast);
  }
  const icons = ICON_NUMBERS.filter((n) => s.icons[n]).map((n) => (s.icons[n] === 2 ? 'b' : '') + n);
  if (icons.length) {
    p.set('i', icons.join(','));
  }
  p.set('r', s.ring);
  p.set('f', s.finish);
  if (s.finished) {
    p.set('d', '1');
  }
  return '#' + p.toString();
}

// ---------------------------------------------------------------------------
// Text: what the user types, as the character codes of the font
// ---------------------------------------------------------------------------

const hex2 = (value) => value.toString(16).padStart(2, '0');
const fontOf = (screen) => (screen === 1 ? 'large' : 'small');
const codeByName = {small: new Map(), large: new Map()};
for (const font of ['small', 'large']) {
  GLYPH_NAMES[font].forEach((name, code) => codeByName[font].has(name) || codeByName[font].set(name, code));
}

// The code of a typed character in the font, or undefined when it has no glyph.
function codeOf(character, font) {
  const point = character.codePointAt(0);
  if (point >= 0x20 && point <= 0x7e) {
    return point;
  }
  const parts = character.normalize('NFD');
  const name = SYMBOLS[character] ??
      (parts.length === 2 && MARKS[parts[1]] ? `${parts[0]} ${MARKS[parts[1]]}` : undefined);
  const byName = codeByName[font];
  return name === undefined ? undefined : byName.get(name) ?? byName.get(name.replace(/ \(.*\)$/, ''));
}

// The codes of a line's text: \xHH is any code, \\ a backslash. Characters the
// font has no glyph for are left out and listed in `missing`.
function encodeText(text, font) {
  const codes = [];
  const missing = [];
  for (let i = 0; i < text.length;) {
    const escape = /^\\(x[0-9a-fA-F]{2}|\\)/.exec(text.slice(i));
    if (escape) {
      codes.push(escape[1] === '\\' ? 0x5c : Number.parseInt(escape[1].slice(1), 16));
      i += escape[0].length;
      continue;
    }
    const character = String.fromCodePoint(text.codePointAt(i));
    const code = codeOf(character, font);
    if (code === undefined) {
      missing.push(character);
    } else {
      codes.push(code);
    }
    i += character.length;
  }
  return {codes, missing};
}

// A code as the line's text shows it: itself when printable ASCII, else \xHH.
const textOfCode = (code) =>
  code === 0x5c ? '\\\\' : code >= 0x20 && code < 0x7f ? String.fromCharCode(code) : `\\x${hex2(code)}`;

// ---------------------------------------------------------------------------
// Host calls: made on the module, and written as a host simulator script
// ---------------------------------------------------------------------------

function lineCalls(s, row) {
  const line = s.lines[row - 1];
  const calls = [{op: 'pos', column: 1, row}, {op: 'write', codes: SPACES}];
  if (line.column !== 1) {
    calls.push({op: 'pos', column: line.column, row});
  }
  const {codes} = encodeText(line.text, fontOf(s.screen));
  if (codes.length) {
    calls.push({op: 'write', codes});
  }
  return calls;
}

function ringCalls(ring, action) {
  if (ring === 'off') {
    return [];
  }
  const number = ring === 'on' || ring === 'blink' ? 50 : Number(ring);
  return [{op: 'fan', action: action ?? (ring === 'blink' ? 'blink' : 'on'), number}];
}

// The calls that make the screen of state `s` on a closed plug-in.
function startCalls(s) {
  const calls = [{op: 'init', height: s.screen, parameters: s.finish}];
  if (s.screen === 2) {
    s.custom.forEach((rows, i) => rows && calls.push({op: 'custom', index: i + 1, rows}));
  }
  if (s.contrast !== null) {
    calls.push({op: 'contrast', value: s.contrast});
  }
  for (let row = 1; row <= s.screen; ++row) {
    calls.push(...lineCalls(s, row));
  }
  for (const number of ICON_NUMBERS) {
    if (s.icons[number]) {
      calls.push({op: 'fan', action: ACTIONS[s.icons[number]], number});
    }
  }
  return calls.concat(ringCalls(s.ring));
}

const quote = (codes) =>
  '"' + codes.map((c) => (c >= 0x20 && c < 0x7f && c !== 0x22 && c !== 0x5c ? String.fromCharCode(c) : `\\x${hex2(c)}`)).join('') + '"';

function scriptLine(call) {
  switch (call.op) {
    case 'init': return `init 16 ${call.height} "${call.parameters}"`;
    case 'pos': return `pos ${call.column} ${call.row}`;
    case 'write': return `write ${quote(call.codes)}`;
    case 'custom': return `custom ${call.index} ${call.rows.map(hex2).join(',')}`;
    case 'contrast': return `contrast ${call.value}`;
    case 'fan': return `fan ${call.action} ${call.number}`;
    default: return call.op;
  }
}

// Puts bytes into the module's argument buffer, ended by a 0; returns its address.
function argument(bytes) {
  const buffer = M._VxPage_Buffer();
  const length = Math.min(bytes.length, 255);
  M.HEAPU8.set(bytes.slice(0, length), buffer);
  M.HEAPU8[buffer + length] = 0;
  return buffer;
}

const asciiBytes = (text) => Array.from(text, (c) => c.charCodeAt(0));

function call(c) {
  switch (c.op) {
    case 'init': {
      const parameters = argument(asciiBytes(c.parameters));
      const okAddress = parameters + 128;
      const message = M._DISPLAYDLL_Init(16, c.height, parameters, okAddress);
      open = message === 0 && M.HEAPU8[okAddress] !== 0;
      if (!open) {
        throw new Error(message ? M.UTF8ToString(message) : 'the plug-in did not start');
      }
      break;
    }
    case 'done': M._DISPLAYDLL_Done(); open = false; break;
    case 'pos': M._DISPLAYDLL_SetPosition(c.column, c.row); break;
    case 'write': M._DISPLAYDLL_Write(argument(c.codes)); break;
    case 'custom': M._DISPLAYDLL_CustomChar(c.index, argument(c.rows)); break;
    case 'contrast': M._DISPLAYDLL_SetContrast(c.value); break;
    case 'fan': M._DISPLAYDLL_SetFan(ACTIONS.indexOf(c.action) + 1, c.number); break;
  }
}

// Makes the calls, then shows the panel and the state.
function run(calls) {
  let failure = '';
  try {
    calls.forEach(call);
  } catch (error) {
    failure = error instanceof WebAssembly.RuntimeError
      ? `The plug-in's module stopped: ${error.message}` : `The plug-in refused to start: ${error.message}`;
  }
  paint();
  showState();
  if (failure) {
    status(failure);
  }
}

// Closes the plug-in if open, and starts it for the state, finishing it again
// if the state says so.
function restart() {
  const calls = open ? [{op: 'done'}] : [];
  calls.push(...startCalls(state));
  if (state.finished) {
    calls.push({op: 'done'});
  }
  run(calls);
}

// A change of the state while the plug-in is finished starts it again first.
function change(update, calls) {
  update();
  if (!open) {
    state.finished = false;
    restart();
  } else {
    run(calls());
  }
}

// ---------------------------------------------------------------------------
// What the page shows
// ---------------------------------------------------------------------------

function status(text) {
  $('status').textContent = text;
}

function paint() {
  const pixels = M._VxPage_Paint();
  if (pixels === 0) {
    return;
  }
  const width = M._VxPage_Width();
  const height = M._VxPage_Height();
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const rgba = new Uint8ClampedArray(M.HEAPU8.buffer, pixels, width * height * 4).slice();
  panelContext.putImageData(new ImageData(rgba, width, height), 0, 0);
}

function describePanel() {
  const font = fontOf(state.screen);
  const lines = state.lines.slice(0, state.screen).map((line) => `“${line.text}” at column ${line.column}`);
  const icons = ICON_NUMBERS.filter((n) => state.icons[n]).map((n) => `${n} ${ACTIONS[state.icons[n]]}`);
  const ring = $('ring').selectedOptions[0].textContent;
  if (state.finished) {
    return `The panel after Lumidor finished: ${
      {clock: 'its clock', off: 'dark', message: 'the last text'}[state.finish]}`;
  }
  return `The panel, 16 x ${state.screen} in the ${font} font: ${lines.join(', ')}; icons ${
    icons.length ? icons.join(', ') : 'none'}; ring ${ring}`;
}

function showState() {
  const s = state;
  document.querySelector(`input[name=screen][value="${s.screen}"]`).checked = true;
  document.querySelector(`input[name=finish][value="${s.finish}"]`).checked = true;
  const font = fontOf(s.screen);
  const missing = [];
  for (const row of [1, 2]) {
    const input = $(`line${row}`);
    if (input.value !== s.lines[row - 1].text) {
      input.value = s.lines[row - 1].text;
    }
    $(`column${row}`).value = s.lines[row - 1].column;
    input.disabled = $(`column${row}`).disabled = row > s.screen;
    if (row <= s.screen) {
      missing.push(...encodeText(s.lines[row - 1].text, font).missing);
    }
  }
  $('text-note').textContent = missing.length
    ? `The ${font} font has no glyph for ${[...new Set(missing)].join(' ')}: left out.` : '';
  const level = (s.contrast ?? 80) >> 3;
  $('contrast').value = s.contrast ?? 80;
  $('contrast-value').textContent = s.contrast === null
    ? `not set: the plug-in's level ${level} of 31` : `${s.contrast}, level ${level} of 31`;
  for (const button of $('icons').children) {
    const number = Number(button.dataset.number);
    button.dataset.action = ACTIONS[s.icons[number]];
    button.setAttribute('aria-label', `Icon ${number}: ${ACTIONS[s.icons[number]]}`);
  }
  $('ring').value = s.ring;
  $('finish-now').textContent = s.finished ? 'Start again' : 'Finish now';
  showCustom();
  drawGlyphs();
  $('script').textContent = startCalls(s).concat(s.finished ? [{op: 'done'}] : []).map(scriptLine).join('\n') + '\n';
  canvas.setAttribute('aria-label', describePanel());
  status(s.finished ? `Lumidor has finished (start-up parameter “${s.finish}”).`
                    : `The plug-in is open: 16 x ${s.screen}, ${font} font.`);
  $('link').value = location.href.replace(/#.*$/, '') + addressOf(s);
  // The browser takes only so many changes of the address a second: a
  // dragged slider would exceed them.
  if (addressTimer === null) {
    addressTimer = setTimeout(() => {
      addressTimer = null;
      history.replaceState(null, '', addressOf(state));
    }, 250);
  }
}

// The size of a glyph of the font, in pixels.
const glyphSize = (font) => (font === 'large' ? [7, 12] : [6, 8]);

// Glyph `code` of the font, as the plug-in draws it, into `context` at (left, top).
function drawGlyph(context, font, code, left, top) {
  const [width, height] = glyphSize(font);
  const address = M._VxPage_Glyph(font === 'large' ? 1 : 0, code);
  const pixels = M.HEAPU8.subarray(address, address + width * height);
  context.fillStyle = '#182024';
  pixels.forEach((lit, i) => lit && context.fillRect(left + i % width, top + Math.floor(i / width), 1, 1));
}

// The glyph chooser shows the font from one picture of all 256 glyphs, 16 a row.
function drawGlyphs() {
  const font = fontOf(state.screen);
  const key = font + JSON.stringify(state.custom);
  if (glyphsDrawn === key) {
    return;
  }
  glyphsDrawn = key;
  const [width, height] = glyphSize(font);
  const sheet = Object.assign(document.createElement('canvas'), {width: 16 * width, height: 16 * height});
  const context = sheet.getContext('2d');
  for (let code = 0; code < 256; ++code) {
    drawGlyph(context, font, code, code % 16 * width, (code >> 4) * height);
  }
  const picture = `url(${sheet.toDataURL()})`;
  for (const button of $('glyphs').children) {
    const code = Number(button.dataset.code);
    Object.assign(button.firstChild.style, {
      backgroundImage: picture,
      backgroundPosition: `${code % 16 / 15 * 100}% ${(code >> 4) / 15 * 100}%`,
      aspectRatio: `${width} / ${height}`,
    });
    const label = `Code ${code}, 0x${hex2(code)}: ${GLYPH_NAMES[font][code]}`;
    button.setAttribute('aria-label', label);
    button.title = label;
  }
  showCode();
}

// The code typed into the code entry; null when it is not one.
function typedCode() {
  const text = $('code').value.trim().replace(/^\\x/i, '0x');
  const value = /^0x[0-9a-f]{1,2}$/i.test(text) ? Number.parseInt(text, 16)
              : /^\d{1,3}$/.test(text) ? Number(text) : -1;
  return value >= 0 && value <= 255 ? value : null;
}

function showCode() {
  const code = typedCode();
  const font = fontOf(state.screen);
  $('insert-code').disabled = code === null;
  if (code === null) {
    $('code-name').textContent = $('code').value.trim() ? 'not a code from 0 to 255' : '';
    $('code-glyph').hidden = true;
    return;
  }
  const preview = $('code-glyph');
  preview.hidden = false;
  [preview.width, preview.height] = glyphSize(font);
  drawGlyph(preview.getContext('2d'), font, code, 0, 0);
  $('code-name').textContent = `${code} is ${GLYPH_NAMES[font][code]} in the ${font} font`;
}

function showCustom() {
  const rows = state.custom[customShown - 1] ?? Array(8).fill(0);
  for (const button of $('dots').children) {
    const on = (rows[button.dataset.row] >> (4 - button.dataset.column) & 1) === 1;
    button.setAttribute('aria-pressed', on);
  }
  $('custom-code').textContent = `writes code ${M._DISPLAYDLL_CustomCharIndex(customShown)}`;
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

function insertText(text) {
  const row = lastLine <= state.screen ? lastLine : 1;
  const input = $(`line${row}`);
  const start = input.selectionStart ?? input.value.length;
  const end = input.selectionEnd ?? start;
  input.value = input.value.slice(0, start) + text + input.value.slice(end);
  input.setSelectionRange(start + text.length, start + text.length);
  setLine(row);
}

function setLine(row) {
  change(() => {
    state.lines[row - 1] = {
      text: $(`line${row}`).value,
      column: clampInt($(`column${row}`).value, 1, 16, state.lines[row - 1].column),
    };
  }, () => lineCalls(state, row));
}

// Arrow keys, Home and End move the focus through a grid of buttons, which
// takes one place in the tab order.
function makeGrid(grid, buttons) {
  buttons.forEach((button, i) => {
    button.type = 'button';
    button.tabIndex = i === 0 ? 0 : -1;
    grid.append(button);
  });
  grid.addEventListener('keydown', (event) => {
    const all = [...grid.children];
    const at = all.indexOf(document.activeElement);
    const columns = getComputedStyle(grid).gridTemplateColumns.split(' ').length;
    const step = {ArrowLeft: -1, ArrowRight: 1, ArrowUp: -columns, ArrowDown: columns}[event.key];
    const to = event.key === 'Home' ? 0 : event.key === 'End' ? all.length - 1 : step === undefined ? -1 : at + step;
    if (at < 0 || to < 0 || to >= all.length) {
      return;
    }
    event.preventDefault();
    all[at].tabIndex = -1;
    all[to].tabIndex = 0;
    all[to].focus();
  });
}

function buildControls() {
  makeGrid($('glyphs'), Array.from({length: 256}, (_, code) => {
    const button = document.createElement('button');
    button.dataset.code = code;
    button.append(Object.assign(document.createElement('span'), {className: 'glyph'}));
    button.addEventListener('click', () => {
      $('code').value = code;
      insertText(textOfCode(code));
    });
    return button;
  }));
  makeGrid($('dots'), Array.from({length: 40}, (_, i) => {
    const button = document.createElement('button');
    Object.assign(button.dataset, {row: Math.floor(i / 5), column: i % 5});
    button.setAttribute('aria-label', `Row ${Math.floor(i / 5) + 1}, dot ${i % 5 + 1}`);
    button.addEventListener('click', () => {
      const index = customShown;
      change(() => {
        const rows = [...(state.custom[index - 1] ?? Array(8).fill(0))];
        rows[Math.floor(i / 5)] ^= 0x10 >> (i % 5);
        state.custom[index - 1] = rows;
      }, () => customCalls(index));
    });
    return button;
  }));
  makeGrid($('icons'), ICON_NUMBERS.map((number) => {
    const button = document.createElement('button');
    button.dataset.number = number;
    button.textContent = number;
    button.addEventListener('click', () => {
      change(() => {
        state.icons[number] = (state.icons[number] + 1) % 3;
      }, () => [{op: 'fan', action: ACTIONS[state.icons[number]], number}]);
    });
    return button;
  }));
  for (let i = 1; i <= 8; ++i) {
    $('custom-index').append(new Option(`${i}`, i));
  }

  for (const row of [1, 2]) {
    for (const id of [`line${row}`, `column${row}`]) {
      $(id).addEventListener('input', () => setLine(row));
      $(id).addEventListener('focus', () => {
        lastLine = row;
      });
    }
  }
  document.querySelectorAll('input[name=screen], input[name=finish]').forEach((radio) => {
    radio.addEventListener('change', () => {
      state.screen = Number(document.querySelector('input[name=screen]:checked').value);
      state.finish = document.querySelector('input[name=finish]:checked').value;
      state.finished = false;
      restart();
    });
  });
  $('contrast').addEventListener('input', () => {
    change(() => {
      state.contrast = Number($('contrast').value);
    }, () => [{op: 'contrast', value: state.contrast}]);
  });
  $('ring').addEventListener('change', () => {
    const before = state.ring;
    change(() => {
      state.ring = $('ring').value;
    }, () => ringCalls(before, 'off').concat(ringCalls(state.ring)));
  });
  $('finish-now').addEventListener('click', () => {
    if (open) {
      state.finished = true;
      run([{op: 'done'}]);
    } else {
      state.finished = false;
      restart();
    }
  });
  $('custom-index').addEventListener('change', () => {
    customShown = Number($('custom-index').value);
    showCustom();
  });
  $('insert-custom').addEventListener('click', () => insertText(textOfCode(M._DISPLAYDLL_CustomCharIndex(customShown))));
  $('clear-custom').addEventListener('click', () => {
    const index = customShown;
    change(() => {
      state.custom[index - 1] = Array(8).fill(0);
    }, () => customCalls(index));
  });
  $('code').addEventListener('input', showCode);
  $('code').addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && typedCode() !== null) {
      event.preventDefault();
      insertText(textOfCode(typedCode()));
    }
  });
  $('insert-code').addEventListener('click', () => insertText(textOfCode(typedCode())));
  $('controls').addEventListener('submit', (event) => event.preventDefault());
  $('download-png').addEventListener('click', () => {
    const png = M._VxPage_Png();
    download(M.HEAPU8.slice(png, png + M._VxPage_PngSize()), 'image/png', 'vestrix-panel.png');
  });
  $('download-art').addEventListener('click', () => {
    download(M.UTF8ToString(M._VxPage_Art(open ? 1 : 0)), 'text/plain', 'vestrix-panel.txt');
  });
  $('copy-link').addEventListener('click', async () => {
    $('link').select();
    try {
      await navigator.clipboard.writeText($('link').value);
      status('The link is copied.');
    } catch {
      status('Copy the selected link with Ctrl+C.');
    }
  });
  window.addEventListener('hashchange', () => {
    if (location.hash !== addressOf(state)) {
      state = stateFromAddress();
      restart();
    }
  });
}

// A custom character's definition, and a write of nothing, which draws the
// text again with it.
function customCalls(index) {
  return state.screen === 2
    ? [{op: 'custom', index, rows: state.custom[index - 1]}, {op: 'write', codes: []}] : [];
}

function download(contents, type, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([contents], {type}));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// ---------------------------------------------------------------------------
// Start
// ---------------------------------------------------------------------------

VestrixPanel().then((module) => {
  M = module;
  buildControls();
  state = stateFromAddress();
  restart();
  // The icon thread's work, which the page does in its place, and the clock
  // that the panel runs on in its clock mode.
  setInterval(() => {
    M._VxPage_IconCycle();
    paint();
  }, 500);
  document.body.dataset.ready = 'true';
}, (error) => status(`The panel could not be loaded: ${error}`));
