// The values a JScript program can pass, into every Corvane.Crypt method. Prints
// "corvane_bad_input.js: all checks passed" only when every check held.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}

var c = new ActiveXObject("Corvane.Crypt");
function usable(what) {
  c.SetKey("TESTKEY");
  check(c.enCrypt("sixteen bytes!!!") === "BabcR7BJSc/uwpdNtHZBAg==", "usable after " + what);
}

// Name, value, status of its text conversion.
var rows = [
  ["null", null, -101],
  ["undefined", undefined, 0],
  ["integer", 42, 0],
  ["double", 1.5, 0],
  ["boolean", true, 0],
  ["zero character", "a\u0000b", 0],
  ["outside code page 1252", "\u0101", -102],
  ["long string", new Array(100001).join("x") + "!", 0]
];

for (var i = 0; i < rows.length; i++) {
  var name = rows[i][0], value = rows[i][1], conversion = rows[i][2];
  c.SetKey("TESTKEY");
  c.SetKey(value);
  check(c.IsError() === (conversion === 0 ? 0 : -200), "SetKey(" + name + "): " + c.IsError());

  c.SetKey("TESTKEY");
  var r = c.enCrypt(value);
  check(c.IsError() === conversion, "enCrypt(" + name + "): " + c.IsError());
  if (conversion !== 0) check(r === undefined, "no result from enCrypt(" + name + ")");

  r = c.deCrypt(value);
  var expected = conversion !== 0 ? conversion : (value === undefined ? 0 : -107);
  check(c.IsError() === expected, "deCrypt(" + name + "): " + c.IsError());

  c.FileEnCrypt(value);
  check(c.IsError() === (conversion !== 0 ? conversion : -104), "FileEnCrypt(" + name + "): " + c.IsError());
  c.FileDeCrypt(value);
  check(c.IsError() === (conversion !== 0 ? conversion : -104), "FileDeCrypt(" + name + "): " + c.IsError());
  usable(name);
}

// A JScript object reaches the component as an object whose default value is its text.
c.SetKey("TESTKEY");
check(c.deCrypt(c.enCrypt({})) === "[object Object]" && c.IsError() === 0, "an object: " + c.IsError());
usable("an object");

// A missing argument raises an error the script can catch.
try {
  c.enCrypt();
  check(false, "enCrypt() without its argument raised nothing");
} catch (e) {
  check((e.number >>> 0) === 0x8002000E, "enCrypt(): " + (e.number >>> 0).toString(16));
}
usable("a call without its argument");

if (failures === 0) {
  WScript.Echo("corvane_bad_input.js: all checks passed");
  WScript.Quit(0);
}
WScript.Quit(1);
