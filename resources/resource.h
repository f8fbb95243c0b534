// Resource identifiers shared by the resource scripts and the dialog logic.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_ORVEXUPDATE_DIALOG 102
#define IDB_BACKGROUND 104
#define IDD_SERIALNUMBER 105
#define IDR_MAINFRAME 128

#define IDC_UNITS 1001
#define IDC_SERIAL 1002
#define IDC_PCBREV 1003
#define IDC_CURRENT_VERSION 1004
#define IDC_CURRENT_DATE 1005
#define IDC_NEW_VERSION 1006
#define IDC_NEW_DATE 1007
#define IDC_PROGRESS 1008
#define IDC_UPDATE 1009
#define IDC_NOTICE1 1010
#define IDC_NOTICE2 1011
#define IDC_NOTICE3 1012
#define IDC_DONT_INTERRUPT 1013
#define IDC_PROGRAMMING 1014
#define IDC_CONGRATULATIONS 1015
#define IDC_ALT_VERSION 1016
#define IDC_ALT_DATE 1017
#define IDC_ALT_VERSION_LABEL 1018
#define IDC_ALT_DATE_LABEL 1019
#define IDC_MANUFACTURE_DATE 1020

// The serial-number dialog's edit field.
#define IDC_SERIAL_EDIT 1002

#define IDS_ABOUTBOX_TEXT "&About Orvex Firmware Update..."
