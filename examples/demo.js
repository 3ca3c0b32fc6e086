// Corvane.Crypt from JScript: a string round trip and the status numbers of bad input.
var crypt = new ActiveXObject("Corvane.Crypt");
crypt.SetKey("my secret key");

var secret = crypt.enCrypt("Meet me at the usual place at noon.");
WScript.Echo("enCrypt  -> " + secret + "   (IsError " + crypt.IsError() + ")");
WScript.Echo("deCrypt  -> " + crypt.deCrypt(secret) + "   (IsError " + crypt.IsError() + ")");

crypt.deCrypt("****");
WScript.Echo("deCrypt of text that is not Base64: IsError " + crypt.IsError() + " (-107: malformed Base64)");

crypt.SetKey(null);
WScript.Echo("SetKey(null): IsError " + crypt.IsError() + " (-200: no key until the next SetKey)");
