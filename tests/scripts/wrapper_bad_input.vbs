' The values a VBScript program can pass, into both Tamsel.Wrapper methods and both
' arguments: each gives its error number (0: success), nothing breaks, and the object
' works afterwards. Prints "wrapper_bad_input.vbs: all checks passed" at the end.
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim w : Set w = CreateObject("Tamsel.Wrapper")
Sub Usable(what)
  Check w.TwofishDecrypt(w.TwofishEncrypt("still works", "key"), "key") = "still works", "usable after " & what
End Sub

Const TypeMismatch = &H80020005
' The cipher component refuses keys longer than 32 bytes; its error is passed on.
Const KeyTooLong = &H80070057
Dim other : Set other = CreateObject("Tamsel.Wrapper")

' Objects whose default value is an object: the class a script writer gets wrong (its
' default value is itself, for ever), one whose default value is such an object, one
' whose default value fails, and one whose default value is an object with a text.
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
' Name, value, error of its coercion to text (0: it has a text form), its text,
' error when used as the key.
Dim rows : rows = Array( _
  Array("Empty", Empty, 0, "", 0), _
  Array("Null", Null, TypeMismatch, "", TypeMismatch), _
  Array("Integer", 42, 0, "42", 0), _
  Array("Double", 1.5, 0, CStr(1.5), 0), _
  Array("Currency", CCur(12.34), 0, CStr(CCur(12.34)), 0), _
  Array("Date", CDate("2026-12-09"), 0, CStr(CDate("2026-12-09")), 0), _
  Array("Boolean", True, 0, "-1", 0), _
  Array("Object", other, TypeMismatch, "", TypeMismatch), _
  Array("Object whose default value is itself", New Node, TypeMismatch, "", TypeMismatch), _
  Array("Object whose default value is such an object", New NodeOfNode, TypeMismatch, "", TypeMismatch), _
  Array("Object whose default value is an object with a text", New LabelledOfLabelled, 0, "a default value", 0), _
  Array("Array", Array(1, 2, 3), TypeMismatch, "", TypeMismatch), _
  Array("Zero character", "a" & Chr(0) & "b", 0, "a" & Chr(0) & "b", 0), _
  Array("Long string", String(100000, "x"), 0, String(100000, "x"), KeyTooLong))

Dim row, r, number
On Error Resume Next
For Each row In rows
  ' As the text to encrypt.
  Err.Clear
  r = w.TwofishEncrypt(row(1), "key")
  number = Err.Number
  Check number = row(2), "TwofishEncrypt(" & row(0) & ", key): " & Hex(number)
  If number = 0 Then Check w.TwofishDecrypt(r, "key") = row(3), "round trip of " & row(0)

  ' As the key: the same key decrypts.
  Err.Clear
  r = w.TwofishEncrypt("secret", row(1))
  number = Err.Number
  Check number = row(4), "TwofishEncrypt(secret, " & row(0) & "): " & Hex(number)
  If number = 0 Then Check w.TwofishDecrypt(r, row(1)) = "secret", "decrypt with " & row(0) & " as the key"

  ' As the text to decrypt: none of them is Base64 of a ciphertext.
  Err.Clear
  r = w.TwofishDecrypt(row(1), "key")
  number = Err.Number
  If row(2) <> 0 Then
    Check number = row(2), "TwofishDecrypt(" & row(0) & ", key): " & Hex(number)
  Else
    Check number <> 0, "TwofishDecrypt(" & row(0) & ", key) failed"
  End If
  Check Err.Description <> "" Or number = 0, "a description for TwofishDecrypt(" & row(0) & ")"
  Usable row(0)
Next

' The description names the kind of value in the words of VBScript.
Dim kinds : kinds = Array( _
  Array("Array", Array(1, 2), "iStr is an array of Variant and cannot be converted to text"), _
  Array("Nothing", Nothing, "iStr is Nothing and cannot be converted to text"), _
  Array("Object", other, "iStr is an object without a default value and cannot be converted to text"), _
  Array("Node", New Node, "iStr is an object whose default value never gives a plain value " & _
    "(objects more than 8 deep) and cannot be converted to text"))
For Each row In kinds
  Err.Clear
  r = w.TwofishEncrypt(row(1), "key")
  Check Err.Number = TypeMismatch And Err.Description = row(2), _
    "the description for " & row(0) & ": " & Hex(Err.Number) & " " & Err.Description
Next

' A default value that fails: the call fails with the script's own error (5, which VBScript
' shows without its facility) and names the cause; the error's own description follows
' where the script engine passes it on (Wine's passes the number alone).
Dim failing : Set failing = New Failing
Const DefaultValueFailed = "iStr is an object whose default value could not be read: "
Err.Clear
r = w.TwofishEncrypt(failing, "key")
number = Err.Number
Check Left(Err.Description, Len(DefaultValueFailed)) = DefaultValueFailed And _
  (number = 5 Or number = &H800A0005), "a failing default value: " & Hex(number) & " " & Err.Description
Usable "a failing default value"

' Wrong argument counts: VBScript's error 450.
Err.Clear
r = w.TwofishEncrypt("only the text")
Check Err.Number = 450, "one argument: " & Err.Number
Err.Clear
On Error GoTo 0
Usable "wrong argument counts"

' A variable (passed by reference) is left as it was.
Dim text : text = "unchanged"
r = w.TwofishEncrypt(text, "key")
Check text = "unchanged", "the argument variable is unchanged"

If failures = 0 Then
  WScript.Echo "wrapper_bad_input.vbs: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
