<%@ Language="VBScript" %>
<% Option Explicit %>
<%
' Corvane.Crypt in a classic ASP page.
' - The object is apartment-threaded: create it in the page that uses it, never in
'   Application or Session (IIS refuses that with ASP 0197).
' - No method raises an error: read IsError after every call.
' - Name files by full path through Server.MapPath: a relative path would resolve
'   against the worker process's current folder (C:\Windows\System32\inetsrv).
'   The application pool's identity needs modify rights on the folder, because the
'   output is written to a temporary file beside it and then moved into place.
Response.ContentType = "text/plain"

Dim crypt : Set crypt = Server.CreateObject("Corvane.Crypt")

' True when the last call failed; writes its name and status.
Function Failed(what)
  Failed = (crypt.IsError <> 0)
  If Failed Then Response.Write what & " failed: status " & crypt.IsError & vbCrLf
End Function

crypt.SetKey "my secret key"   ' in production, read the key from a protected place
If Not Failed("SetKey") Then
  Dim secret : secret = crypt.enCrypt("Meet me at noon.")
  If Not Failed("enCrypt") Then Response.Write "enCrypt: " & secret & vbCrLf
  Dim text : text = crypt.deCrypt(secret)
  If Not Failed("deCrypt") Then Response.Write "deCrypt: " & text & vbCrLf

  ' A report that the application saved; its encrypted copy goes beside it.
  Dim fso : Set fso = Server.CreateObject("Scripting.FileSystemObject")
  Dim report : report = Server.MapPath("App_Data/report.txt")
  With fso.CreateTextFile(report, True)
    .Write "Quarterly figures: 12, 17, 23."
    .Close
  End With
  crypt.FileEnCrypt report
  If Not Failed("FileEnCrypt") Then
    Response.Write "FileEnCrypt: App_Data/report.txt.bf, " & fso.GetFile(report & ".bf").Size & " bytes" & vbCrLf
    fso.DeleteFile report
  End If
End If
Set crypt = Nothing
%>
