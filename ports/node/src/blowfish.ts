// Blowfish with Corvane's block convention: each 8-byte block is two little-endian 32-bit
// words, L = bytes 0..3 and R = bytes 4..7 (the published algorithm reads them big-endian).
// ECB: every block on its own, the last one completed with zero bytes.
import { CorvaneError, STATUS_NO_KEY } from './errors';
import { P_ARRAY, S_BOXES } from './tables';

export const BLOCK_SIZE = 8;

export class Blowfish {
  private readonly p = new Uint32Array(18);
  private readonly s = new Uint32Array(1024);
  // The pair the last encipher left (two numbers without an allocation).
  private l = 0;
  private r = 0;

  /** `key`: 1 or more bytes; at most the first 72 count. */
  constructor(key: Uint8Array) {
    const n = key.length;
    if (n === 0) throw new CorvaneError(STATUS_NO_KEY, 'an empty key');
    const p = this.p;
    p.set(P_ARRAY);
    this.s.set(S_BOXES);
    // The key is consumed cyclically, most significant byte first.
    let j = 0;
    for (let k = 0; k < 18; k++) {
      let word = 0;
      for (let m = 0; m < 4; m++) {
        word = ((word << 8) | key[j]) >>> 0;
        j = (j + 1) % n;
      }
      p[k] ^= word;
    }
    // 521 encipherments, each of the previous result, replace the tables in order.
    this.l = 0;
    this.r = 0;
    for (let k = 0; k < 18; k += 2) {
      this.encipher(this.l, this.r);
      p[k] = this.l;
      p[k + 1] = this.r;
    }
    const s = this.s;
    for (let k = 0; k < 1024; k += 2) {
      this.encipher(this.l, this.r);
      s[k] = this.l;
      s[k + 1] = this.r;
    }
  }

  private encipher(l: number, r: number): void {
    const p = this.p;
    const s = this.s;
    for (let i = 0; i < 16; i += 2) {
      l ^= p[i];
      r ^= (((s[l >>> 24] + s[256 | ((l >>> 16) & 255)]) ^ s[512 | ((l >>> 8) & 255)]) + s[768 | (l & 255)]);
      r ^= p[i + 1];
      l ^= (((s[r >>> 24] + s[256 | ((r >>> 16) & 255)]) ^ s[512 | ((r >>> 8) & 255)]) + s[768 | (r & 255)]);
    }
    this.l = (r ^ p[17]) >>> 0;
    this.r = (l ^ p[16]) >>> 0;
  }

  /** Enciphers `data`, zero-padded to whole blocks (as Encode): length rounded up to 8. */
  encrypt(data: Uint8Array): Buffer {
    return this.run(data, true);
  }

  /** Deciphers every block of `data` (as Decode); a partial last block is completed with
   * zero bytes, so the result is the length rounded up to 8. No padding is removed. */
  decrypt(data: Uint8Array): Buffer {
    return this.run(data, false);
  }

  private run(data: Uint8Array, encipher: boolean): Buffer {
    const length = Math.ceil(data.length / BLOCK_SIZE) * BLOCK_SIZE;
    const out = Buffer.alloc(length);
    out.set(data);
    // The rounds written into the loop over the blocks (a call per block costs a fifth of
    // the time); the subkeys in the order of the direction.
    const p = this.p;
    const s = this.s;
    const k = encipher ? p : Uint32Array.from(p).reverse();
    for (let i = 0; i < length; i += 8) {
      let l = out[i] | (out[i + 1] << 8) | (out[i + 2] << 16) | (out[i + 3] << 24);
      let r = out[i + 4] | (out[i + 5] << 8) | (out[i + 6] << 16) | (out[i + 7] << 24);
      for (let j = 0; j < 16; j += 2) {
        l ^= k[j];
        r ^= ((s[l >>> 24] + s[256 | ((l >>> 16) & 255)]) ^ s[512 | ((l >>> 8) & 255)]) + s[768 | (l & 255)];
        r ^= k[j + 1];
        l ^= ((s[r >>> 24] + s[256 | ((r >>> 16) & 255)]) ^ s[512 | ((r >>> 8) & 255)]) + s[768 | (r & 255)];
      }
      const a = r ^ k[17];
      const b = l ^ k[16];
      out[i] = a;
      out[i + 1] = a >>> 8;
      out[i + 2] = a >>> 16;
      out[i + 3] = a >>> 24;
      out[i + 4] = b;
      out[i + 5] = b >>> 8;
      out[i + 6] = b >>> 16;
      out[i + 7] = b >>> 24;
    }
    if (!encipher) k.fill(0);
    return out;
  }

  /** Overwrites the expanded key; the object cannot be used afterwards. */
  wipe(): void {
    this.p.fill(0);
    this.s.fill(0);
    this.l = this.r = 0;
  }
}
