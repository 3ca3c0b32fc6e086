// Creates "Corvane.Crypt" and prints the error number in hex, or "created".
try {
  new ActiveXObject("Corvane.Crypt");
  WScript.Echo("created");
} catch (e) {
  WScript.Echo("error " + (e.number >>> 0).toString(16));
}
