// Runs a batch of Corvane.Crypt calls for the conformance vectors, one object for all.
//   cscript //nologo drive_corvane.js INPUT OUTPUT
// INPUT lines: OP KEY ARG, OP one of T (enCrypt), D (deCrypt), F (FileEnCrypt), G (FileDeCrypt);
// KEY and, for T and D, ARG are UTF-16 code units in hex, four digits each ("." when empty);
// for F and G, ARG is a Windows path. OUTPUT lines: OP STATUS RESULT, RESULT the Base64 text
// (T), the text in hex (D) or "-" when there is none. The last line is "done".
var fso = new ActiveXObject("Scripting.FileSystemObject");
var args = WScript.Arguments;
var input = fso.OpenTextFile(args(0), 1);
var output = fso.CreateTextFile(args(1), true);
var crypt = new ActiveXObject("Corvane.Crypt");

function fromHex(h) {
  var s = "";
  if (h === ".") return s;
  for (var i = 0; i < h.length; i += 4) s += String.fromCharCode(parseInt(h.substr(i, 4), 16));
  return s;
}
function toHex(s) {
  var h = "";
  for (var i = 0; i < s.length; i++) h += ("0000" + s.charCodeAt(i).toString(16)).slice(-4);
  return h === "" ? "." : h;
}

while (!input.AtEndOfStream) {
  var line = input.ReadLine();
  if (line === "") continue;
  var f = line.split(" ");
  crypt.SetKey(fromHex(f[1]));
  var result;
  var text = "-";
  if (f[0] === "T") {
    result = crypt.enCrypt(fromHex(f[2]));
    if (typeof result === "string") text = result === "" ? "." : result;
  } else if (f[0] === "D") {
    result = crypt.deCrypt(fromHex(f[2]));
    if (typeof result === "string") text = toHex(result);
  } else if (f[0] === "F") {
    crypt.FileEnCrypt(f[2]);
  } else if (f[0] === "G") {
    crypt.FileDeCrypt(f[2]);
  }
  output.WriteLine(f[0] + " " + crypt.IsError() + " " + text);
}
output.WriteLine("done");
output.Close();
WScript.Quit(0);
