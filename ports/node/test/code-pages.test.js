// The code-page conversion against Windows' answers in the vectors: the table of points
// where Windows differs from common open tables, and Windows' full tables where present.
'use strict';
const assert = require('assert');
const { test } = require('node:test');

const corvane = require(process.env.CORVANE_NODE_PACKAGE || '..');
const { documents } = require('./vectors');

const LEADS = {
  932: (b) => (b >= 0x81 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc),
  936: (b) => b >= 0x81 && b <= 0xfe,
};

function decodeAnswer(codePage, hex) {
  try {
    const points = Array.from(corvane.decodeText(Buffer.from(hex, 'hex'), codePage));
    return points.length === 1 ? points[0].codePointAt(0) : 'several';
  } catch (error) {
    assert.strictEqual(error.status, corvane.STATUS_NOT_IN_CODE_PAGE);
    return null;
  }
}

function encodeAnswer(codePage, cp) {
  try {
    return corvane.encodeText(String.fromCharCode(cp), codePage).toString('hex').toUpperCase();
  } catch (error) {
    assert.strictEqual(error.status, corvane.STATUS_NOT_IN_CODE_PAGE);
    return null;
  }
}

test('where Windows differs from the common open tables', () => {
  for (const { file, document } of documents) {
    for (const entry of (document && document.codePages) || []) {
      const wrong = [];
      for (const [seq, cp] of entry.decode) if (decodeAnswer(entry.codePage, seq) !== cp) wrong.push(seq);
      for (const [cp, seq] of entry.encode) if (encodeAnswer(entry.codePage, cp) !== (seq && seq.toUpperCase())) wrong.push(cp);
      assert.deepStrictEqual(wrong, [], `${file}: code page ${entry.codePage}`);
    }
  }
});

test("Windows' full tables", () => {
  for (const { file, document } of documents) {
    if (!document || document.codePage === undefined || !document.decode || !document.encode) continue;
    const codePage = document.codePage;
    const decode = new Map(document.decode.map(([seq, cp]) => [seq.toUpperCase(), cp]));
    decode.set('00', 0);
    const encode = new Map(document.encode.map(([cp, seq]) => [cp, seq.toUpperCase()]));
    encode.set(0, '00');
    const isLead = LEADS[codePage] || (() => false);
    const wrong = [];
    for (let b = 0; b < 256; b++) {
      const sequences = isLead(b) ? Array.from({ length: 256 }, (_, t) => [b, t]) : [[b]];
      for (const seq of sequences) {
        const hex = Buffer.from(seq).toString('hex').toUpperCase();
        if (decodeAnswer(codePage, hex) !== (decode.has(hex) ? decode.get(hex) : null)) wrong.push(hex);
      }
    }
    for (let cp = 0; cp < 0x10000; cp++) {
      if (encodeAnswer(codePage, cp) !== (encode.has(cp) ? encode.get(cp) : null)) wrong.push(cp);
    }
    assert.deepStrictEqual(wrong.slice(0, 20), [], `${file}: code page ${codePage}`);
    // Whole texts convert as their characters do, amended ones among ordinary ones.
    const characters = [...encode.keys()].filter((cp) => cp).sort((a, b) => a - b).filter((_, i) => i % 37 === 0);
    assert.strictEqual(
      corvane.encodeText(String.fromCharCode(...characters), codePage).toString('hex').toUpperCase(),
      characters.map((cp) => encode.get(cp)).join(''),
    );
    const sequences = [...decode.keys()].filter((s) => s !== '00').sort().filter((_, i) => i % 37 === 0);
    assert.strictEqual(
      corvane.decodeText(Buffer.from(sequences.join(''), 'hex'), codePage),
      sequences.map((s) => String.fromCodePoint(decode.get(s))).join(''),
    );
  }
});
