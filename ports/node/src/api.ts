// The two stored formats: Base64 texts and .bf files or streams.
import { randomBytes } from 'crypto';
import { promises as fsp } from 'fs';
import * as os from 'os';
import * as path from 'path';
import { Readable, Transform, TransformCallback, Writable } from 'stream';
import { pipeline } from 'stream/promises';

import * as base64 from './base64';
import { BLOCK_SIZE, Blowfish } from './blowfish';
import { decodeText, encodeText } from './codepage';
import {
  CorvaneError,
  STATUS_CANNOT_OPEN_INPUT,
  STATUS_CANNOT_READ_INPUT,
  STATUS_CANNOT_WRITE_OUTPUT,
  STATUS_NO_KEY,
  STATUS_SHORT_FILE,
} from './errors';

export const DEFAULT_CODE_PAGE = 1252;
export const HEADER_SIZE = 4;
/** The most plaintext a .bf file holds: the most its unsigned 32-bit length header states
 * (4 GiB - 1 bytes), as FileEnCrypt allows. */
export const MAX_FILE_PLAINTEXT = 2 ** 32 - 1;
const CHUNK = 1 << 16;

export type Key = string | Uint8Array;

/** The Blowfish key of a key text, as SetKey stores it: the text in the code page up to its
 * first zero byte (bytes are taken as they are, up to their first zero byte). An empty key,
 * or one the code page cannot hold, is -200 (as a failed SetKey). */
export function keyBytes(key: Key, codePage: number = DEFAULT_CODE_PAGE): Buffer {
  let data: Buffer;
  if (typeof key === 'string') {
    try {
      data = encodeText(key, codePage);
    } catch (error) {
      if (error instanceof CorvaneError) {
        throw new CorvaneError(STATUS_NO_KEY, `the key text cannot be converted to code page ${codePage}`);
      }
      throw error;
    }
  } else if (key instanceof Uint8Array) {
    data = Buffer.from(key);
  } else {
    throw new TypeError('the key is a string (key text) or bytes');
  }
  const zero = data.indexOf(0);
  if (zero >= 0) data = data.subarray(0, zero);
  if (data.length === 0) throw new CorvaneError(STATUS_NO_KEY, 'an empty key');
  return data;
}

function cipherOf(key: Key, codePage: number): Blowfish {
  return new Blowfish(keyBytes(key, codePage));
}

/** enCrypt: the Base64 text of `text`'s bytes in the code page, zero-padded to whole blocks
 * and enciphered block by block under the key text. */
export function encryptText(key: Key, text: string, codePage: number = DEFAULT_CODE_PAGE): string {
  if (typeof text !== 'string') throw new TypeError('the text is a string');
  const cipher = cipherOf(key, codePage);
  try {
    return base64.encode(cipher.encrypt(encodeText(text, codePage)));
  } finally {
    cipher.wipe();
  }
}

/** deCrypt: the text that `base64Text` was made from, up to its first zero byte (the padding
 * and anything after a zero character are gone). A wrong key is not detected: it gives other
 * text, or -102 where the bytes are no valid text. */
export function decryptText(key: Key, base64Text: string, codePage: number = DEFAULT_CODE_PAGE): string {
  if (typeof base64Text !== 'string') throw new TypeError('the Base64 text is a string');
  const cipher = cipherOf(key, codePage);
  try {
    const plaintext = cipher.decrypt(base64.decode(encodeText(base64Text, codePage)));
    const zero = plaintext.indexOf(0);
    return decodeText(zero >= 0 ? plaintext.subarray(0, zero) : plaintext, codePage);
  } finally {
    cipher.wipe();
  }
}

export interface StreamOptions {
  /** The code page of the key text (1252 by default). */
  codePage?: number;
}

export interface EncryptStreamOptions extends StreamOptions {
  /** The plaintext length, when known: the header goes out at once and the ciphertext
   * follows chunk by chunk. Without it the ciphertext waits in a temporary file until the
   * end, when the length is known (the header comes first in the format). */
  length?: number;
}

function lengthHeader(length: number): Buffer {
  const header = Buffer.alloc(HEADER_SIZE);
  header.writeUInt32LE(length, 0);
  return header;
}

/** A Transform that turns plaintext into the .bf form: the 4-byte length header, then the
 * ciphertext. Memory stays bounded by the chunks in flight. */
export class EncryptStream extends Transform {
  private readonly cipher: Blowfish;
  private readonly length?: number;
  private carry: Buffer = Buffer.alloc(0);
  private total = 0;
  private spool?: { file: fsp.FileHandle; path: string; size: number };

  constructor(key: Key, options: EncryptStreamOptions = {}) {
    super();
    this.cipher = cipherOf(key, options.codePage ?? DEFAULT_CODE_PAGE);
    if (options.length !== undefined) {
      const length = options.length;
      if (!Number.isInteger(length) || length < 0 || length > MAX_FILE_PLAINTEXT) {
        throw new CorvaneError(STATUS_CANNOT_READ_INPUT, `${length} bytes do not fit the format`);
      }
      this.length = length;
      this.push(lengthHeader(length));
    }
  }

  _transform(chunk: Buffer, _encoding: BufferEncoding, done: TransformCallback): void {
    this.total += chunk.length;
    if (this.total > (this.length ?? MAX_FILE_PLAINTEXT)) {
      done(new CorvaneError(STATUS_CANNOT_READ_INPUT, this.length === undefined ? `more than ${MAX_FILE_PLAINTEXT} bytes` : 'more bytes than the length given'));
      return;
    }
    const data = this.carry.length ? Buffer.concat([this.carry, chunk]) : chunk;
    const whole = data.length - (data.length % BLOCK_SIZE);
    this.carry = Buffer.from(data.subarray(whole));
    if (whole === 0) {
      done();
      return;
    }
    this.emitCiphertext(this.cipher.encrypt(data.subarray(0, whole))).then(() => done(), done);
  }

  _flush(done: TransformCallback): void {
    const finish = async (): Promise<void> => {
      if (this.length !== undefined && this.total !== this.length) {
        throw new CorvaneError(STATUS_CANNOT_READ_INPUT, `${this.total} bytes where ${this.length} were given`);
      }
      if (this.carry.length) await this.emitCiphertext(this.cipher.encrypt(this.carry));
      if (this.spool) {
        const { file, size } = this.spool;
        this.push(lengthHeader(this.total));
        const buffer = Buffer.alloc(CHUNK);
        for (let at = 0; at < size; ) {
          const { bytesRead } = await file.read(buffer, 0, Math.min(CHUNK, size - at), at);
          if (bytesRead === 0) break;
          this.push(Buffer.from(buffer.subarray(0, bytesRead)));
          at += bytesRead;
        }
      } else if (this.length === undefined) {
        this.push(lengthHeader(this.total));
      }
    };
    finish()
      .finally(() => this.cleanUp())
      .then(() => done(), done);
  }

  _destroy(error: Error | null, done: (error: Error | null) => void): void {
    this.cleanUp().then(() => done(error), () => done(error));
  }

  private async emitCiphertext(data: Buffer): Promise<void> {
    if (this.length !== undefined) {
      this.push(data);
      return;
    }
    // Ciphertext only, never plaintext, waits in the temporary file.
    if (!this.spool) {
      const spoolPath = path.join(os.tmpdir(), `corvane-${process.pid}-${randomBytes(8).toString('hex')}.tmp`);
      const file = await fsp.open(spoolPath, 'wx+', 0o600);
      this.spool = { file, path: spoolPath, size: 0 };
    }
    await this.spool.file.write(data, 0, data.length, this.spool.size);
    this.spool.size += data.length;
  }

  private async cleanUp(): Promise<void> {
    this.cipher.wipe();
    const spool = this.spool;
    this.spool = undefined;
    if (spool) {
      await spool.file.close().catch(() => undefined);
      await fsp.unlink(spool.path).catch(() => undefined);
    }
  }
}

/** A Transform that turns the .bf form into its plaintext: exactly the length its header
 * states. Fails with -202 when the stream is shorter than its 4-byte header or its
 * ciphertext shorter than the header states; the error's `written` says how many bytes
 * were passed on before the shortage showed. */
export class DecryptStream extends Transform {
  private readonly cipher: Blowfish;
  private header: Buffer = Buffer.alloc(0);
  private length = -1;
  private written = 0;
  private carry: Buffer = Buffer.alloc(0);

  constructor(key: Key, options: StreamOptions = {}) {
    super();
    this.cipher = cipherOf(key, options.codePage ?? DEFAULT_CODE_PAGE);
  }

  /** The length the header states, once it has been read (else -1). */
  get statedLength(): number {
    return this.length;
  }

  _transform(chunk: Buffer, _encoding: BufferEncoding, done: TransformCallback): void {
    let data = chunk;
    if (this.length < 0) {
      const need = HEADER_SIZE - this.header.length;
      this.header = Buffer.concat([this.header, data.subarray(0, need)]);
      data = data.subarray(need);
      if (this.header.length < HEADER_SIZE) {
        done();
        return;
      }
      this.length = this.header.readUInt32LE(0);
    }
    if (this.written >= this.length) {
      done(); // ciphertext beyond the stated length is not needed
      return;
    }
    data = this.carry.length ? Buffer.concat([this.carry, data]) : data;
    const whole = data.length - (data.length % BLOCK_SIZE);
    this.carry = Buffer.from(data.subarray(whole));
    if (whole) this.emit_(this.cipher.decrypt(data.subarray(0, whole)));
    done();
  }

  _flush(done: TransformCallback): void {
    try {
      if (this.length < 0) {
        throw new CorvaneError(STATUS_SHORT_FILE, `${this.header.length} bytes, shorter than the 4-byte header`, 0);
      }
      // A partial last block is completed with zero bytes and deciphered whole.
      if (this.carry.length && this.written < this.length) this.emit_(this.cipher.decrypt(this.carry), this.carry.length);
      if (this.written < this.length) {
        throw new CorvaneError(
          STATUS_SHORT_FILE,
          `the header states ${this.length} bytes, but only ${this.written} bytes of ciphertext follow`,
          this.written,
        );
      }
      done();
    } catch (error) {
      done(error as Error);
    } finally {
      this.cipher.wipe();
    }
  }

  _destroy(error: Error | null, done: (error: Error | null) => void): void {
    this.cipher.wipe();
    done(error);
  }

  private emit_(plain: Buffer, available: number = plain.length): void {
    const take = Math.min(available, this.length - this.written);
    if (take > 0) {
      this.push(plain.subarray(0, take));
      this.written += take;
    }
  }
}

/** A Transform from plaintext to the .bf form (see EncryptStream). */
export function encryptStream(key: Key, options?: EncryptStreamOptions): EncryptStream {
  return new EncryptStream(key, options);
}

/** A Transform from the .bf form to plaintext (see DecryptStream). */
export function decryptStream(key: Key, options?: StreamOptions): DecryptStream {
  return new DecryptStream(key, options);
}

function fileError(status: number, file: string, error: unknown): CorvaneError {
  if (error instanceof CorvaneError) return error;
  const reason = error instanceof Error ? error.message : String(error);
  return new CorvaneError(status, `${file}: ${reason}`);
}

async function openInput(file: string): Promise<{ handle: fsp.FileHandle; size: number }> {
  let handle: fsp.FileHandle | undefined;
  try {
    handle = await fsp.open(file, 'r');
    const stat = await handle.stat();
    if (!stat.isFile()) throw new Error('not a regular file');
    return { handle, size: stat.size };
  } catch (error) {
    await handle?.close().catch(() => undefined);
    throw fileError(STATUS_CANNOT_OPEN_INPUT, file, error);
  }
}

/** Runs the transform from the input into a temporary file beside `output`, moved over it
 * only when complete: a failure leaves no partial file and an existing one unchanged. */
async function writeFile(input: string, output: string, transform: Transform, start: number, handle: fsp.FileHandle): Promise<void> {
  try {
    const [inputStat, outputStat] = await Promise.all([handle.stat(), fsp.lstat(output).catch(() => undefined)]);
    if (outputStat && (outputStat.isDirectory() || outputStat.isSymbolicLink() || !outputStat.isFile())) {
      throw new CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, `${output} is not a regular file`);
    }
    if (outputStat && outputStat.dev === inputStat.dev && outputStat.ino === inputStat.ino) {
      throw new CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, `${output} is the input file itself`);
    }
  } catch (error) {
    await handle.close().catch(() => undefined);
    throw fileError(STATUS_CANNOT_WRITE_OUTPUT, output, error);
  }
  const temporary = path.join(path.dirname(output), `${path.basename(output).slice(0, 200)}.~${process.pid}-${randomBytes(4).toString('hex')}.tmp`);
  let target: fsp.FileHandle | undefined;
  try {
    try {
      target = await fsp.open(temporary, 'wx', 0o600);
    } catch (error) {
      throw fileError(STATUS_CANNOT_WRITE_OUTPUT, output, error);
    }
    const source = handle.createReadStream({ start, highWaterMark: CHUNK, autoClose: false });
    const sink = new Writable({
      write: (chunk: Buffer, _encoding, done) => {
        (target as fsp.FileHandle).write(chunk).then(
          () => done(),
          (error) => done(fileError(STATUS_CANNOT_WRITE_OUTPUT, output, error)),
        );
      },
    });
    try {
      await pipeline(source, transform, sink);
    } catch (error) {
      throw fileError(STATUS_CANNOT_READ_INPUT, input, error);
    }
    try {
      await target.sync();
      await target.close();
      target = undefined;
      const existing = await fsp.stat(output).catch(() => undefined);
      if (existing) await fsp.chmod(temporary, existing.mode & 0o7777);
      await fsp.rename(temporary, output);
    } catch (error) {
      throw fileError(STATUS_CANNOT_WRITE_OUTPUT, output, error);
    }
  } catch (error) {
    await target?.close().catch(() => undefined);
    await fsp.unlink(temporary).catch(() => undefined);
    throw error;
  } finally {
    await handle.close().catch(() => undefined);
  }
}

/** FileEnCrypt: writes the .bf file of `file` to `output` (default: file + ".bf") and
 * resolves to the output path. -104 when the input cannot be opened, -105 when it cannot be
 * read or holds 4 GiB or more, -106 when the output cannot be written. */
export async function encryptFile(key: Key, file: string, output?: string, codePage: number = DEFAULT_CODE_PAGE): Promise<string> {
  const target = output ?? `${file}.bf`;
  const cipherKey = keyBytes(key, codePage); // -200 before any file is touched
  const { handle, size } = await openInput(file);
  let transform: EncryptStream;
  try {
    transform = new EncryptStream(cipherKey, { length: size });
  } catch (error) {
    await handle.close().catch(() => undefined);
    throw error;
  }
  await writeFile(file, target, transform, 0, handle);
  return target;
}

/** FileDeCrypt: writes the plaintext of the .bf file `file` to `output` and resolves to the
 * output path. The default output is file + ".bf", as FileDeCrypt writes it (a.txt.bf gives
 * a.txt.bf.bf): name the output. -202 when the file is shorter than its header states
 * (nothing is written). */
export async function decryptFile(key: Key, file: string, output?: string, codePage: number = DEFAULT_CODE_PAGE): Promise<string> {
  const target = output ?? `${file}.bf`;
  const cipherKey = keyBytes(key, codePage);
  const { handle, size } = await openInput(file);
  try {
    const header = Buffer.alloc(HEADER_SIZE);
    const { bytesRead } = await handle.read(header, 0, HEADER_SIZE, 0);
    if (bytesRead < HEADER_SIZE) throw new CorvaneError(STATUS_SHORT_FILE, `${file}: ${size} bytes, shorter than the 4-byte header`, 0);
    const length = header.readUInt32LE(0);
    if (size - HEADER_SIZE < length) {
      throw new CorvaneError(STATUS_SHORT_FILE, `${file}: the header states ${length} bytes, but only ${size - HEADER_SIZE} bytes of ciphertext follow`, 0);
    }
  } catch (error) {
    await handle.close().catch(() => undefined);
    throw fileError(STATUS_CANNOT_READ_INPUT, file, error);
  }
  await writeFile(file, target, new DecryptStream(cipherKey), 0, handle);
  return target;
}

/** Collects a readable stream into one Buffer (for small data and tests). */
export async function collect(stream: Readable): Promise<Buffer> {
  const parts: Buffer[] = [];
  for await (const part of stream) parts.push(part as Buffer);
  return Buffer.concat(parts);
}
