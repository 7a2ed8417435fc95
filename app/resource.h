// Resource numbers of the Windows build, shared by app/CheckLUM.rc and the
// dialog code.
#pragma once

#define IDD_CHECKLUM_DIALOG 102  // the progress dialog
#define IDR_MAINFRAME 128        // the program's icon
#define IDC_STATUS_LINE 1000     // static text: the status line
#define IDC_DETAIL_LINE 1001     // static text: the detail line
