' An argument whose text form changes the key: a VBScript class whose default property
' calls SetKey on the same Corvane.Crypt object. Each call keeps the key it started with;
' the new key (or none, after a SetKey that fails) holds from the next call on. Prints
' "corvane_key_change.vbs: all checks passed" only when every check held.
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim c : Set c = CreateObject("Corvane.Crypt")

Class KeyChanger
  Public NewKey
  Public Text
  Public Default Property Get Value
    c.SetKey NewKey
    Value = Text
  End Property
End Class

Function Changer(newKey, text)
  Dim o : Set o = New KeyChanger
  o.NewKey = newKey
  o.Text = text
  Set Changer = o
End Function

Function EncryptedUnder(key, text)
  Dim o : Set o = CreateObject("Corvane.Crypt")
  o.SetKey key
  EncryptedUnder = o.enCrypt(text)
End Function

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim folder : folder = fso.BuildPath(fso.GetSpecialFolder(2), "corvane_key_change_vbs_" & CLng(Timer * 100))
fso.CreateFolder folder
Dim plain : plain = fso.BuildPath(folder, "plain.txt")
Dim text : text = "a message of three blocks or so"
fso.CreateTextFile(plain, True).Write text

Function ReadText(path)
  ReadText = "<missing>"
  If Not fso.FileExists(path) Then Exit Function
  Dim f : Set f = fso.OpenTextFile(path, 1)
  If f.AtEndOfStream Then ReadText = "" Else ReadText = f.ReadAll
  f.Close
End Function

Sub ExpectNewKey(newKey, what)
  Dim r : r = c.enCrypt("probe")
  If IsNull(newKey) Then
    Check c.IsError = -200, what & ": no key afterwards, " & c.IsError
  Else
    Check r = EncryptedUnder(newKey, "probe"), what & ": the new key holds afterwards"
  End If
End Sub

Sub RemoveFile(path)
  If fso.FileExists(path) Then fso.DeleteFile path
End Sub

Dim changes : changes = Array(Array("ab", "z"), Array(String(100, "k") & "tail", "z"), _
  Array("ab", "a much longer key than the old one"), Array("old key", Null))
Dim change, oldKey, newKey, name, expected, fresh
For Each change In changes
  oldKey = change(0) : newKey = change(1)
  name = "old key of " & Len(oldKey) & ", new " & newKey
  expected = EncryptedUnder(oldKey, text)

  c.SetKey oldKey
  Check c.enCrypt(Changer(newKey, text)) = expected And c.IsError = 0, "enCrypt, " & name & ": " & c.IsError
  ExpectNewKey newKey, "enCrypt, " & name

  c.SetKey oldKey
  Check c.deCrypt(Changer(newKey, expected)) = text And c.IsError = 0, "deCrypt, " & name & ": " & c.IsError
  ExpectNewKey newKey, "deCrypt, " & name

  c.SetKey oldKey
  c.FileEnCrypt Changer(newKey, plain)
  Check c.IsError = 0, "FileEnCrypt, " & name & ": " & c.IsError
  ExpectNewKey newKey, "FileEnCrypt, " & name
  Set fresh = CreateObject("Corvane.Crypt")
  fresh.SetKey oldKey
  fresh.FileDeCrypt plain & ".bf"
  Check ReadText(plain & ".bf.bf") = text, "FileEnCrypt, " & name & ": the file is under the old key"
  RemoveFile plain & ".bf.bf"

  c.SetKey oldKey
  c.FileDeCrypt Changer(newKey, plain & ".bf")
  Check c.IsError = 0, "FileDeCrypt, " & name & ": " & c.IsError
  Check ReadText(plain & ".bf.bf") = text, "FileDeCrypt, " & name & ": decrypted under the old key"
  ExpectNewKey newKey, "FileDeCrypt, " & name
  RemoveFile plain & ".bf"
  RemoveFile plain & ".bf.bf"
Next
fso.DeleteFolder folder, True

If failures = 0 Then
  WScript.Echo "corvane_key_change.vbs: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
