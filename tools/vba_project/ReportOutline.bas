Attribute VB_Name = "ReportOutline"
' Outline helpers for the check report. On a job sheet every test with several instance
' records is one row group: its first record is the summary row, the others fold under it.
Option Explicit

' Shows every instance record of every test on the active sheet.
Public Sub ExpandAllGroups()
    ' Summary sheets have no groups; there is nothing to unfold then.
    On Error Resume Next
    ActiveSheet.Outline.ShowLevels RowLevels:=8
End Sub

' Folds every test of the active sheet back to its first instance record.
Public Sub CollapseAllGroups()
    On Error Resume Next
    ActiveSheet.Outline.ShowLevels RowLevels:=1
End Sub
