"""The two stored formats: Base64 texts and .bf files or streams."""

import io
import os
import shutil
import struct
import tempfile

from . import _base64
from ._blowfish import BLOCK_SIZE, Blowfish
from ._codepage import code_page as _code_page
from ._errors import (
    STATUS_CANNOT_OPEN_INPUT,
    STATUS_CANNOT_READ_INPUT,
    STATUS_CANNOT_WRITE_OUTPUT,
    STATUS_NO_KEY,
    STATUS_SHORT_FILE,
    CorvaneError,
)

DEFAULT_CODE_PAGE = 1252
HEADER_SIZE = 4
# The most plaintext a .bf file holds: the most its unsigned 32-bit length header states
# (4 GiB - 1 bytes), as FileEnCrypt allows.
MAX_FILE_PLAINTEXT = 2**32 - 1
_CHUNK = 1 << 16  # a multiple of the block size


def key_bytes(key, code_page=DEFAULT_CODE_PAGE):
    """The Blowfish key of a key text, as SetKey stores it: the text in the code page up to
    its first zero byte (bytes are taken as they are, up to their first zero byte).
    An empty key, or one the code page cannot hold, is -200 (as a failed SetKey)."""
    if isinstance(key, (bytes, bytearray, memoryview)):
        data = bytes(key)
    elif isinstance(key, str):
        try:
            data = _code_page(code_page).encode(key)
        except CorvaneError:
            raise CorvaneError(STATUS_NO_KEY, "the key text cannot be converted to code page %d" % code_page) from None
    else:
        raise TypeError("the key is a str (key text) or bytes")
    data = data.split(b"\0", 1)[0]
    if not data:
        raise CorvaneError(STATUS_NO_KEY, "an empty key")
    return data


def _cipher(key, code_page):
    return Blowfish(key_bytes(key, code_page))


def encrypt_text(key, text, code_page=DEFAULT_CODE_PAGE):
    """enCrypt: the Base64 text of `text`'s bytes in the code page, zero-padded to whole
    blocks and enciphered block by block under the key text."""
    if not isinstance(text, str):
        raise TypeError("the text is a str")
    cipher = _cipher(key, code_page)
    try:
        return _base64.encode(cipher.encrypt(_code_page(code_page).encode(text)))
    finally:
        cipher.wipe()


def decrypt_text(key, base64_text, code_page=DEFAULT_CODE_PAGE):
    """deCrypt: the text that `base64_text` was made from, up to its first zero byte
    (the padding and anything after a zero character are gone). A wrong key is not
    detected: it gives other text, or -102 where the bytes are no valid text."""
    if not isinstance(base64_text, str):
        raise TypeError("the Base64 text is a str")
    cipher = _cipher(key, code_page)
    try:
        converter = _code_page(code_page)
        plaintext = cipher.decrypt(_base64.decode(converter.encode(base64_text)))
        return converter.decode(plaintext.split(b"\0", 1)[0])
    finally:
        cipher.wipe()


def _read_exactly(source, n):
    parts = []
    while n > 0:
        chunk = source.read(n)
        if not chunk:
            break
        parts.append(chunk)
        n -= len(chunk)
    return b"".join(parts)


def _remaining_length(stream):
    try:
        if not stream.seekable():
            return None
        here = stream.tell()
        end = stream.seek(0, io.SEEK_END)
        stream.seek(here)
        return max(end - here, 0)
    except (OSError, ValueError, AttributeError):
        return None


def _encipher_stream(cipher, source, target, expected):
    """Enciphers `source` to `target` in chunks; returns the plaintext length."""
    total = 0
    while True:
        chunk = _read_exactly(source, _CHUNK)
        total += len(chunk)
        if total > MAX_FILE_PLAINTEXT:
            raise CorvaneError(STATUS_CANNOT_READ_INPUT, "more than %d bytes" % MAX_FILE_PLAINTEXT)
        if expected is not None and total > expected:
            raise CorvaneError(STATUS_CANNOT_READ_INPUT, "the input grew while it was read")
        if chunk:
            _write(target, cipher.encrypt(chunk))
        if len(chunk) < _CHUNK:
            break
    if expected is not None and total != expected:
        raise CorvaneError(STATUS_CANNOT_READ_INPUT, "the input shrank while it was read")
    return total


def _write(target, data):
    try:
        target.write(data)
    except OSError as error:
        raise CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, str(error)) from error


def encrypt_stream(key, source, target, code_page=DEFAULT_CODE_PAGE, length=None):
    """Writes the .bf form of the binary stream `source` to `target` in 64 KiB chunks:
    the 4-byte length header, then the ciphertext. The header comes first, so the length
    must be known: `length` when given, else what remains of a seekable `source`; else the
    header is written last into a seekable `target`, or the ciphertext waits in a
    temporary file. Returns the plaintext length."""
    cipher = _cipher(key, code_page)
    try:
        if length is None:
            length = _remaining_length(source)
        if length is not None:
            if length < 0 or length > MAX_FILE_PLAINTEXT:
                raise CorvaneError(STATUS_CANNOT_READ_INPUT, "%d bytes do not fit the format" % length)
            _write(target, struct.pack("<I", length))
            return _encipher_stream(cipher, source, target, length)
        if _remaining_length(target) is not None:
            start = target.tell()
            _write(target, bytes(HEADER_SIZE))
            total = _encipher_stream(cipher, source, target, None)
            end = target.tell()
            target.seek(start)
            _write(target, struct.pack("<I", total))
            target.seek(end)
            return total
        with tempfile.TemporaryFile() as spool:  # ciphertext only, never plaintext
            total = _encipher_stream(cipher, source, spool, None)
            spool.seek(0)
            _write(target, struct.pack("<I", total))
            while True:
                chunk = spool.read(_CHUNK)
                if not chunk:
                    break
                _write(target, chunk)
            return total
    finally:
        cipher.wipe()


def decrypt_stream(key, source, target, code_page=DEFAULT_CODE_PAGE):
    """Writes the plaintext of the .bf stream `source` to `target` in 64 KiB chunks:
    exactly the length its header states. -202 when the stream is shorter than its 4-byte
    header or its ciphertext shorter than the header states: nothing is written when
    `source` is seekable (its size is checked first); otherwise the error's `written`
    says how many bytes went out before the shortage showed. Returns the length."""
    cipher = _cipher(key, code_page)
    try:
        header = _read_exactly(source, HEADER_SIZE)
        if len(header) < HEADER_SIZE:
            raise CorvaneError(STATUS_SHORT_FILE, "%d bytes, shorter than the 4-byte header" % len(header), 0)
        (length,) = struct.unpack("<I", header)
        available = _remaining_length(source)
        if available is not None and available < length:
            raise CorvaneError(STATUS_SHORT_FILE, "the header states %d bytes, but only %d bytes of ciphertext follow" % (length, available), 0)
        written = 0
        while written < length:
            chunk = _read_exactly(source, min(_CHUNK, (length - written + BLOCK_SIZE - 1) // BLOCK_SIZE * BLOCK_SIZE))
            if not chunk:
                break
            # A partial last block is completed with zero bytes and deciphered whole.
            plain = cipher.decrypt(chunk)[: min(len(chunk), length - written)]
            _write(target, plain)
            written += len(plain)
        if written < length:
            raise CorvaneError(STATUS_SHORT_FILE, "the header states %d bytes, but only %d bytes of ciphertext follow" % (length, written), written)
        return length
    finally:
        cipher.wipe()


def _open_input(path):
    try:
        if os.path.isdir(path):
            raise IsADirectoryError(path)
        return open(path, "rb")
    except OSError as error:
        raise CorvaneError(STATUS_CANNOT_OPEN_INPUT, "%s: %s" % (path, error.strerror or error)) from error


def _write_file(path, output, produce):
    """Runs produce(source, target) into a temporary file beside `output`, moved over it
    only when complete: a failure leaves no partial file and an existing one unchanged."""
    output = os.fspath(output)
    with _open_input(path) as source:
        try:
            if os.path.exists(output) and os.path.samefile(path, output):
                raise CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, "the output is the input file itself")
            if os.path.isdir(output) or os.path.islink(output):
                raise CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, "%s is a folder or a link" % output)
            folder = os.path.dirname(os.path.abspath(output))
            handle, temporary = tempfile.mkstemp(prefix=os.path.basename(output)[:200] + ".~", suffix=".tmp", dir=folder)
        except OSError as error:
            raise CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, "%s: %s" % (output, error.strerror or error)) from error
        try:
            with os.fdopen(handle, "wb") as target:
                try:
                    result = produce(source, target)
                except OSError as error:  # reading the input
                    raise CorvaneError(STATUS_CANNOT_READ_INPUT, "%s: %s" % (path, error.strerror or error)) from error
                try:
                    target.flush()
                    os.fsync(target.fileno())
                except OSError as error:
                    raise CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, str(error)) from error
            try:
                if os.path.exists(output):
                    shutil.copymode(output, temporary)
                os.replace(temporary, output)
            except OSError as error:
                raise CorvaneError(STATUS_CANNOT_WRITE_OUTPUT, "%s: %s" % (output, error.strerror or error)) from error
            return result
        except BaseException:
            try:
                os.unlink(temporary)
            except OSError:
                pass
            raise


def encrypt_file(key, path, output=None, code_page=DEFAULT_CODE_PAGE):
    """FileEnCrypt: writes the .bf file of `path` to `output` (default: path + ".bf") and
    returns the output path. -104 when the input cannot be opened, -105 when it cannot be
    read or holds 4 GiB or more, -106 when the output cannot be written."""
    output = os.fspath(path) + ".bf" if output is None else os.fspath(output)
    cipher_key = key_bytes(key, code_page)  # -200 before any file is touched
    _write_file(path, output, lambda source, target: encrypt_stream(cipher_key, source, target))
    return output


def decrypt_file(key, path, output=None, code_page=DEFAULT_CODE_PAGE):
    """FileDeCrypt: writes the plaintext of the .bf file `path` to `output` and returns the
    output path. The default output is path + ".bf", as FileDeCrypt writes it (a.txt.bf
    gives a.txt.bf.bf): name the output. -202 when the file is shorter than its header
    states (nothing is written)."""
    output = os.fspath(path) + ".bf" if output is None else os.fspath(output)
    cipher_key = key_bytes(key, code_page)
    _write_file(path, output, lambda source, target: decrypt_stream(cipher_key, source, target))
    return output
