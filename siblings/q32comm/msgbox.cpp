/* The suite's message box, window placement and help. */
#include "comm_private.h"
#include <stdio.h>
#include <stdlib.h>

int CommAppendLog(const char *envName, const char *line)
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(envName, path, sizeof path);
    if (n == 0 || n >= sizeof path) return 0;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written;
    WriteFile(file, line, lstrlenA(line), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
    return 1;
}

/******************************************************************
 *      c32ShowMb
 *
 * Shows the block's message modally, the extra text below it. When the environment
 * variable Q32COMM_MB_LOG names a file, the box is appended to it as one line
 * "id|where1|where2|where3|keep|title|text|extra" instead of being shown.
 */
extern "C" int C32API c32ShowMb(const C32MBBLOCK *block)
{
    if (!block) return 0;
    const char *title = block->title ? block->title : "";
    const char *text = block->text ? block->text : "";
    const char *extra = block->extraText ? block->extraText : "";

    char line[2048];
    snprintf(line, sizeof line, "%lu|%ld|%ld|%ld|%lu|%s|%s|%s", (unsigned long)block->stringId,
             (long)block->where1, (long)block->where2, (long)block->where3,
             (unsigned long)block->keep, title, text, extra);
    if (CommAppendLog("Q32COMM_MB_LOG", line)) return IDOK;

    char message[2048];
    if (*extra) snprintf(message, sizeof message, "%s\n\n%s", text, extra);
    else snprintf(message, sizeof message, "%s", text);
    return MessageBoxA(GetActiveWindow(), message, title, MB_OK | MB_ICONINFORMATION);
}

/******************************************************************
 *      q32MoveWindow
 *
 * Centres window on reference; with reference -1 (or null) on its owner, else on the
 * screen's work area; kept inside the work area.
 */
extern "C" int C32API q32MoveWindow(HWND window, HWND reference, int mode)
{
    if (!IsWindow(window)) return 0;
    if (reference == (HWND)(LONG_PTR)-1 || !reference) reference = GetWindow(window, GW_OWNER);

    RECT work, box, self;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    if (reference && IsWindow(reference) && IsWindowVisible(reference)) GetWindowRect(reference, &box);
    else box = work;
    GetWindowRect(window, &self);

    int w = self.right - self.left, h = self.bottom - self.top;
    int x = box.left + (box.right - box.left - w) / 2;
    int y = box.top + (box.bottom - box.top - h) / 2;
    if (x + w > work.right) x = work.right - w;
    if (y + h > work.bottom) y = work.bottom - h;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    return SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

/******************************************************************
 *      q32MyWinHelp
 *
 * The old help engine no longer exists: the request is recorded (to the file named by
 * Q32COMM_HELP_LOG, as "file|command|context") and nothing is opened.
 */
extern "C" int C32API q32MyWinHelp(HWND window, const char *helpFile, UINT command, DWORD_PTR context)
{
    char line[512];
    snprintf(line, sizeof line, "%s|%u|%lu", helpFile ? helpFile : "", command,
             (unsigned long)context);
    CommAppendLog("Q32COMM_HELP_LOG", line);
    return 1;
}
