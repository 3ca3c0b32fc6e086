// Corvane.Crypt from JScript: values passed by value, text beyond ASCII, statuses.
// Prints "corvane_crypt.js: all checks passed" only when every check held.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}

var c = new ActiveXObject("Corvane.Crypt");
check(c.IsError() === 0, "a new object reports 0");

c.SetKey("TESTKEY");
check(c.IsError() === 0, "SetKey");
var cipher = c.enCrypt("sixteen bytes!!!");
check(cipher === "BabcR7BJSc/uwpdNtHZBAg==", "known answer, got " + cipher);
check(c.deCrypt(cipher) === "sixteen bytes!!!", "deCrypt of the known answer");

// Code page 1252 holds these characters: they round-trip.
var accented = "caf" + String.fromCharCode(0xE9) + " " + String.fromCharCode(0x20AC) + "5";
check(c.deCrypt(c.enCrypt(accented)) === accented, "text beyond ASCII");
// A character the code page lacks fails without a result.
var r = c.enCrypt("x" + String.fromCharCode(0x0101));
check(c.IsError() === -102, "unrepresentable character: -102, got " + c.IsError());
check(r === undefined, "no result on failure");

// JScript passes null and undefined as Null and Empty.
r = c.enCrypt(null);
check(c.IsError() === -101, "null: -101");
r = c.enCrypt(undefined);
check(c.IsError() === 0 && c.deCrypt(r) === "", "undefined is the empty text");
check(c.deCrypt(c.enCrypt(3.5)) === "3.5", "a number is encrypted as its text");

// A zero character ends the decrypted text.
check(c.deCrypt(c.enCrypt("ab" + String.fromCharCode(0) + "cd")) === "ab", "text ends at a zero character");

c.SetKey(null);
check(c.IsError() === -200, "SetKey(null): -200");

if (failures === 0) {
  WScript.Echo("corvane_crypt.js: all checks passed");
  WScript.Quit(0);
}
WScript.Quit(1);
