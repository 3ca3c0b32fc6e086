#!/usr/bin/env node
// The Node port's throughput, for bench/ports_bench.py: prints one JSON object.
//   node bench/ports_bench.js PACKAGE TEXTS FILE_MIB
// Text: encryptText of a 64-character text, TEXTS calls (each pays its key schedule, as
// enCrypt does), and 20 * TEXTS texts under one expanded key. File: FILE_MIB MiB through
// encryptStream and decryptStream (in memory, in 64 KiB chunks). CPU time of the process (user + system), after one untimed warm-up.
'use strict';
const { Readable, Writable } = require('stream');
const { pipeline } = require('stream/promises');

const corvane = require(require('path').resolve(process.argv[2]));
const texts = Number(process.argv[3]);
const mib = Number(process.argv[4]);
const KEY = 'benchmark key';
const TEXT = 'The quick brown fox jumps over the lazy dog; 0123456789 ABCDEFGH';

function cpuSeconds(fn) {
  const start = process.cpuUsage();
  fn();
  const used = process.cpuUsage(start);
  return (used.user + used.system) / 1e6;
}

async function cpuSecondsAsync(fn) {
  const start = process.cpuUsage();
  await fn();
  const used = process.cpuUsage(start);
  return (used.user + used.system) / 1e6;
}

function chunks(data) {
  const size = 65536;
  return Readable.from(Array.from({ length: Math.ceil(data.length / size) }, (_, i) => data.subarray(i * size, (i + 1) * size)));
}

async function run(transform, data) {
  const parts = [];
  await pipeline(chunks(data), transform, new Writable({ write: (c, _e, done) => { parts.push(c); done(); } }));
  return Buffer.concat(parts);
}

(async () => {
  for (let i = 0; i < 50; i++) corvane.encryptText(KEY, TEXT);
  const textSeconds = cpuSeconds(() => {
    for (let i = 0; i < texts; i++) corvane.encryptText(KEY, TEXT);
  });
  // Under one key: the cipher object, the code page and Base64 per text.
  const cipher = new corvane.Blowfish(corvane.keyBytes(KEY));
  const oneKeySeconds = cpuSeconds(() => {
    for (let i = 0; i < texts * 20; i++) cipher.encrypt(corvane.encodeText(TEXT, 1252)).toString('base64');
  });
  const plain = Buffer.alloc(mib << 20, 0x5a);
  await run(corvane.encryptStream(KEY, { length: 1 << 20 }), plain.subarray(0, 1 << 20));
  let bf;
  const encryptSeconds = await cpuSecondsAsync(async () => {
    bf = await run(corvane.encryptStream(KEY, { length: plain.length }), plain);
  });
  let back;
  const fileDecryptSeconds = await cpuSecondsAsync(async () => {
    back = await run(corvane.decryptStream(KEY), bf);
  });
  if (!back.equals(plain)) throw new Error('the round trip differs');
  console.log(JSON.stringify({
    textsPerSecond: texts / textSeconds,
    oneKeyTextsPerSecond: (texts * 20) / oneKeySeconds,
    encryptMBs: plain.length / 1e6 / encryptSeconds,
    decryptMBs: plain.length / 1e6 / fileDecryptSeconds,
  }));
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
