// Base64 as Corvane.Crypt writes and reads it: RFC 4648's standard alphabet with '='
// padding and no line breaks; on input ASCII white space is skipped anywhere, and anything
// else outside the alphabet, misplaced padding or an unfinished group of four is refused.
import { CorvaneError, STATUS_BAD_BASE64 } from './errors';

const ALPHABET = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
const INVALID = 0xff;
const SPACE = 0xfe;
const PAD = 0xfd;
const DECODE = new Uint8Array(256).fill(INVALID);
for (let i = 0; i < 64; i++) DECODE[ALPHABET.charCodeAt(i)] = i;
DECODE[0x3d] = PAD;
for (const c of ' \t\r\n\v\f') DECODE[c.charCodeAt(0)] = SPACE;

export function encode(data: Uint8Array): string {
  return Buffer.from(data.buffer, data.byteOffset, data.byteLength).toString('base64');
}

/** The bytes that the Base64 text `text` (bytes in the code page) stands for. */
export function decode(text: Uint8Array): Buffer {
  const out = Buffer.alloc(Math.floor(text.length / 4) * 3 + 3);
  let written = 0;
  let group = 0;
  let inGroup = 0; // characters of the current group of four seen so far
  let padding = 0; // '=' seen; only white space and more '=' may follow
  for (let i = 0; i < text.length; i++) {
    const v = DECODE[text[i]];
    if (v === SPACE) continue;
    if (v === INVALID) throw new CorvaneError(STATUS_BAD_BASE64, 'a character outside the Base64 alphabet');
    if (v === PAD) {
      // Padding completes a group that holds two or three data characters.
      if (inGroup + padding < 2 || inGroup + padding > 3) throw new CorvaneError(STATUS_BAD_BASE64, 'padding in the wrong place');
      padding++;
      if (inGroup + padding === 4) inGroup = 4;
      continue;
    }
    if (padding !== 0 || inGroup === 4) throw new CorvaneError(STATUS_BAD_BASE64, 'data after the padding');
    group = ((group << 6) | v) >>> 0;
    if (++inGroup === 4) {
      out[written++] = group >>> 16;
      out[written++] = group >>> 8;
      out[written++] = group;
      group = 0;
      inGroup = 0;
    }
  }
  if (padding !== 0) {
    if (inGroup !== 4) throw new CorvaneError(STATUS_BAD_BASE64, 'a group left open after the padding');
    // Two data characters carry one byte, three carry two; the padding stands for the rest.
    group = (group << (6 * padding)) >>> 0;
    out[written++] = group >>> 16;
    if (padding === 1) out[written++] = group >>> 8;
  } else if (inGroup !== 0) {
    throw new CorvaneError(STATUS_BAD_BASE64, 'characters that do not form whole groups of four');
  }
  return out.subarray(0, written);
}
