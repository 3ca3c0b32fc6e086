// Tamsel.Wrapper from JScript: round trips of texts outside ASCII and with NUL characters,
// numbers, and err.number / err.description on a failure. Prints
// "wrapper_roundtrip.js: all checks passed" at the end.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}
function codes(s) {
  var out = [];
  for (var i = 0; i < s.length; i++) out.push(s.charCodeAt(i).toString(16));
  return out.join(" ");
}

var w = new ActiveXObject("Tamsel.Wrapper");
var key = "k" + String.fromCharCode(0xE9, 0x9375);
var samples = [
  "plain ASCII",
  String.fromCharCode(0x47, 0x72, 0xFC, 0xDF, 0x65, 0x20, 0x65E5, 0x672C, 0xD83D, 0xDE00),
  "a" + String.fromCharCode(0) + "b" + String.fromCharCode(0, 0),
  ""
];
for (var i = 0; i < samples.length; i++) {
  var encrypted = w.TwofishEncrypt(samples[i], key);
  var decrypted = w.TwofishDecrypt(encrypted, key);
  check(decrypted === samples[i], "round trip of sample " + i + ": " + codes(decrypted));
}
check(w.TwofishEncrypt("hello", "key") === "gGweGBvlesPjjqAgb3+/TQ==", "ciphertext of hello");
check(w.TwofishDecrypt(w.TwofishEncrypt(42, "key"), "key") === "42", "a number travels as its text");

try {
  w.TwofishEncrypt("text", null);
  check(false, "a null key was accepted");
} catch (e) {
  check((e.number >>> 0) === 0x80020005, "err.number for null: " + (e.number >>> 0).toString(16));
  check(e.description === "iKeyStr is Null and cannot be converted to text", "err.description: " + e.description);
}
check(w.TwofishDecrypt(w.TwofishEncrypt("after", "key"), "key") === "after", "call after a failure");

if (failures === 0) {
  WScript.Echo("wrapper_roundtrip.js: all checks passed");
  WScript.Quit(0);
}
WScript.Quit(1);
