' Tamsel.Wrapper from VBScript: round trips with variables (passed by reference) and
' literals, arguments left unchanged, Err.Number and Err.Description on a failure, and a
' good call after it. Prints "wrapper_roundtrip.vbs: all checks passed" at the end;
' cscript reports a script error by printing nothing, so a missing line is a failure.
Option Explicit
Dim failures : failures = 0

Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim w : Set w = CreateObject("Tamsel.Wrapper")
Dim text, key, encrypted, decrypted, i

' The stand-in cipher is deterministic (CBC, zero IV), so the ciphertext is known.
text = "hello"
key = "key"
encrypted = w.TwofishEncrypt(text, key)
Check encrypted = "gGweGBvlesPjjqAgb3+/TQ==", "ciphertext of hello: " & encrypted
decrypted = w.TwofishDecrypt(encrypted, key)
Check decrypted = "hello", "round trip of hello: " & decrypted
Check text = "hello" And key = "key", "arguments changed"

Dim samples : samples = Array("", "A", "Mixed Case, punctuation; and digits 0123456789!", String(3000, "x"), 12345, Empty)
For i = 0 To UBound(samples)
  text = samples(i)
  encrypted = w.TwofishEncrypt(text, "a 16 char key!!!")
  decrypted = w.TwofishDecrypt(encrypted, "a 16 char key!!!")
  Check decrypted = CStr(text), "round trip of sample " & i & ": " & decrypted
  Check TypeName(decrypted) = "String", "result of sample " & i & " is a " & TypeName(decrypted)
Next

' A failure: Null cannot be text. Nothing is returned, the arguments stay.
Dim missing : missing = Null
On Error Resume Next
encrypted = "unchanged"
encrypted = w.TwofishEncrypt(missing, key)
Check Err.Number = &H80020005, "Err.Number for Null: " & Hex(Err.Number)
Check Err.Description = "iStr is Null and cannot be converted to text", "Err.Description: " & Err.Description
Check Err.Source = "Tamsel.Wrapper", "Err.Source: " & Err.Source
Check encrypted = "unchanged", "a failed call assigned " & encrypted
Check IsNull(missing) And key = "key", "arguments changed by a failed call"
Err.Clear
decrypted = w.TwofishDecrypt("AAAA", key)
Check Err.Number = &H80090005, "Err.Number for damaged ciphertext: " & Hex(Err.Number)
Check Err.Description = "Tamsel.clsTwofish.bDecrypt failed: the data is not whole blocks or its padding is wrong", _
  "Err.Description: " & Err.Description
Err.Clear
On Error GoTo 0

Check w.TwofishDecrypt(w.TwofishEncrypt("after the failure", key), key) = "after the failure", "call after a failure"

If failures = 0 Then
  WScript.Echo "wrapper_roundtrip.vbs: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
