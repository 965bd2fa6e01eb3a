// The glyph editor's edits of a font text, without a browser.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { glyphDots, headerCode, setGlyph } from '../../web/glyph.js';

const BAR = ['11111', '00000', '00000', '00000', '00000', '00000', '00000', '10001'];
const BAR_ROWS = 'ooooo\n.....\n.....\n.....\n.....\n.....\n.....\no...o\n';

test('a glyph block is added, rewritten in place or completed', () => {
  const cases = [
    ['', 'CODE 0x1F\n' + BAR_ROWS],
    ['# mine\n', '# mine\n\nCODE 0x1F\n' + BAR_ROWS],
    // the last block of the code is the one that counts; comments and other codes stay
    ['CODE 0x1f\n' + 'x....\n'.repeat(8) + 'CODE=0x1F  # bar\n' + 'xxxxx  # top\n' + '.....\n'.repeat(7) + 'CODE 0x20\n',
      'CODE 0x1f\n' + 'x....\n'.repeat(8) + 'CODE=0x1F  # bar\n' + 'ooooo  # top\n' + BAR_ROWS.slice(6) + 'CODE 0x20\n'],
    // a block cut short gets its missing rows; short lines and comments are not rows
    ['CODE 0x1F\n\n# c\n.....\nCODE 0x41\n', 'CODE 0x1F\n\n# c\n' + BAR_ROWS + 'CODE 0x41\n'],
  ];
  for (const [font, expected] of cases) assert.equal(setGlyph(font, 0x1f, BAR), expected, font);
});

test('headers and dots are read as the font reader reads them', () => {
  const headers = [['CODE 0x41', 0x41], ['CODE=0xa', 10], ['CODE 0x415', 0x41], ['code 0x41', -1],
    ['CODE 0X41', -1], ['CODE 41', -1], ['# CODE 0x41', -1], ['CODE', -1]];
  for (const [line, code] of headers) assert.equal(headerCode(line), code, line);
  const table = new Uint8Array(256 * 5);
  table.set([0x81, 0x01, 0x01, 0x01, 0x81], 0x1f * 5);
  assert.deepEqual(glyphDots(table, 0x1f), BAR);
});
