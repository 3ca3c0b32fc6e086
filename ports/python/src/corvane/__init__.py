"""Corvane.Crypt's two stored formats in pure Python: Base64 texts (enCrypt, deCrypt) and
.bf files (FileEnCrypt, FileDeCrypt), byte for byte, with the component's status numbers.

Read the security note in the README: these formats are for data that already exists.
"""

from ._api import (
    DEFAULT_CODE_PAGE,
    MAX_FILE_PLAINTEXT,
    decrypt_file,
    decrypt_stream,
    decrypt_text,
    encrypt_file,
    encrypt_stream,
    encrypt_text,
    key_bytes,
)
from ._blowfish import BLOCK_SIZE, Blowfish
from ._codepage import decode as decode_text
from ._codepage import encode as encode_text
from ._errors import (
    STATUS_BAD_BASE64,
    STATUS_CANNOT_OPEN_INPUT,
    STATUS_CANNOT_READ_INPUT,
    STATUS_CANNOT_WRITE_OUTPUT,
    STATUS_NO_KEY,
    STATUS_NOT_IN_CODE_PAGE,
    STATUS_OK,
    STATUS_OUT_OF_MEMORY,
    STATUS_SHORT_FILE,
    CorvaneError,
)

__version__ = "1.1.0"

__all__ = [
    "BLOCK_SIZE",
    "Blowfish",
    "CorvaneError",
    "DEFAULT_CODE_PAGE",
    "MAX_FILE_PLAINTEXT",
    "STATUS_BAD_BASE64",
    "STATUS_CANNOT_OPEN_INPUT",
    "STATUS_CANNOT_READ_INPUT",
    "STATUS_CANNOT_WRITE_OUTPUT",
    "STATUS_NO_KEY",
    "STATUS_NOT_IN_CODE_PAGE",
    "STATUS_OK",
    "STATUS_OUT_OF_MEMORY",
    "STATUS_SHORT_FILE",
    "decode_text",
    "decrypt_file",
    "decrypt_stream",
    "decrypt_text",
    "encode_text",
    "encrypt_file",
    "encrypt_stream",
    "encrypt_text",
    "key_bytes",
]
