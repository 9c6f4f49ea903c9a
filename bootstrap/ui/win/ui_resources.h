// Identifiers of the bootstrapper's dialog templates, their controls and its
// string table; shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS 101
#define IDD_ERROR 104

#define IDC_PROGRESS_CANCEL 1001
#define IDC_PROGRESS_STATUS 1002
#define IDC_PROGRESS_BAR 1003
#define IDC_ERROR_TEXT 1004

#define IDS_PRODUCT_NAME 102
#define IDS_CONNECTING 103
#define IDS_PERCENT_COMPLETE 104
#define IDS_DOWNLOAD_FAILED 105
