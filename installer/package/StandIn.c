/* One source for every program, library and driver image the installer
 * carries in place of the real ones: each is built without a C runtime and
 * carries a version resource, which is all the installer ever reads of them.
 * A program says what it stands in for when it is started. */
#include <windows.h>

#if defined(STANDIN_PROGRAM)
void WINAPI StandInStart(void) {
    MessageBoxA(NULL, STANDIN_DESCRIPTION " (installer test build)", STANDIN_NAME, MB_OK | MB_ICONINFORMATION);
    ExitProcess(0);
}
#elif defined(STANDIN_LIBRARY)
BOOL WINAPI StandInStart(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
#elif defined(STANDIN_DRIVER)
/* Never loaded: Windows would call it with the driver object and registry path. */
LONG WINAPI StandInStart(void* driverObject, void* registryPath) {
    (void)driverObject;
    (void)registryPath;
    return 0;
}
#else
#error "STANDIN_PROGRAM, STANDIN_LIBRARY or STANDIN_DRIVER"
#endif
