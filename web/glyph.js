// Reading and writing one glyph's CODE 0xNN block in a font text, as the font reader
// sees it: '#' starts a comment, '=' separates like a blank, a dot row is a line of at
// least five characters, '.' is an unlit dot and anything else a lit one.

const LIT = 'o';
const UNLIT = '.';

function withoutComment(line) {
  const hash = line.indexOf('#');
  return hash < 0 ? line : line.slice(0, hash);
}

// The code a header line names, or -1.
export function headerCode(line) {
  const words = withoutComment(line).replace(/=/g, ' ').trim().split(/\s+/);
  if (words.length < 2 || words[0] !== 'CODE') return -1;
  const m = /^0x([0-9A-Fa-f]{1,2})/.exec(words[1]);
  return m ? parseInt(m[1], 16) : -1;
}

function isDotRow(line) {
  return withoutComment(line.replace(/\r?\n$/, '')).length >= 5;
}

// Eight strings of five '0'/'1' for `code` in a glyph table of 5 column bytes per code.
export function glyphDots(table, code) {
  const rows = [];
  for (let r = 0; r < 8; r += 1) {
    let row = '';
    for (let c = 0; c < 5; c += 1) row += (table[code * 5 + c] >> r) & 1 ? '1' : '0';
    rows.push(row);
  }
  return rows;
}

function dotLine(bits) {
  return [...bits].map((b) => (b === '1' ? LIT : UNLIT)).join('');
}

function hex2(code) {
  return code.toString(16).toUpperCase().padStart(2, '0');
}

// `font` with the glyph of `code` set to `dots` (eight strings of five '0'/'1'). The last
// block for the code is rewritten in place, keeping what follows each row's five dots;
// without one, a block is added at the end.
export function setGlyph(font, code, dots) {
  const lines = font.match(/[^\n]*\n|[^\n]+$/g) ?? [];
  let header = -1;
  lines.forEach((line, i) => {
    if (headerCode(line) === code) header = i;
  });
  if (header < 0) {
    const sep = font === '' || font.endsWith('\n\n') ? '' : font.endsWith('\n') ? '\n' : '\n\n';
    return `${font}${sep}CODE 0x${hex2(code)}\n${dots.map(dotLine).join('\n')}\n`;
  }
  const rows = [];
  let i = header + 1;
  for (; i < lines.length && rows.length < 8 && headerCode(lines[i]) < 0; i += 1) {
    if (isDotRow(lines[i])) rows.push(i);
  }
  rows.forEach((at, r) => {
    const end = lines[at].endsWith('\n') ? '\n' : '';
    lines[at] = dotLine(dots[r]) + lines[at].slice(5, lines[at].length - end.length) + end;
  });
  if (rows.length < 8) {
    const after = rows.length > 0 ? rows[rows.length - 1] : header;
    if (!lines[after].endsWith('\n')) lines[after] += '\n';
    const missing = dots.slice(rows.length).map((d) => `${dotLine(d)}\n`);
    lines.splice(after + 1, 0, ...missing);
  }
  return lines.join('');
}
