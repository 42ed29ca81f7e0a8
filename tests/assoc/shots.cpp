/* Opens a dialog of the associations for scripts/screenshots: assocshots WHAT shows the
   association page (WHAT "page"), the extension list dialog over it ("list") or the entry
   dialog editing the first pair ("entry"), creates the file Q32_SHOT_READY once it is drawn
   and ends when the file Q32_SHOT_DONE exists (at most after a minute). Classes go to a scratch key of this process and
   the suite ini file to a temporary one, so the prefix stays as it was. */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "q32file.h"

static const char *Wanted;
static char DoneFile[MAX_PATH], ReadyFile[MAX_PATH];
static int Ticks;
static char ScratchName[64];

static HWND FindTitled(const char *title)
{
    struct Search { const char *title; HWND found; } search = {title, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM p) -> BOOL {
        auto *s = reinterpret_cast<Search *>(p);
        char text[64] = "";
        GetWindowTextA(w, text, sizeof text);
        if (IsWindowVisible(w) && lstrcmpA(text, s->title) == 0) { s->found = w; return FALSE; }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

static void Finish()
{
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegDeleteTreeA(HKEY_CURRENT_USER, ScratchName);
    ExitProcess(0);
}

/* Opens the next dialog on the way to the wanted one, then waits for the done file. */
static void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD)
{
    HWND prefs = FindTitled("Preferences"), list = FindTitled("File Extensions"),
         entry = FindTitled("Edit Extension");
    HWND shown = strcmp(Wanted, "page") == 0 ? prefs : strcmp(Wanted, "list") == 0 ? list : entry;
    if (!shown) {
        if (prefs && !list) PostMessageA(FindWindowExA(prefs, nullptr, "#32770", "File Types"), WM_COMMAND, 2601, 0);
        if (list && !entry) {
            SendDlgItemMessageA(list, 32241, LB_SETCURSEL, 0, 0);
            PostMessageA(list, WM_COMMAND, 2603, 0);
        }
        return;
    }
    if (Ticks == 0) {
        RedrawWindow(shown, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        CloseHandle(CreateFileA(ReadyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    if (GetFileAttributesA(DoneFile) != INVALID_FILE_ATTRIBUTES || ++Ticks > 600) Finish();
}

int main(int argc, char **argv)
{
    if (argc < 2 || !GetEnvironmentVariableA("Q32_SHOT_READY", ReadyFile, MAX_PATH) ||
        !GetEnvironmentVariableA("Q32_SHOT_DONE", DoneFile, MAX_PATH))
        return 2;
    Wanted = argv[1];

    char ini[MAX_PATH];
    GetTempPathA(sizeof ini, ini);
    snprintf(ScratchName, sizeof ScratchName, "Software\\q32shots_%lu", GetCurrentProcessId());
    strncat(ini, ScratchName + 9, sizeof ini - strlen(ini) - 5);
    strcat(ini, ".ini");
    SetEnvironmentVariableA("Q32_INI", ini);
    SetEnvironmentVariableA("Q32CFG_NAME", "Image Editor");
    WritePrivateProfileStringA("FIO_EXT", "JPG_USER", "JFIF;JPX;", ini);
    WritePrivateProfileStringA("FIO_EXT", "PNG_USER", "APNG;", ini);

    HKEY scratch;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ScratchName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &scratch, nullptr) != ERROR_SUCCESS)
        return 1;
    RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch);
    RegSetValueA(HKEY_CLASSES_ROOT, ".jpg", REG_SZ, "KD3.Image", 9);
    RegSetValueA(HKEY_CLASSES_ROOT, ".png", REG_SZ, "KD3.Image", 9);

    HMODULE module = LoadLibraryA("q32File.dll");
    auto show = module ? (decltype(&q32ShowPreference))(void *)GetProcAddress(module, "q32ShowPreference") : nullptr;
    if (!show) Finish();
    SetTimer(nullptr, 0, 100, Step);
    PreferenceAppInfo app = {0, 1004, "", 0};
    show(nullptr, 0, nullptr, PREF_PAGE_ASSOC | PREF_PAGE_MEMORY, &app);
    Finish();
}
