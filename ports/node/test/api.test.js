// The package's behaviour beyond the vectors: errors with their statuses, streams and files.
'use strict';
const assert = require('assert');
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { PassThrough, Readable } = require('stream');
const { test } = require('node:test');

const corvane = require(process.env.CORVANE_NODE_PACKAGE || '..');

const KEY = 'my secret key';

function statusOf(fn) {
  try {
    fn();
  } catch (error) {
    assert.ok(error instanceof corvane.CorvaneError, String(error));
    return error.status;
  }
  assert.fail('no error');
}

async function statusOfAsync(promise) {
  try {
    await promise;
  } catch (error) {
    assert.ok(error instanceof corvane.CorvaneError, String(error));
    return error;
  }
  assert.fail('no error');
}

const feed = (data, piece = 7) => Readable.from(Array.from({ length: Math.ceil(data.length / piece) }, (_, i) => data.subarray(i * piece, i * piece + piece)));

test('block convention and key schedule', () => {
  assert.strictEqual(new corvane.Blowfish(Buffer.alloc(8)).encrypt(Buffer.alloc(8)).toString('hex'), '4597f94e78dd9861');
  assert.strictEqual(corvane.encryptText('TESTKEY', 'sixteen bytes!!!'), 'BabcR7BJSc/uwpdNtHZBAg==');
  const longKey = Buffer.from(Array.from({ length: 80 }, (_, i) => i + 1));
  assert.deepStrictEqual(new corvane.Blowfish(longKey).encrypt(Buffer.from('x')), new corvane.Blowfish(longKey.subarray(0, 72)).encrypt(Buffer.from('x')));
  assert.deepStrictEqual(new corvane.Blowfish(Buffer.from('a')).encrypt(Buffer.from('block')), new corvane.Blowfish(Buffer.from('aaaa')).encrypt(Buffer.from('block')));
});

test('keys that fail are -200; a key ends at its first zero character', () => {
  for (const key of ['', '\0abc', '日本', new Uint8Array(0)]) {
    assert.strictEqual(statusOf(() => corvane.encryptText(key, 'text')), -200);
    assert.strictEqual(statusOf(() => corvane.decryptText(key, 'AAAAAAAAAAA=')), -200);
    assert.strictEqual(statusOf(() => corvane.encryptStream(key)), -200);
  }
  assert.throws(() => corvane.encryptText(12, 'text'), TypeError);
  assert.strictEqual(corvane.encryptText('abc\0def', 't'), corvane.encryptText(Buffer.from('abc\0x'), 't'));
  assert.strictEqual(corvane.encryptText('abc\0def', 't'), corvane.encryptText('abc', 't'));
});

test('malformed Base64', () => {
  const cases = [
    ['****', 1252, -107],
    ['AAAAAAAAAA=', 1252, -107],
    ['AAAAAAAAAAA==', 1252, -107],
    ['A===', 1252, -107],
    ['AA==AA==', 1252, -107],
    ['AAAA====', 1252, -107],
    ['AAAAAAAAAAA=\u00e9', 1252, -107],
    ['AAAAAAAAAAA=\u65e5', 1252, -102], // the code page cannot hold it: refused before Base64
    ['AAAAAAAAAAA=\u65e5', 932, -107],
  ];
  for (const [text, codePage, status] of cases) assert.strictEqual(statusOf(() => corvane.decryptText(KEY, text, codePage)), status, text);
});

test('white space, partial blocks, zero characters', () => {
  const secret = corvane.encryptText(KEY, 'Meet me at noon.');
  assert.strictEqual(secret, '2yeByNeo1dpyOhKvvM8fSA==');
  assert.strictEqual(corvane.decryptText(KEY, ` ${secret.slice(0, 5)}\t\r\n${secret.slice(5)}\v\f`), 'Meet me at noon.');
  const cipher = new corvane.Blowfish(Buffer.from(KEY));
  assert.deepStrictEqual(cipher.decrypt(Buffer.from([1, 2, 3, 4, 5])), cipher.decrypt(Buffer.from([1, 2, 3, 4, 5, 0, 0, 0])));
  assert.strictEqual(corvane.decryptText(KEY, corvane.encryptText(KEY, 'before\0after')), 'before');
  assert.strictEqual(corvane.encryptText(KEY, ''), '');
  assert.strictEqual(corvane.decryptText(KEY, ''), '');
});

test('strict code pages', () => {
  assert.strictEqual(statusOf(() => corvane.encryptText(KEY, '\u20ac \u65e5', 1252)), -102);
  assert.strictEqual(statusOf(() => corvane.encryptText(KEY, '\ud800', 65001)), -102);
  assert.strictEqual(statusOf(() => corvane.encodeText('\ufffd', 1252)), -102); // iconv-lite writes 9D
  assert.deepStrictEqual(corvane.encodeText('\u0081\u20ac?', 1252), Buffer.from([0x81, 0x80, 0x3f]));
  assert.strictEqual(statusOf(() => corvane.encodeText('\u00a5', 932)), -102);
  assert.deepStrictEqual(corvane.encodeText('\ue000', 932), Buffer.from([0xf0, 0x40])); // iconv-lite lacks it
  assert.strictEqual(statusOf(() => corvane.decodeText(Buffer.from([0x93]), 932)), -102);
  assert.throws(() => corvane.encodeText('x', 99999), RangeError);
});

test('streams of every shape', async () => {
  for (const size of [0, 1, 7, 8, 9, 65535, 65536, 65537, 200003]) {
    const plain = crypto.randomBytes(size);
    const bf = await corvane.collect(feed(plain, 4099).pipe(corvane.encryptStream(KEY)));
    assert.strictEqual(bf.length, 4 + Math.ceil(size / 8) * 8);
    assert.strictEqual(bf.readUInt32LE(0), size);
    assert.deepStrictEqual(await corvane.collect(feed(plain, 4099).pipe(corvane.encryptStream(KEY, { length: size }))), bf);
    assert.deepStrictEqual(await corvane.collect(feed(bf, 4099).pipe(corvane.decryptStream(KEY))), plain);
  }
});

test('a length that is wrong', async () => {
  for (const [data, length] of [[Buffer.from('12345'), 4], [Buffer.from('12345'), 6]]) {
    const error = await statusOfAsync(corvane.collect(feed(data).pipe(corvane.encryptStream(KEY, { length }))));
    assert.strictEqual(error.status, -105);
  }
  assert.strictEqual(statusOf(() => corvane.encryptStream(KEY, { length: 2 ** 32 })), -105);
});

test('lengths up to 4 GiB - 1 fit the header', async () => {
  assert.strictEqual(corvane.MAX_FILE_PLAINTEXT, 2 ** 32 - 1);
  // An accepted length has its header passed on before the (empty) input falls short of it.
  for (const [length, header] of [[2 ** 31, '00000080'], [2 ** 32 - 1, 'ffffffff']]) {
    const stream = corvane.encryptStream(KEY, { length });
    const out = [];
    stream.on('data', (chunk) => out.push(chunk));
    const failed = new Promise((resolve) => stream.on('error', resolve));
    stream.end();
    assert.strictEqual((await failed).status, -105);
    assert.strictEqual(Buffer.concat(out).toString('hex'), header);
  }
});

test('a file of 4 GiB is refused before it is read', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-node-'));
  try {
    const source = path.join(folder, 'huge');
    fs.closeSync(fs.openSync(source, 'w'));
    fs.truncateSync(source, 2 ** 32); // sparse: nothing is stored
    assert.strictEqual((await statusOfAsync(corvane.encryptFile(KEY, source))).status, -105);
    assert.deepStrictEqual(fs.readdirSync(folder), ['huge']);
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});

test('short, long and partial encrypted streams', async () => {
  const cases = [
    [Buffer.alloc(0), 0],
    [Buffer.from([1, 0, 0]), 0],
    [Buffer.concat([Buffer.from([9, 0, 0, 0]), Buffer.alloc(8)]), 8],
    [Buffer.concat([Buffer.from([0, 0, 0, 0x80]), Buffer.alloc(16)]), 16],
    [Buffer.from([0xff, 0xff, 0xff, 0xff]), 0],
  ];
  for (const [bf, written] of cases) {
    const out = [];
    const decrypt = corvane.decryptStream(KEY);
    decrypt.on('data', (d) => out.push(d));
    const error = await statusOfAsync(new Promise((resolve, reject) => {
      decrypt.on('error', reject).on('end', resolve);
      feed(bf, 3).pipe(decrypt);
    }));
    assert.strictEqual(error.status, -202);
    assert.strictEqual(error.written, written);
    assert.strictEqual(Buffer.concat(out).length, written);
  }
  const bf = await corvane.collect(feed(Buffer.from('abc')).pipe(corvane.encryptStream(KEY)));
  const longer = Buffer.concat([Buffer.from([2, 0, 0, 0]), bf.subarray(4), Buffer.alloc(8)]);
  assert.strictEqual((await corvane.collect(feed(longer).pipe(corvane.decryptStream(KEY)))).toString(), 'ab');
  const partial = Buffer.concat([Buffer.from([3, 0, 0, 0]), Buffer.alloc(5)]);
  const expected = new corvane.Blowfish(Buffer.from(KEY)).decrypt(Buffer.alloc(8)).subarray(0, 3);
  assert.deepStrictEqual(await corvane.collect(feed(partial).pipe(corvane.decryptStream(KEY))), expected);
});

test('files, and failures that leave files alone', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-node-'));
  try {
    const source = path.join(folder, 'a.txt');
    fs.writeFileSync(source, 'Quarterly figures: 12, 17, 23.');
    assert.strictEqual(await corvane.encryptFile(KEY, source), `${source}.bf`);
    assert.strictEqual(fs.statSync(`${source}.bf`).size, 36);
    assert.strictEqual(await corvane.decryptFile(KEY, `${source}.bf`), `${source}.bf.bf`);
    assert.strictEqual(fs.readFileSync(`${source}.bf.bf`, 'utf8'), 'Quarterly figures: 12, 17, 23.');
    assert.deepStrictEqual(fs.readdirSync(folder).sort(), ['a.txt', 'a.txt.bf', 'a.txt.bf.bf']);

    const existing = path.join(folder, 'existing');
    fs.writeFileSync(existing, 'keep me');
    const short = path.join(folder, 'short.bf');
    fs.writeFileSync(short, Buffer.concat([Buffer.from([100, 0, 0, 0]), Buffer.alloc(16)]));
    const failures = [
      [() => corvane.encryptFile(KEY, path.join(folder, 'missing')), -104],
      [() => corvane.encryptFile(KEY, folder), -104],
      [() => corvane.decryptFile(KEY, short, existing), -202],
      [() => corvane.decryptFile(KEY, `${source}.bf`, folder), -106],
      [() => corvane.encryptFile(KEY, existing, existing), -106],
      [() => corvane.encryptFile(KEY, existing, path.join(folder, 'no-folder', 'x.bf')), -106],
    ];
    for (const [call, status] of failures) assert.strictEqual((await statusOfAsync(call())).status, status, String(call));
    assert.strictEqual(statusOf(() => corvane.keyBytes('')), -200);
    assert.strictEqual(fs.readFileSync(existing, 'utf8'), 'keep me');
    assert.deepStrictEqual(fs.readdirSync(folder).sort(), ['a.txt', 'a.txt.bf', 'a.txt.bf.bf', 'existing', 'short.bf']);
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});

test('a stream pipes through without holding the whole input', async () => {
  // 8 MiB through a pipeline whose reader is slow: the transform must not read ahead
  // of what the writer takes (backpressure), so memory stays near the chunk size.
  const size = 8 << 20;
  let produced = 0;
  const source = new Readable({
    read() {
      if (produced >= size) return this.push(null);
      produced += 65536;
      this.push(Buffer.alloc(65536, 7));
    },
  });
  const encrypt = corvane.encryptStream(KEY, { length: size });
  const sink = new PassThrough({ highWaterMark: 1024 });
  source.pipe(encrypt).pipe(sink);
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.ok(produced < 2 << 20, `read ${produced} bytes ahead of a stalled writer`);
  let total = 0;
  for await (const chunk of sink) total += chunk.length;
  assert.strictEqual(total, 4 + size);
});
