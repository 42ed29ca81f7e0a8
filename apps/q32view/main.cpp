/* q32view.exe [FILE...]: a window for each file named, or an empty one. */
#include <windows.h>
#include <stdlib.h>
#include "viewer.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!ViewerRegister(instance, true)) return 1;
    int opened = 0;
    for (int i = 1; i < __argc; i++)
        if (ViewerOpen(__argv[i])) opened++;
    if (opened == 0 && !ViewerOpen(nullptr)) return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
