' The values a VBScript program can pass, into every Corvane.Crypt method: each gives its
' status, nothing breaks, and the object works afterwards. Prints
' "corvane_bad_input.vbs: all checks passed" only when all held.
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim c : Set c = CreateObject("Corvane.Crypt")
Sub Usable(what)
  c.SetKey "TESTKEY"
  Check c.enCrypt("sixteen bytes!!!") = "BabcR7BJSc/uwpdNtHZBAg==", "usable after " & what
End Sub

Dim other : Set other = CreateObject("Corvane.Crypt")
' Name, value, status of its text conversion (0: has a text form; none of these texts
' is valid Base64 or an existing file, except Empty's empty text).
Dim rows : rows = Array( _
  Array("Empty", Empty, 0), _
  Array("Null", Null, -101), _
  Array("Integer", 42, 0), _
  Array("Double", 1.5, 0), _
  Array("Currency", CCur(12.34), 0), _
  Array("Date", CDate("2026-12-09 10:30:00"), 0), _
  Array("Boolean", True, 0), _
  Array("Object", other, -101), _
  Array("Array", Array(1, 2, 3), -101), _
  Array("Zero character", "a" & Chr(0) & "b", 0), _
  Array("Long string", String(100000, "x") & "!", 0))

Dim row, r, expected
For Each row In rows
  c.SetKey "TESTKEY"
  c.SetKey row(1)
  If row(2) = 0 Then expected = 0 Else expected = -200
  Check c.IsError = expected, "SetKey(" & row(0) & "): " & c.IsError

  c.SetKey "TESTKEY"
  r = Empty
  r = c.enCrypt(row(1))
  Check c.IsError = row(2), "enCrypt(" & row(0) & "): " & c.IsError
  If row(2) <> 0 Then Check IsEmpty(r), "no result from enCrypt(" & row(0) & ")"

  r = Empty
  r = c.deCrypt(row(1))
  If row(2) <> 0 Then
    expected = row(2)
  ElseIf IsEmpty(row(1)) Then
    expected = 0
  Else
    expected = -107
  End If
  Check c.IsError = expected, "deCrypt(" & row(0) & "): " & c.IsError

  If row(2) <> 0 Then expected = row(2) Else expected = -104
  c.FileEnCrypt row(1)
  Check c.IsError = expected, "FileEnCrypt(" & row(0) & "): " & c.IsError
  c.FileDeCrypt row(1)
  Check c.IsError = expected, "FileDeCrypt(" & row(0) & "): " & c.IsError
  Usable row(0)
Next

' A variable passed by reference gives the same as its value.
Dim v : v = 42
Check c.enCrypt(v) = c.enCrypt(42), "by reference and by value"

' Wrong argument counts raise an error the script can catch; the object is unaffected.
On Error Resume Next
r = c.enCrypt()
Check Err.Number = 450, "enCrypt() without its argument raises error 450 (wrong number of arguments): " & Err.Number
Err.Clear
On Error GoTo 0
Usable "a call without its argument"

If failures = 0 Then
  WScript.Echo "corvane_bad_input.vbs: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
