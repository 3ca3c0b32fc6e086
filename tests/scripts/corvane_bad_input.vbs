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

' Objects whose default value is an object: the class a script writer gets wrong
' (its default value is itself, for ever), one whose default value is such an object,
' one whose default value fails, and one whose default value is an object with a text.
Class Node
  Public Default Property Get Value
    Set Value = Me
  End Property
End Class
Class NodeOfNode
  Public Default Property Get Value
    Set Value = New Node
  End Property
End Class
Class Failing
  Public Default Property Get Value
    Err.Raise 5, "Failing", "the default value fails"
  End Property
End Class
Class Labelled
  Public Default Property Get Value
    Value = "a default value"
  End Property
End Class
Class LabelledOfLabelled
  Public Default Property Get Value
    Set Value = New Labelled
  End Property
End Class
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
  Array("Object whose default value is itself", New Node, -101), _
  Array("Object whose default value is such an object", New NodeOfNode, -101), _
  Array("Object whose default value fails", New Failing, -101), _
  Array("Object whose default value is an object with a text", New LabelledOfLabelled, 0), _
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
Set v = New LabelledOfLabelled
Check c.enCrypt(v) = c.enCrypt("a default value"), "an object's default value is its text"

' The mistake itself, as a script makes it: a variable holding the object, into every
' method. The host survives, the call gives -101 and no result.
Dim node : Set node = New Node
c.SetKey "TESTKEY"
r = "before"
r = c.enCrypt(node)
Check c.IsError = -101, "enCrypt(New Node): " & c.IsError
Check IsEmpty(r), "no result from enCrypt(New Node)"
c.SetKey node
Check c.IsError = -200, "SetKey(New Node): " & c.IsError
Usable "objects whose default value is itself"

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
