// Text to and from the bytes of a Windows code page, as Corvane.Crypt converts it on
// Windows: strictly (a character the code page lacks, or bytes that are not valid text in
// it, fail with -102; nothing becomes '?' or a look-alike), with Windows' own tables.
//
// iconv-lite's tables differ from Windows' at some points, and it replaces what it cannot
// convert ('?' when encoding, U+FFFD when decoding). AMENDMENTS lists, per code page, every
// byte sequence and character where iconv-lite's answer is not Windows'; it is applied over
// iconv-lite, and a replacement iconv-lite made is a failure.
import * as iconv from 'iconv-lite';

import { AMENDMENTS } from './amendments';
import { CorvaneError, STATUS_NOT_IN_CODE_PAGE } from './errors';

// Code pages whose iconv-lite encoding has another name than cp<number>.
const NAMES: Record<number, string> = {
  65001: 'utf8',
  20127: 'ascii',
  28591: 'latin1',
  20932: 'eucjp',
  54936: 'gb18030',
  51949: 'euckr',
  20866: 'koi8r',
  21866: 'koi8u',
};
for (let n = 2; n <= 16; n++) if (n !== 12) NAMES[28590 + n] = `iso8859${n}`;

// Lead bytes of the double-byte code pages: a lead byte and the byte after it are one
// character, whatever that byte is.
const LEAD_BYTES: Record<number, (b: number) => boolean> = {
  932: (b) => (b >= 0x81 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc),
  936: (b) => b >= 0x81 && b <= 0xfe,
  949: (b) => b >= 0x81 && b <= 0xfe,
  950: (b) => b >= 0x81 && b <= 0xfe,
};

const QUESTION_MARK = 0x3f;
const REPLACEMENT = '\ufffd';

class CodePage {
  readonly number: number;
  private readonly name: string;
  private readonly decodeAmendments = new Map<string, number | null>(); // hex of the bytes
  private readonly encodeAmendments = new Map<number, Buffer | null>(); // code point
  private readonly isLead?: (b: number) => boolean;

  constructor(number: number) {
    const name = NAMES[number] ?? `cp${number}`;
    if (!iconv.encodingExists(name)) throw new RangeError(`code page ${number} is not supported`);
    this.number = number;
    this.name = name;
    const amendments = AMENDMENTS[number];
    if (amendments) {
      for (const [seq, cp] of amendments.decode) this.decodeAmendments.set(seq.toLowerCase(), cp);
      for (const [cp, seq] of amendments.encode) this.encodeAmendments.set(cp, seq === null ? null : Buffer.from(seq, 'hex'));
    }
    this.isLead = LEAD_BYTES[number];
  }

  private notInCodePage(what: string): CorvaneError {
    return new CorvaneError(STATUS_NOT_IN_CODE_PAGE, `${what} code page ${this.number}`);
  }

  encode(text: string): Buffer {
    if (this.encodeAmendments.size === 0) return this.encodeBase(text);
    const parts: Buffer[] = [];
    let start = 0;
    for (let i = 0; i < text.length; ) {
      const cp = text.codePointAt(i) as number;
      const width = cp > 0xffff ? 2 : 1;
      if (this.encodeAmendments.has(cp)) {
        if (i > start) parts.push(this.encodeBase(text.slice(start, i)));
        const seq = this.encodeAmendments.get(cp);
        if (seq === null || seq === undefined) throw this.notInCodePage('text not representable in');
        parts.push(seq);
        start = i + width;
      }
      i += width;
    }
    if (start < text.length) parts.push(this.encodeBase(text.slice(start)));
    return Buffer.concat(parts);
  }

  private encodeBase(text: string): Buffer {
    if (this.number === 65001) {
      // A lone surrogate has no UTF-8 form.
      if (/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/.test(text)) {
        throw this.notInCodePage('text not representable in');
      }
      return Buffer.from(text, 'utf8');
    }
    const bytes = iconv.encode(text, this.name);
    // iconv-lite writes '?' for what it cannot convert; '?' is never a trail byte here.
    let written = 0;
    for (const b of bytes) if (b === QUESTION_MARK) written++;
    if (written > 0) {
      let given = 0;
      for (let i = 0; i < text.length; i++) if (text.charCodeAt(i) === QUESTION_MARK) given++;
      if (written !== given) throw this.notInCodePage('text not representable in');
    }
    return bytes;
  }

  decode(data: Uint8Array): string {
    const isLead = this.isLead;
    if (this.decodeAmendments.size === 0) return this.decodeBase(data);
    const parts: string[] = [];
    let start = 0;
    for (let i = 0; i < data.length; ) {
      const width = isLead && isLead(data[i]) && i + 1 < data.length ? 2 : 1;
      const key = Buffer.from(data.subarray(i, i + width)).toString('hex');
      if (this.decodeAmendments.has(key)) {
        if (i > start) parts.push(this.decodeBase(data.subarray(start, i)));
        const cp = this.decodeAmendments.get(key);
        if (cp === null || cp === undefined) throw this.notInCodePage('bytes that are not valid text in');
        parts.push(String.fromCodePoint(cp));
        start = i + width;
      }
      i += width;
    }
    if (start < data.length) parts.push(this.decodeBase(data.subarray(start)));
    return parts.join('');
  }

  private decodeBase(data: Uint8Array): string {
    if (this.number === 65001) {
      try {
        return new TextDecoder('utf-8', { fatal: true }).decode(data);
      } catch {
        throw this.notInCodePage('bytes that are not valid text in');
      }
    }
    const text = iconv.decode(Buffer.from(data.buffer, data.byteOffset, data.byteLength), this.name);
    // iconv-lite gives U+FFFD for bytes it cannot read; no Windows table maps to it.
    if (text.includes(REPLACEMENT)) throw this.notInCodePage('bytes that are not valid text in');
    return text;
  }
}

const cache = new Map<number, CodePage>();

function codePage(number: number): CodePage {
  if (!Number.isInteger(number)) throw new TypeError('the code page is a number, such as 1252');
  let converter = cache.get(number);
  if (!converter) {
    converter = new CodePage(number);
    cache.set(number, converter);
  }
  return converter;
}

/** The bytes of `text` in a Windows code page; CorvaneError(-102) where it lacks a character. */
export function encodeText(text: string, number: number): Buffer {
  return codePage(number).encode(text);
}

/** The text of `data` in a Windows code page; CorvaneError(-102) where it is not valid text. */
export function decodeText(data: Uint8Array, number: number): string {
  return codePage(number).decode(data);
}
