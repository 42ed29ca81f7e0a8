/* q32view's window for scripts/screenshots: viewshots FILE opens FILE in a viewer window,
   creates the file Q32_SHOT_READY once the image is drawn and ends when the file
   Q32_SHOT_DONE exists (at most after a minute). A file it cannot show is exit code 1. */
#include <windows.h>
#include "viewer.h"

int main(int argc, char **argv)
{
    char ready[MAX_PATH], done[MAX_PATH];
    if (argc < 2 || !GetEnvironmentVariableA("Q32_SHOT_READY", ready, sizeof ready) ||
        !GetEnvironmentVariableA("Q32_SHOT_DONE", done, sizeof done) ||
        !ViewerRegister(GetModuleHandleA(nullptr), true))
        return 2;
    HWND window = ViewerOpen(argv[1]);
    if (!window || ViewerFrame(window) < 0)
        return 1;
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    CloseHandle(CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int waited = 0; waited < 60000 && GetFileAttributesA(done) == INVALID_FILE_ATTRIBUTES;
         waited += 50) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(50);
    }
    return 0;
}
