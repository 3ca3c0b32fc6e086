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

test('decrypt cases', () => {
  for (const { name, c } of cases('decryptCases')) {
    if (c.status === 0) {
      assert.strictEqual(corvane.decryptText(c.key, c.base64, c.codePage), c.text, name);
    } else {
      assert.throws(
        () => corvane.decryptText(c.key, c.base64, c.codePage),
        (error) => error instanceof corvane.CorvaneError && error.status === c.status,
        `${name}: ${c.what}`,
      );
    }
  }
});

test('.bf files of every shape', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-node-'));
  try {
    for (const { name, c } of cases('bfCases')) {
      const bf = path.join(folder, 'data.bf');
      const output = path.join(folder, 'data.out');
      fs.writeFileSync(bf, Buffer.from(c.bfHex, 'hex'));
      fs.rmSync(output, { force: true });
      if (c.status === 0) {
        await corvane.decryptFile(c.key, bf, output, c.codePage);
        assert.strictEqual(fs.readFileSync(output).toString('hex'), c.plainHex, `${name}: ${c.what}`);
        assert.strictEqual(fs.statSync(output).size, c.writtenLength, name);
      } else {
        await assert.rejects(corvane.decryptFile(c.key, bf, output, c.codePage), (error) => error.status === c.status, `${name}: ${c.what}`);
        assert.deepStrictEqual(fs.readdirSync(folder), ['data.bf'], `${name}: nothing is written`);
      }
      // The Transform gives the same bytes, or the same status at the end.
      const decrypt = corvane.decryptStream(c.key, { codePage: c.codePage });
      const run = corvane.collect(Readable.from([Buffer.from(c.bfHex, 'hex')]).pipe(decrypt));
      if (c.status === 0) assert.strictEqual((await run).toString('hex'), c.plainHex, name);
      else await assert.rejects(run, (error) => error.status === c.status, name);
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});

// The content of a large file case: the top byte of each new state of a 32-bit LCG.
function lcgBytes(seed, length) {
  const out = Buffer.alloc(length);
  let state = seed >>> 0;
  for (let i = 0; i < length; i++) {
    state = (Math.imul(state, 1103515245) + 12345) >>> 0;
    out[i] = state >>> 24;
  }
  return out;
}

test('large files', async () => {
  const crypto = require('crypto');
  for (const { name, c } of cases('largeFileCases')) {
    const plain = lcgBytes(c.seed, c.length);
    const hash = crypto.createHash('sha256');
    let length = 0;
    const pieces = Readable.from(Array.from({ length: Math.ceil(plain.length / 65536) }, (_, i) => plain.subarray(i * 65536, (i + 1) * 65536)));
    const encrypt = corvane.encryptStream(c.key, { codePage: c.codePage, length: plain.length });
    const decrypt = corvane.decryptStream(c.key, { codePage: c.codePage });
    const back = crypto.createHash('sha256');
    encrypt.on('data', (chunk) => {
      hash.update(chunk);
      length += chunk.length;
    });
    encrypt.pipe(decrypt).on('data', (chunk) => back.update(chunk));
    await require('stream/promises').finished(pieces.pipe(encrypt));
    await require('stream/promises').finished(decrypt);
    assert.strictEqual(length, c.bfLength, name);
    assert.strictEqual(hash.digest('hex'), c.bfSha256, name);
    assert.strictEqual(back.digest('hex'), crypto.createHash('sha256').update(plain).digest('hex'), name);
  }
});
