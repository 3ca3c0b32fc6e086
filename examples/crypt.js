// Corvane.Crypt from JScript under Windows Script Host: cscript //nologo crypt.js
// No method throws: each leaves a status number, so read IsError() (with its
// parentheses) after every call.
var crypt = new ActiveXObject("Corvane.Crypt");

// Ends the script when the last call failed, naming it and its status.
function require(what) {
  if (crypt.IsError() != 0) {
    WScript.Echo(what + " failed: status " + crypt.IsError());
    WScript.Quit(1);
  }
}

crypt.SetKey("my secret key");
require("SetKey");

var secret = crypt.enCrypt("Meet me at noon.");
require("enCrypt");
WScript.Echo("enCrypt: " + secret);

var text = crypt.deCrypt(secret);
require("deCrypt");
WScript.Echo("deCrypt: " + text);

// Bad input gives a status number.
crypt.deCrypt("****");
WScript.Echo("deCrypt of text that is not Base64: status " + crypt.IsError());
crypt.SetKey(null);
WScript.Echo("SetKey(null): status " + crypt.IsError());
crypt.enCrypt("Meet me at noon.");
WScript.Echo("enCrypt after the failed SetKey: status " + crypt.IsError());

// A missing argument never reaches the method: the script engine refuses the call
// with an exception (0x8002000E, wrong number of arguments).
try {
  crypt.SetKey();
} catch (e) {
  WScript.Echo("SetKey() without an argument: error " + (e.number >>> 0).toString(16).toUpperCase());
}
