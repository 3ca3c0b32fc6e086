#!/usr/bin/env python3
"""Turns a classic ASP page into a VBScript file that cscript can run.

  asp_page.py PAGE SITE_ROOT OUT

There is no IIS under Wine. The page's own code runs unchanged, in the real VBScript
engine and with the real components; only ASP's intrinsic objects are stand-ins:
Server.CreateObject creates the object as CreateObject does, Server.MapPath maps a path
of the site to a file under SITE_ROOT (a Windows path), Response.Write prints, one line
per CR LF. Text outside <% %> is written as it stands; <%@ %> directives are dropped and
Option Explicit moves to the top, where VBScript wants it.
"""
import os
import re
import sys

page_path, site_root, out_path = sys.argv[1:4]
with open(page_path, encoding="ascii") as f:
    page = f.read()

STAND_INS = r'''
Class AspResponse
  Private pending
  Public ContentType
  Public Sub Write(text)
    pending = pending & text
    Dim at : at = InStr(pending, vbCrLf)
    Do While at > 0
      WScript.Echo Left(pending, at - 1)
      pending = Mid(pending, at + 2)
      at = InStr(pending, vbCrLf)
    Loop
  End Sub
  Public Sub Flush()
    If Len(pending) > 0 Then WScript.Echo pending
    pending = ""
  End Sub
End Class

Class AspServer
  Public Function CreateObject(progId)
    Set CreateObject = WScript.CreateObject(progId)
  End Function
  Public Function MapPath(path)
    MapPath = "{root}\" & Replace(path, "/", "\")
  End Function
End Class

Dim Response : Set Response = New AspResponse
Dim Server : Set Server = New AspServer
'''.replace("{root}", site_root.replace('"', '""'))

option_explicit = False
body = []
for literal, code in re.findall(r"(.*?)(?:<%(.*?)%>|$)", page, re.S):
    if literal.strip("\r\n"):
        body.append('Response.Write "%s"' % literal.replace('"', '""').replace("\r", "").replace("\n", '" & vbCrLf & "'))
    if not code or code.startswith("@"):
        continue
    if code.startswith("="):
        body.append("Response.Write (%s)" % code[1:].strip())
        continue
    if re.fullmatch(r"\s*Option\s+Explicit\s*", code, re.I):
        option_explicit = True
        continue
    body.append(code)

os.makedirs(os.path.dirname(os.path.abspath(out_path)), exist_ok=True)
with open(out_path, "w", encoding="ascii", newline="\r\n") as f:
    if option_explicit:
        f.write("Option Explicit\n")
    f.write(STAND_INS)
    f.write("\n".join(body).replace("\r\n", "\n"))
    f.write("\nResponse.Flush\n")
