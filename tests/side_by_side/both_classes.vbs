' Creates Corvane.Crypt and Tamsel.Wrapper in this host and round-trips a text through each.
' One line per class: "<ProgID>: <ciphertext> <decrypted text> <status>", or
' "<ProgID>: cannot create <error number>".
Option Explicit
On Error Resume Next

Dim crypt, wrapper, secret
Set crypt = CreateObject("Corvane.Crypt")
If Err.Number <> 0 Then
  WScript.Echo "Corvane.Crypt: cannot create " & Hex(Err.Number)
  Err.Clear
Else
  crypt.SetKey "password"
  secret = crypt.enCrypt("abcdefg")
  WScript.Echo "Corvane.Crypt: " & secret & " " & crypt.deCrypt(secret) & " " & crypt.IsError
End If

Set wrapper = CreateObject("Tamsel.Wrapper")
If Err.Number <> 0 Then
  WScript.Echo "Tamsel.Wrapper: cannot create " & Hex(Err.Number)
  Err.Clear
Else
  secret = wrapper.TwofishEncrypt("hello", "key")
  WScript.Echo "Tamsel.Wrapper: " & secret & " " & wrapper.TwofishDecrypt(secret, "key") & " " & Hex(Err.Number)
End If
