/* Dialog templates and control ids of the viewer window (shared with the
   resource script, so plain #defines). */
#ifndef KESTRIN_UI_RESOURCE_H
#define KESTRIN_UI_RESOURCE_H

#define IDD_VIEWER_HGP 101
#define IDD_VIEWER_MS 102
#define IDD_VIEWER_DF 103

#define IDC_INFO_TEXT 1003
#define IDC_CLOSE 1007
#define IDC_CH1 1008
#define IDC_CH2 1009
#define IDC_CH3 1010
#define IDC_CLOCK 1011
#define IDC_CH4 1012
#define IDC_CH5 1013
#define IDC_CH6 1014
#define IDC_CH7 1015
#define IDC_CH8 1016
#define IDC_CH9 1017
#define IDC_CH10 1018
#define IDC_CH11 1019
#define IDC_CH12 1020
#define IDC_PRESENT_FOLLOWING 1021
#define IDC_RECORD_REQUEST 1022
#define IDC_ONESEG_RECORD 1023

/* The caption view and the viewer's menu item that opens it. */
#define IDD_CAPTIONS 110
#define IDC_CAPTION_CURRENT 1110
#define IDC_CAPTION_LINES 1111
#define IDC_CAPTION_HOLD 1112
#define IDM_VIEWER_CAPTIONS 1119

/* The programme guide: its dialog, controls, and the viewer's menu item
   that opens it. */
#define IDD_GUIDE 111
#define IDC_GUIDE_OPEN 1100
#define IDC_GUIDE_GRID 1101
#define IDC_GUIDE_DETAILS 1102
#define IDC_GUIDE_REQUEST 1103
#define IDC_GUIDE_DATES 1104
#define IDC_GUIDE_STATUS 1105
#define IDC_GUIDE_LEGEND 1106

#endif
