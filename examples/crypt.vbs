' Corvane.Crypt from VBScript under Windows Script Host: cscript //nologo crypt.vbs
' No method raises an error: each leaves a status number, so read IsError after every call.
Option Explicit

Dim crypt : Set crypt = CreateObject("Corvane.Crypt")

' Ends the script when the last call failed, naming it and its status.
Sub Require(what)
  If crypt.IsError <> 0 Then
    WScript.Echo what & " failed: status " & crypt.IsError
    WScript.Quit 1
  End If
End Sub

crypt.SetKey "my secret key"
Require "SetKey"

Dim secret : secret = crypt.enCrypt("Meet me at noon.")
Require "enCrypt"
WScript.Echo "enCrypt: " & secret

Dim text : text = crypt.deCrypt(secret)
Require "deCrypt"
WScript.Echo "deCrypt: " & text

' Files are named by full path (a relative one resolves against the host's current
' folder). The output is the input path with ".bf" appended, for decryption too.
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim folder : folder = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName())
fso.CreateFolder folder
Dim report : report = fso.BuildPath(folder, "report.txt")
With fso.CreateTextFile(report)
  .Write "Quarterly figures: 12, 17, 23."
  .Close
End With

crypt.FileEnCrypt report
Require "FileEnCrypt"
WScript.Echo "FileEnCrypt: report.txt.bf, " & fso.GetFile(report & ".bf").Size & " bytes"

crypt.FileDeCrypt report & ".bf"
Require "FileDeCrypt"
WScript.Echo "FileDeCrypt: report.txt.bf.bf, """ & fso.OpenTextFile(report & ".bf.bf").ReadAll & """"

' A failure is a status, not an error: a missing file gives -104 and writes nothing.
crypt.FileEnCrypt fso.BuildPath(folder, "missing.txt")
WScript.Echo "FileEnCrypt of a missing file: status " & crypt.IsError

fso.DeleteFolder folder
