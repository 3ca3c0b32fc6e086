// Both classes of an installed package, created by ProgID in a script host: the host's
// bitness picks the DLL through its own registry view. Prints
// "installed_objects.js: all checks passed" only when every check held.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}

var c = new ActiveXObject("Corvane.Crypt");
c.SetKey("TESTKEY");
var cipher = c.enCrypt("sixteen bytes!!!");
check(c.IsError() === 0 && cipher === "BabcR7BJSc/uwpdNtHZBAg==", "Corvane.Crypt known answer, got " + cipher);
check(c.deCrypt(cipher) === "sixteen bytes!!!", "Corvane.Crypt round trip");

// The stand-ins of the outside components are deterministic: the ciphertext is known.
var w = new ActiveXObject("Tamsel.Wrapper");
var wrapped = w.TwofishEncrypt("hello", "key");
check(wrapped === "gGweGBvlesPjjqAgb3+/TQ==", "Tamsel.Wrapper known answer, got " + wrapped);
check(w.TwofishDecrypt(wrapped, "key") === "hello", "Tamsel.Wrapper round trip");

if (failures === 0) WScript.Echo("installed_objects.js: all checks passed");
WScript.Quit(failures);
