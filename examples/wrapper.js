// Tamsel.Wrapper from JScript: cscript //nologo wrapper.js
// The wrapper drives two outside components, "Tamsel.clsTwofish" and "Ostrel.Base64Func",
// which must be registered for the host's bitness. A failure is an exception whose
// description names the step that failed.
function hex(n) { return (n >>> 0).toString(16).toUpperCase(); }

var wrapper = new ActiveXObject("Tamsel.Wrapper");
try {
  var secret = wrapper.TwofishEncrypt("attack at dawn", "my key");
  WScript.Echo("TwofishEncrypt: " + secret);
  WScript.Echo("TwofishDecrypt: " + wrapper.TwofishDecrypt(secret, "my key"));
} catch (e) {
  WScript.Echo("Tamsel.Wrapper failed: " + hex(e.number) + " " + e.description);
  WScript.Quit(1);
}

// null has no text form: the call fails before any component is created.
try {
  wrapper.TwofishDecrypt(secret, null);
} catch (e) {
  WScript.Echo("TwofishDecrypt with a null key: " + hex(e.number) + " " + e.description);
}
