' Corvane.Crypt from VBScript: every method, the statuses, by-reference and literal
' arguments, names in other letter case. Prints "corvane_crypt.vbs: all checks passed"
' only when every check held.
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim folder : folder = fso.BuildPath(fso.GetSpecialFolder(2), "corvane-vbs-" & fso.GetTempName())
fso.CreateFolder folder

Dim c : Set c = CreateObject("Corvane.Crypt")
Check c.IsError = 0, "a new object reports 0"

' Without a key every operation reports -200 and returns nothing.
Dim r : r = c.enCrypt("text")
Check c.IsError = -200, "enCrypt without a key: -200"
Check IsEmpty(r), "enCrypt without a key returns Empty"

' A known answer (key TESTKEY), with the key in a variable (passed by reference).
Dim key : key = "TESTKEY"
c.SetKey key
Check c.IsError = 0, "SetKey"
Dim plain : plain = "sixteen bytes!!!"
Dim cipher : cipher = c.enCrypt(plain)
Check cipher = "BabcR7BJSc/uwpdNtHZBAg==", "known answer, got " & cipher
Check c.deCrypt(cipher) = plain, "deCrypt of the known answer"
Check c.enCrypt("sixteen bytes!!!") = cipher, "a literal gives the same as a variable"

' Names in other letter case reach the same methods.
Check c.ENCRYPT("abc") = c.enCrypt("abc"), "ENCRYPT"
Check c.decrypt(c.EnCrypt("abc")) = "abc", "decrypt / EnCrypt"
Check c.iserror() = 0, "iserror()"

' Round trips, and the 12-character form of 1 to 8 bytes.
Dim t
For Each t In Array("", "a", "exactly8", "nine char", String(1000, "x"), "tab" & vbTab & "and CRLF" & vbCrLf)
  Check c.deCrypt(c.enCrypt(t)) = t, "round trip of a text of " & Len(t) & " characters"
Next
Check Len(c.enCrypt("12345678")) = 12, "8 characters give 12"
Check Len(c.enCrypt(12345)) = 12, "a number is encrypted as its text"
Check c.deCrypt(c.enCrypt(12345)) = "12345", "number round trip"

' Failure statuses.
r = c.deCrypt("not base64!")
Check c.IsError = -107, "bad Base64: -107, got " & c.IsError
r = c.enCrypt(Null)
Check c.IsError = -101, "Null: -101, got " & c.IsError
c.FileEnCrypt fso.BuildPath(folder, "missing.txt")
Check c.IsError = -104, "missing file: -104, got " & c.IsError
c.FileEnCrypt folder
Check c.IsError = -104, "a folder: -104, got " & c.IsError

' Files: a.txt -> a.txt.bf -> a.txt.bf.bf, identical to a.txt.
Dim path : path = fso.BuildPath(folder, "a.txt")
Dim f : Set f = fso.CreateTextFile(path, True)
f.Write "file contents, line one" & vbCrLf & "line two"
f.Close
c.FileEnCrypt path
Check c.IsError = 0, "FileEnCrypt"
Check fso.GetFile(path & ".bf").Size = 4 + 40, "encrypted size"
c.FileDeCrypt path & ".bf"
Check c.IsError = 0, "FileDeCrypt"
Check fso.OpenTextFile(path & ".bf.bf").ReadAll() = fso.OpenTextFile(path).ReadAll(), "file round trip"

' A short encrypted file: -202, nothing written.
Set f = fso.CreateTextFile(fso.BuildPath(folder, "short.bf"), True)
f.Write "xy"
f.Close
c.FileDeCrypt fso.BuildPath(folder, "short.bf")
Check c.IsError = -202, "short file: -202, got " & c.IsError
Check Not fso.FileExists(fso.BuildPath(folder, "short.bf.bf")), "nothing written for a short file"

' A failed SetKey drops the key.
c.SetKey Null
Check c.IsError = -200, "SetKey Null: -200"
r = c.enCrypt("x")
Check c.IsError = -200, "no key after a failed SetKey"
c.SetKey ""
r = c.enCrypt("x")
Check c.IsError = -200, "an empty key: -200"

fso.DeleteFolder folder, True
If failures = 0 Then
  WScript.Echo "corvane_crypt.vbs: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
