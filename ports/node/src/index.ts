// Corvane.Crypt's two stored formats for Node: Base64 texts (enCrypt, deCrypt) and .bf
// files (FileEnCrypt, FileDeCrypt), byte for byte, with the component's status numbers.
// Read the security note in the README: these formats are for data that already exists.
export {
  DEFAULT_CODE_PAGE,
  DecryptStream,
  EncryptStream,
  EncryptStreamOptions,
  HEADER_SIZE,
  Key,
  MAX_FILE_PLAINTEXT,
  StreamOptions,
  collect,
  decryptFile,
  decryptStream,
  decryptText,
  encryptFile,
  encryptStream,
  encryptText,
  keyBytes,
} from './api';
export { BLOCK_SIZE, Blowfish } from './blowfish';
export { decodeText, encodeText } from './codepage';
export * from './errors';
