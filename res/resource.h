// Resource identifiers shared by the resource script and the code.
#pragma once

// Dialog templates
#define IDD_DRIVE_PAGE      101
#define IDD_SPLASH          103
#define IDD_AGREEMENT       136
#define IDD_ABOUT           182
#define IDD_ISO_NOTICE      414
#define IDD_PROGRESS_PAGE   416
#define IDD_WELCOME_PAGE    418

// Icon group
#define IDI_APP             102

// Bitmaps
#define IDB_SPLASH               104
#define IDB_REFRESH_DISABLED     105
#define IDB_PAGE_LOGO            106
#define IDB_TITLE_BANNER         112
#define IDB_TAGLINE              123
#define IDB_SUITE_PICTURE        124
#define IDB_HOME_LINK            128
#define IDB_REFRESH              217
#define IDB_HELP                 233
#define IDB_HELP_PRESSED         234
#define IDB_REFRESH_PRESSED      246
#define IDB_REFRESH_HOVER        267
#define IDB_PANEL_MIDDLE         321
#define IDB_PANEL_LEFT           323
#define IDB_PANEL_RIGHT          324

// Embedded data (RCDATA)
#define IDR_AGREEMENT_TEXT       500
#define IDR_USER_GUIDE           501

// Controls
#define IDC_STATIC_ANY       -1
#define IDC_DRIVE_LABEL      1001
#define IDC_DRIVE_LIST       1002
#define IDC_EXTRACT_ISO      3
#define IDC_CANCEL_PAGE      4
#define IDC_MODE_ISO         1005
#define IDC_MODE_USB         1006
#define IDC_REFRESH          1008
#define IDC_DRIVE_PROGRESS   1009
#define IDC_HELP_BUTTON      1010
#define IDC_DRIVE_STATUS     1011
#define IDC_FORMAT_DISK      1012
#define IDC_SPLASH_PICTURE   1013
#define IDC_STATUS           1018
#define IDC_PROGRESS_BAR     1019
#define IDC_PAGE_TEXT        1028
#define IDC_HOME_LINK        1030
#define IDC_DECLINE          1034
#define IDC_ACCEPT           1035
#define IDC_AGREEMENT_EDIT   1037
#define IDC_DONT_SHOW        1098
#define IDC_SAVE_AGREEMENT   1119
#define IDC_PRINT_AGREEMENT  1135
#define IDC_NOTICE_ICON      1196
#define IDC_VERSION_LINE     1278
#define IDC_NOTICE_TEXT      1311
