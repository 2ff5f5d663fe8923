/* The window, control and dialog style values that quorvane.rc uses. Kept
 * here so the script compiles with the same meaning on every host, with or
 * without a Windows SDK. */
#ifndef QV_RC_CONSTANTS_H
#define QV_RC_CONSTANTS_H

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L

#define DS_MODALFRAME 0x0080L
#define DS_SETFONT 0x0040L
#define DS_3DLOOK 0x0004L
#define DS_FIXEDSYS 0x0008L
#define DS_CENTER 0x0800L

#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define ES_MULTILINE 0x0004L
#define ES_AUTOHSCROLL 0x0080L
#define ES_WANTRETURN 0x1000L
#define SS_LEFT 0x0000L
#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define LBS_NOINTEGRALHEIGHT 0x0100L
#define LBS_EXTENDEDSEL 0x0800L

#define IDCANCEL 2
#define IDC_STATIC (-1)

#define LANG_NEUTRAL 0x00
#define SUBLANG_NEUTRAL 0x00

#define VOS_NT_WINDOWS32 0x00040004L
#define VFT_APP 0x00000001L
#define RT_MANIFEST 24

#endif /* QV_RC_CONSTANTS_H */
