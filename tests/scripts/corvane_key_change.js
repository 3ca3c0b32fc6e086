// An argument whose text form changes the key: a JScript object whose toString calls
// SetKey on the same Corvane.Crypt object. Each call keeps the key it started with; the
// new key (or none, after a SetKey that fails) holds from the next call on. Prints
// "corvane_key_change.js: all checks passed" only when every check held.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}

var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.BuildPath(fso.GetSpecialFolder(2), "corvane_key_change_js_" + new Date().getTime());
fso.CreateFolder(folder);
var plain = fso.BuildPath(folder, "plain.txt");
var text = "a message of three blocks or so";
fso.CreateTextFile(plain, true).Write(text);

function encryptedUnder(key, t) {
  var o = new ActiveXObject("Corvane.Crypt");
  o.SetKey(key);
  return o.enCrypt(t);
}
// The text of a file, or "<missing>".
function readText(path) {
  if (!fso.FileExists(path)) return "<missing>";
  var f = fso.OpenTextFile(path, 1);
  var t = f.AtEndOfStream ? "" : f.ReadAll();
  f.Close();
  return t;
}

var c = new ActiveXObject("Corvane.Crypt");
// Its text is t; reading it gives c the key newKey first (null: a SetKey that fails).
function changer(newKey, t) {
  return { toString: function () { c.SetKey(newKey); return t; } };
}
function expectNewKey(newKey, what) {
  var r = c.enCrypt("probe");
  if (newKey === null) check(c.IsError() === -200, what + ": no key afterwards, " + c.IsError());
  else check(r === encryptedUnder(newKey, "probe"), what + ": the new key holds afterwards");
}

var changes = [["ab", "z"], [new Array(101).join("k") + "tail", "z"], ["ab", "a much longer key than the old one"],
               ["old key", null]];
for (var i = 0; i < changes.length; i++) {
  var oldKey = changes[i][0], newKey = changes[i][1], name = "old key of " + oldKey.length + ", new " + newKey;
  var expected = encryptedUnder(oldKey, text);

  c.SetKey(oldKey);
  check(c.enCrypt(changer(newKey, text)) === expected && c.IsError() === 0, "enCrypt, " + name + ": " + c.IsError());
  expectNewKey(newKey, "enCrypt, " + name);

  c.SetKey(oldKey);
  check(c.deCrypt(changer(newKey, expected)) === text && c.IsError() === 0, "deCrypt, " + name + ": " + c.IsError());
  expectNewKey(newKey, "deCrypt, " + name);

  // The file encrypted under the old key decrypts under the old key with a fresh object.
  c.SetKey(oldKey);
  c.FileEnCrypt(changer(newKey, plain));
  check(c.IsError() === 0, "FileEnCrypt, " + name + ": " + c.IsError());
  expectNewKey(newKey, "FileEnCrypt, " + name);
  var fresh = new ActiveXObject("Corvane.Crypt");
  fresh.SetKey(oldKey);
  fresh.FileDeCrypt(plain + ".bf");
  check(readText(plain + ".bf.bf") === text, "FileEnCrypt, " + name + ": the file is under the old key");
  if (fso.FileExists(plain + ".bf.bf")) fso.DeleteFile(plain + ".bf.bf");

  c.SetKey(oldKey);
  c.FileDeCrypt(changer(newKey, plain + ".bf"));
  check(c.IsError() === 0, "FileDeCrypt, " + name + ": " + c.IsError());
  check(readText(plain + ".bf.bf") === text, "FileDeCrypt, " + name + ": decrypted under the old key");
  expectNewKey(newKey, "FileDeCrypt, " + name);
  if (fso.FileExists(plain + ".bf")) fso.DeleteFile(plain + ".bf");
  if (fso.FileExists(plain + ".bf.bf")) fso.DeleteFile(plain + ".bf.bf");
}
fso.DeleteFolder(folder, true);

if (failures === 0) {
  WScript.Echo("corvane_key_change.js: all checks passed");
  WScript.Quit(0);
}
WScript.Quit(1);
