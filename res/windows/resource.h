// The numbers of Panoview's Windows resources and of the controls in its
// dialog templates. The controllers name the same numbers in C++
// (app/PanoviewDlg.h, cloud/LoginDlg.h, settings/SystemSet.h); the template
// suite checks that both agree.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_PANOVIEW 102
#define IDR_MAINFRAME 128
#define IDR_TRAY_MENU 129
#define IDD_LOGIN 130
#define IDB_LOGIN_BACKGROUND 131
#define IDD_SETTINGS 132

// Login dialog (130).
#define IDC_LOGIN_ACCOUNT 1000
#define IDC_LOGIN_PASSWORD 1001

// Settings dialog (132).
#define IDC_SERVICE_ADDRESS 1001
#define IDC_PRIMARY_DISPLAY 1002
#define IDC_EXTENDED_DISPLAY 1003
#define IDC_SITE_ADDRESS 1004
#define IDC_EXTENDED_LIST 1005
#define IDC_PRIMARY_NAME 1006
#define IDC_PAGE_MACHINE_STATUS 1007
#define IDC_AREA_NAMES 1008
#define IDC_PAGE_KNITTING_RECORD 1009
#define IDC_PAGE_ORDER_PROGRESS 1010
#define IDC_PAGE_WORKSHOP_EFFICIENCY 1011
#define IDC_MACHINE_TYPE 1012
#define IDC_ACCOUNT 1013
#define IDC_PAGE_FACTORY_OVERVIEW 1014
#define IDC_KNITTING_RECORD_PARAMETERS 1015
#define IDC_ORDER_PROGRESS_PARAMETERS 1016
#define IDC_WORKSHOP_EFFICIENCY_PARAMETERS 1017

// The tray menu (129).
#define ID_TRAY_LOGIN 32772
#define ID_TRAY_ABOUT 32774
#define ID_TRAY_EXIT 32776
#define ID_TRAY_SETTINGS 32777
