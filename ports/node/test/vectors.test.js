// Every conformance vector, through the package's public functions.
'use strict';
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Readable } = require('stream');
const { test } = require('node:test');

const corvane = require(process.env.CORVANE_NODE_PACKAGE || '..');
const { cases } = require('./vectors');

function expectStatus(fn, status) {
  assert.throws(fn, (error) => error instanceof corvane.CorvaneError && error.status === status);
}

test('text cases', () => {
  const all = cases('textCases');
  for (const { name, c } of all) {
    if (c.status === 0) {
      assert.strictEqual(corvane.encryptText(c.key, c.text, c.codePage), c.base64, name);
      assert.strictEqual(corvane.decryptText(c.key, c.base64, c.codePage), c.text.split('\0')[0], name);
    } else {
      assert.throws(
        () => corvane.encryptText(c.key, c.text, c.codePage),
        (error) => error instanceof corvane.CorvaneError && error.status === c.status,
        name,
      );
    }
  }
});

test('file cases through streams', async () => {
  for (const { name, c } of cases('fileCases')) {
    const plain = Buffer.from(c.plainHex, 'hex');
    const bf = Buffer.from(c.bfHex, 'hex');
    // Fed in odd pieces, so that blocks straddle chunks.
    const pieces = (data) => Readable.from(Array.from({ length: Math.ceil(data.length / 5) }, (_, i) => data.subarray(i * 5, i * 5 + 5)));
    const encrypted = await corvane.collect(pieces(plain).pipe(corvane.encryptStream(c.key, { codePage: c.codePage })));
    assert.deepStrictEqual(encrypted, bf, `${name} without the length`);
    const known = await corvane.collect(pieces(plain).pipe(corvane.encryptStream(c.key, { codePage: c.codePage, length: plain.length })));
    assert.deepStrictEqual(known, bf, `${name} with the length`);
    const decrypted = await corvane.collect(pieces(bf).pipe(corvane.decryptStream(c.key, { codePage: c.codePage })));
    assert.deepStrictEqual(decrypted, plain, name);
  }
});

test('file cases through files', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-node-'));
  try {
    for (const { name, c } of cases('fileCases')) {
      const source = path.join(folder, 'data.bin');
      fs.writeFileSync(source, Buffer.from(c.plainHex, 'hex'));
      assert.strictEqual(await corvane.encryptFile(c.key, source, undefined, c.codePage), `${source}.bf`);
      assert.strictEqual(fs.readFileSync(`${source}.bf`).toString('hex'), c.bfHex, name);
      const restored = path.join(folder, 'restored.bin');
      await corvane.decryptFile(c.key, `${source}.bf`, restored, c.codePage);
      assert.strictEqual(fs.readFileSync(restored).toString('hex'), c.plainHex, name);
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});

module.exports = { expectStatus };
