/* Forced into every file of the Windows test builds of the engine and of the
 * tests (never the program): the calls whose objects the layer counts, and
 * the socket calls that tests steer, go to win32_seams.cpp, which counts or
 * steers them and then makes the real call. So the tests that prove "nothing
 * leaked" and inject network faults run unchanged on real Win32.
 *
 * The declarations are renamed where the system headers make them, so the
 * prototypes stay the system's. They lose their import linkage, since the
 * seams are ordinary functions of the test program. */
#ifndef QV_SEAM_NAMES_H
#define QV_SEAM_NAMES_H

#define WINBASEAPI
#define WINUSERAPI
#define WINSOCK_API_LINKAGE

#define socket QvSeamSocket
#define connect QvSeamConnect
#define send QvSeamSend
#define recv QvSeamRecv
#define closesocket QvSeamCloseSocket
#define GlobalAlloc QvSeamGlobalAlloc
#define GlobalFree QvSeamGlobalFree
#define CreateThread QvSeamCreateThread
#define CloseHandle QvSeamCloseHandle
#define MessageBoxA QvSeamMessageBoxA

#endif
