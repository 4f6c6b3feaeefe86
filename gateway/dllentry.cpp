/*
 * Entry point of the Windows plug-ins, called by the loader at process and
 * thread attach and detach. The file has no C runtime start-up of its own:
 * nothing is constructed or registered here, and the only work is to turn
 * thread notifications off at process attach, so that threads the host
 * creates or ends never enter the file.
 */
#include <windows.h>

extern "C" BOOL WINAPI vorn_dll_entry(HINSTANCE module, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI vorn_dll_entry(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(module);
    return TRUE;
}
