// Identifiers of the resources in kl395.rc, shared by the resource script and the C++ code.
// Only #define lines belong here: kl395-rcgen reads this file as well.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102
#define IDD_PASSWORD 133

// Strings and the system-menu command
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

// Icons
#define IDR_MAINFRAME 128
#define IDI_LAMP_RED 131
#define IDI_LAMP_OFF 132
#define IDI_LAMP_GREEN 134

// Controls of IDD_MAIN
#define IDC_PORT_COMBO 1000
#define IDC_BAUD_COMBO 1001
#define IDC_ADDRESS_EDIT 1002
#define IDC_SEARCH_1200 1003
#define IDC_SEARCH_2400 1004
#define IDC_SEARCH_4800 1005
#define IDC_SEARCH_9600 1006
#define IDC_SEARCH_19200 1007
#define IDC_SEARCH_BUTTON 1008
#define IDC_SEARCH_RESULT 1009
#define IDC_NEW_ADDRESS_EDIT 1010
#define IDC_SET_ADDRESS 1011
#define IDC_NEW_BAUD_COMBO 1012
#define IDC_SET_BAUD 1013
#define IDC_PERIOD_EDIT 1014
#define IDC_ACQUIRE_BUTTON 1015
#define IDC_VOLTAGE_VALUE 1016
#define IDC_SUCCESS_COUNT 1017
#define IDC_FAILURE_COUNT 1018
#define IDC_LEAK_LAMP 1020
#define IDC_LEAK_TEXT 1021
#define IDC_SENSITIVITY_NOTE 1022
#define IDC_SENSITIVITY_COMBO 1023
#define IDC_READ_SENSITIVITY 1024
#define IDC_SET_SENSITIVITY 1025
#define IDC_READ_VERSION 1026
#define IDC_FACTORY_BUTTON 1027
#define IDC_VERSION_TEXT 1028
#define IDC_VOLTAGE_LABEL 1030
#define IDC_HIDDEN_DEFAULT 1031
#define IDC_PROBE_LAMP 1032
#define IDC_OPTICAL_LAMP 1033
#define IDC_OPTICAL_TEXT 1034
#define IDC_PROBE_TEXT 1035

// Controls of IDD_PASSWORD
#define IDC_PASSWORD_EDIT 1029
