// Resource and command ids of the monitor window. Used by C++ and the resource script.
#pragma once

#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109

#define IDD_ABOUTBOX 103
#define IDI_QUELLCORE 107
#define IDI_SMALL 108
#define IDC_QUELLCORE 109  // menu and accelerator table
#define IDR_HELP_FILE 115  // the compiled help, raw data

#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_OPTIONS 110
#define IDC_STOP_SERVICE 113
#define IDC_START_SERVICE 114
#define IDM_HELP 116
#define IDC_INSTALL_SERVICE 117
#define IDM_SPARE_FRONT 118
#define IDM_OPEN_WINDOW 119  // the notification icon's "Open Quellcore", and a second start's
#define IDM_NEXT_PAGE 123  // Ctrl+Tab, Ctrl+PgDn
#define IDM_PREVIOUS_PAGE 124  // Ctrl+Shift+Tab, Ctrl+PgUp

// The notification icon's states: holding something, holding nothing, service stopped.
#define IDI_TRAY_HOLDING 120
#define IDI_TRAY_IDLE 121
#define IDI_TRAY_STOPPED 122
