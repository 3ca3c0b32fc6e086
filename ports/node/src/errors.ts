// Failures as exceptions that carry the status numbers Corvane.Crypt's IsError reports.

export const STATUS_OK = 0;
export const STATUS_NO_KEY = -200;
export const STATUS_SHORT_FILE = -202;
export const STATUS_NOT_IN_CODE_PAGE = -102;
export const STATUS_OUT_OF_MEMORY = -103;
export const STATUS_CANNOT_OPEN_INPUT = -104;
export const STATUS_CANNOT_READ_INPUT = -105;
export const STATUS_CANNOT_WRITE_OUTPUT = -106;
export const STATUS_BAD_BASE64 = -107;

const MESSAGES: Record<number, string> = {
  [STATUS_NO_KEY]: 'no key: the key text is empty or cannot be converted to the code page',
  [STATUS_SHORT_FILE]: 'the encrypted data is shorter than its length header states',
  [STATUS_NOT_IN_CODE_PAGE]: 'a character cannot be represented in the code page, or bytes are not valid text in it',
  [STATUS_OUT_OF_MEMORY]: 'out of memory',
  [STATUS_CANNOT_OPEN_INPUT]: 'the input cannot be opened',
  [STATUS_CANNOT_READ_INPUT]: 'the input cannot be read, or is too large for the format',
  [STATUS_CANNOT_WRITE_OUTPUT]: 'the output cannot be written',
  [STATUS_BAD_BASE64]: 'malformed Base64 text',
};

/** A failed operation; `status` is the number Corvane.Crypt's IsError gives for it. */
export class CorvaneError extends Error {
  readonly status: number;
  readonly detail?: string;
  /** Decrypting a stream: the bytes already passed on when a shortage showed. */
  readonly written?: number;

  constructor(status: number, detail?: string, written?: number) {
    let message = `status ${status}: ${MESSAGES[status] ?? 'failure'}`;
    if (detail) message += ` (${detail})`;
    super(message);
    this.name = 'CorvaneError';
    this.status = status;
    this.detail = detail;
    this.written = written;
  }
}
