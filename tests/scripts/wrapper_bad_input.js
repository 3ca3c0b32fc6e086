// The values a JScript program can pass, into both Tamsel.Wrapper methods: each gives
// its error number, nothing breaks, and the object works afterwards. Prints
// "wrapper_bad_input.js: all checks passed" at the end.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}
var TYPE_MISMATCH = 0x80020005;
// The cipher component refuses keys longer than 32 bytes; its error is passed on.
var KEY_TOO_LONG = 0x80070057;

var w = new ActiveXObject("Tamsel.Wrapper");
function usable(what) {
  check(w.TwofishDecrypt(w.TwofishEncrypt("still works", "key"), "key") === "still works", "usable after " + what);
}
function errorOf(f) {
  try {
    f();
    return 0;
  } catch (e) {
    return e.number >>> 0;
  }
}

// Name, value, error of its coercion to text, its text, error when used as the key.
var rows = [
  ["null", null, TYPE_MISMATCH, "", TYPE_MISMATCH],
  ["undefined", undefined, 0, "", 0],
  ["integer", 42, 0, "42", 0],
  ["double", 1.5, 0, "1.5", 0],
  ["boolean", true, 0, "-1", 0],
  ["zero character", "a\u0000b", 0, "a\u0000b", 0],
  ["beyond every code page", "\u0101\u65E5", 0, "\u0101\u65E5", 0],
  ["long string", new Array(100001).join("x"), 0, new Array(100001).join("x"), KEY_TOO_LONG],
  ["object", {}, 0, "[object Object]", 0]
];
for (var i = 0; i < rows.length; i++) {
  var name = rows[i][0], value = rows[i][1], expected = rows[i][2], text = rows[i][3];
  var keyExpected = rows[i][4];
  var cipher;
  check(errorOf(function () { cipher = w.TwofishEncrypt(value, "key"); }) === expected, "TwofishEncrypt(" + name + ")");
  if (expected === 0) check(w.TwofishDecrypt(cipher, "key") === text, "round trip of " + name);
  check(errorOf(function () { cipher = w.TwofishEncrypt("secret", value); }) === keyExpected, "key " + name);
  if (keyExpected === 0) check(w.TwofishDecrypt(cipher, value) === "secret", "decrypt with " + name + " as the key");
  check(errorOf(function () { w.TwofishDecrypt(value, "key"); }) !== 0, "TwofishDecrypt(" + name + ") fails");
  usable(name);
}

check(errorOf(function () { w.TwofishEncrypt("only the text"); }) === 0x8002000E, "one argument: bad parameter count");
usable("a wrong argument count");

if (failures === 0) {
  WScript.Echo("wrapper_bad_input.js: all checks passed");
  WScript.Quit(0);
}
WScript.Quit(1);
