' The checks every VBScript test uses; tools/run-script puts this in front of
' the test.  Wine's script host swallows script errors and exits 0, so a test
' counts its checks and is judged by its last line, "N passed, M failed".
Option Explicit
On Error Resume Next

Dim passed, failed
passed = 0
failed = 0

' Each check runs as "ok = False: ok = (test): Check name, ok", so an error in
' the test itself (which skips the rest of its statement) is seen by Check.
Sub Check(name, ok)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL " & name & ": error " & Hex(Err.Number) & " " & Err.Description
        failed = failed + 1
        Err.Clear
    ElseIf ok Then
        passed = passed + 1
    Else
        WScript.Echo "FAIL " & name
        failed = failed + 1
    End If
End Sub

' A call that had to fail: `expected` tells whether Err holds the failure wanted.
Sub CheckFailure(name, expected)
    If expected Then
        passed = passed + 1
    Else
        WScript.Echo "FAIL " & name & ": got error " & Hex(Err.Number) & " from '" & Err.Source & "': " & Err.Description
        failed = failed + 1
    End If
    Err.Clear
End Sub

Sub Summary()
    WScript.Echo passed & " passed, " & failed & " failed"
End Sub

