' Corvane.Crypt from VBScript: a string round trip, a file round trip, a status number.
Option Explicit

Dim crypt : Set crypt = CreateObject("Corvane.Crypt")
crypt.SetKey "my secret key"

Dim secret : secret = crypt.enCrypt("Meet me at the usual place at noon.")
WScript.Echo "enCrypt  -> " & secret & "   (IsError " & crypt.IsError & ")"
WScript.Echo "deCrypt  -> " & crypt.deCrypt(secret) & "   (IsError " & crypt.IsError & ")"

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim path : path = fso.BuildPath(fso.GetSpecialFolder(2), "corvane-demo.txt")
With fso.CreateTextFile(path, True)
  .Write "Quarterly figures: 12, 17, 23."
  .Close
End With
crypt.FileEnCrypt path
WScript.Echo "FileEnCrypt " & path & " -> " & path & ".bf (" & fso.GetFile(path & ".bf").Size & _
             " bytes, IsError " & crypt.IsError & ")"
crypt.FileDeCrypt path & ".bf"
WScript.Echo "FileDeCrypt " & path & ".bf -> " & path & ".bf.bf: """ & _
             fso.OpenTextFile(path & ".bf.bf").ReadAll() & """ (IsError " & crypt.IsError & ")"

crypt.FileDeCrypt fso.BuildPath(fso.GetSpecialFolder(2), "no-such-file.bf")
WScript.Echo "FileDeCrypt of a missing file: IsError " & crypt.IsError & " (-104: cannot open the input)"

fso.DeleteFile path : fso.DeleteFile path & ".bf" : fso.DeleteFile path & ".bf.bf"
