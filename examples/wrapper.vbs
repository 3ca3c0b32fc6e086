' Tamsel.Wrapper from VBScript: cscript //nologo wrapper.vbs
' The wrapper drives two outside components, "Tamsel.clsTwofish" and "Ostrel.Base64Func",
' which must be registered for the host's bitness. A failure is an error whose
' Err.Description names the step that failed.
Option Explicit

Dim wrapper : Set wrapper = CreateObject("Tamsel.Wrapper")
Dim secret, text

On Error Resume Next
secret = wrapper.TwofishEncrypt("attack at dawn", "my key")
If Err.Number <> 0 Then
  WScript.Echo "TwofishEncrypt failed: " & Hex(Err.Number) & " " & Err.Description
  WScript.Quit 1
End If
WScript.Echo "TwofishEncrypt: " & secret

text = wrapper.TwofishDecrypt(secret, "my key")
If Err.Number <> 0 Then
  WScript.Echo "TwofishDecrypt failed: " & Hex(Err.Number) & " " & Err.Description
  WScript.Quit 1
End If
WScript.Echo "TwofishDecrypt: " & text

' Null has no text form: the call fails before any component is created.
secret = wrapper.TwofishEncrypt(Null, "my key")
WScript.Echo "TwofishEncrypt(Null): " & Hex(Err.Number) & " " & Err.Description
Err.Clear
