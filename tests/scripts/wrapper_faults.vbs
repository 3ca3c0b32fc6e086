' Tamsel.Wrapper from VBScript while the stand-in Twofish component refuses creation
' (TAMSEL_FIXTURE_FAULTS=Tamsel.clsTwofish=refuse): both methods fail with the step named
' in Err.Description. Prints "wrapper_faults.vbs: all checks passed" at the end.
Option Explicit
Dim failures : failures = 0

Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim w : Set w = CreateObject("Tamsel.Wrapper")
Dim result
On Error Resume Next
result = w.TwofishEncrypt("text", "key")
Check Err.Number = &H80070005, "TwofishEncrypt Err.Number: " & Hex(Err.Number)
Check Err.Description = "Tamsel.clsTwofish could not be created: access denied", "TwofishEncrypt Err.Description: " & Err.Description
Check IsEmpty(result), "TwofishEncrypt returned something"
Err.Clear
result = w.TwofishDecrypt("gGweGBvlesPjjqAgb3+/TQ==", "key")
Check Err.Number = &H80070005, "TwofishDecrypt Err.Number: " & Hex(Err.Number)
Check Err.Description = "Tamsel.clsTwofish could not be created: access denied", "TwofishDecrypt Err.Description: " & Err.Description
Err.Clear
On Error GoTo 0

If failures = 0 Then
  WScript.Echo "wrapper_faults.vbs: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
