"""Failures as exceptions that carry the status numbers Corvane.Crypt's IsError reports."""

STATUS_OK = 0
STATUS_NO_KEY = -200
STATUS_SHORT_FILE = -202
STATUS_NOT_IN_CODE_PAGE = -102
STATUS_OUT_OF_MEMORY = -103
STATUS_CANNOT_OPEN_INPUT = -104
STATUS_CANNOT_READ_INPUT = -105
STATUS_CANNOT_WRITE_OUTPUT = -106
STATUS_BAD_BASE64 = -107

_MESSAGES = {
    STATUS_NO_KEY: "no key: the key text is empty or cannot be converted to the code page",
    STATUS_SHORT_FILE: "the encrypted data is shorter than its length header states",
    STATUS_NOT_IN_CODE_PAGE: "a character cannot be represented in the code page, or bytes are not valid text in it",
    STATUS_OUT_OF_MEMORY: "out of memory",
    STATUS_CANNOT_OPEN_INPUT: "the input cannot be opened",
    STATUS_CANNOT_READ_INPUT: "the input cannot be read, or is too large for the format",
    STATUS_CANNOT_WRITE_OUTPUT: "the output cannot be written",
    STATUS_BAD_BASE64: "malformed Base64 text",
}


class CorvaneError(Exception):
    """A failed operation; `status` is the number Corvane.Crypt's IsError gives for it."""

    def __init__(self, status, detail=None, written=None):
        self.status = status
        self.detail = detail
        # Decrypting a stream: the bytes already written when a shortage showed.
        self.written = written
        message = "status %d: %s" % (status, _MESSAGES.get(status, "failure"))
        if detail:
            message += " (%s)" % detail
        super().__init__(message)
