"""Base64 as Corvane.Crypt writes and reads it: RFC 4648's standard alphabet with '='
padding and no line breaks; on input ASCII white space is skipped anywhere, and anything
else outside the alphabet, misplaced padding or an unfinished group of four is refused."""

import base64
import binascii

from ._errors import STATUS_BAD_BASE64, CorvaneError

_ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
_WHITE_SPACE = b" \t\r\n\v\f"
_VALID = frozenset(_ALPHABET + b"=")


def encode(data):
    return base64.b64encode(data).decode("ascii")


def decode(text):
    """The bytes that the Base64 text `text` (bytes in the code page) stands for;
    CorvaneError(-107) when it is not Base64 by the rules above."""
    compact = bytes(text).translate(None, _WHITE_SPACE)
    if not set(compact) <= _VALID:
        raise CorvaneError(STATUS_BAD_BASE64, "a character outside the Base64 alphabet")
    if len(compact) % 4 != 0:
        raise CorvaneError(STATUS_BAD_BASE64, "characters that do not form whole groups of four")
    data_end = len(compact.rstrip(b"="))
    padding = len(compact) - data_end
    # '=' only at the end, after two or three data characters of the last group.
    if padding > 2 or b"=" in compact[:data_end]:
        raise CorvaneError(STATUS_BAD_BASE64, "padding in the wrong place")
    if padding:
        # The bits the padding stands for are ignored, whatever they hold: clear them so
        # the standard decoder accepts the group.
        value = _ALPHABET.index(compact[data_end - 1])
        value &= 0x30 if padding == 2 else 0x3C
        compact = compact[: data_end - 1] + _ALPHABET[value : value + 1] + b"=" * padding
    try:
        return base64.b64decode(compact, validate=True)
    except binascii.Error as error:  # pragma: no cover - excluded by the checks above
        raise CorvaneError(STATUS_BAD_BASE64, str(error))
