/* The display page: screen gamma and the display flags, with a live gamma test square. */
#include "prefs.h"
#include "q32base.h"
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <new>

namespace {

enum {
    GammaEdit = 2001, Square = 2200, HiColorLabel = 2201, PaletteLabel1 = 2202,
    PaletteLabel2 = 2203, GammaUpDown = 2401, DitherBox = 2501, GammaBox = 2504,
    Slider = 32277, NeutralGamma = 180, MaxGamma = 799,
};

/* Key names (common-library strings) of flags 0 to 3. */
const UINT FlagKeys[4] = {12011, 12008, 12009, 12010};
const int FlagDefaults[4] = {1, 0, 1, 1};

/* One display page's state, held by the page (DWLP_USER) from WM_INITDIALOG to
   WM_DESTROY, so that two pages can coexist. */
struct DisplayState {
    int openingGamma = 0, openingFlag3 = 0;
    int editedGamma = NeutralGamma;
    bool changed = false;
    HPALETTE testPalette = nullptr;
    BYTE *testImage = nullptr;
    RECT squareRect = {};
    int side = 0;
};

DisplayState *StateOf(HWND page) { return (DisplayState *)GetWindowLongPtrA(page, DWLP_USER); }

void IniName(UINT id, char *buffer) { c32GetString(id, buffer, 16); }

int ReadGamma()
{
    char section[16], key[16];
    IniName(12002, section);
    IniName(12003, key);
    return (int)GetPrivateProfileIntA(section, key, NeutralGamma, SuiteIniPath);
}

void NotifyPalsModule(int gamma)
{
    char saved[Q32_MAX_NAME] = "";
    DWORD n = GetCurrentDirectoryA(sizeof saved, saved);
    char path[Q32_MAX_NAME] = "", folder[Q32_MAX_NAME] = "";
    DWORD m = GetModuleFileNameA(OwnModule, path, sizeof path);
    if (m > 0 && m < sizeof path) {
        qfdSplitPathname(path, nullptr, folder);
        SetCurrentDirectoryA(folder);
    }
    if (HMODULE fido = Sys.loadLibrary("Q32FIDO.DLL")) {
        typedef int(WINAPI * NotifyEntry)(DWORD, int, int, int, void *, int);
        if (auto notify = (NotifyEntry)(void *)GetProcAddress(fido, "qfdNotifyPals")) {
            DWORD block[4] = {(DWORD)gamma, (DWORD)gamma, (DWORD)gamma, 0};
            notify(GetCurrentProcessId(), 0, 0, 32, block, sizeof block);
        }
        FreeLibrary(fido);
    }
    if (n > 0 && n < sizeof saved) SetCurrentDirectoryA(saved);
}

void DrawSquare(const DisplayState &state, HDC dc)
{
    if (state.testImage && state.testPalette) {
        int g = state.editedGamma * 18 / 10;
        disp32NewScreenGamma(g, g, g);
        HPALETTE corrected = disp32GammaColorPalette(state.testPalette, 0);
        HDISP32SHOW show = nullptr;
        const RECT &square = state.squareRect;
        if (corrected && disp32ShowInitEx(&show, dc, 8, square.left, square.top, square.right,
                                          square.bottom, corrected, 0, 0, 0, 0)) {
            disp32ShowData(show, state.testImage, 0, 0, state.side, state.side);
            disp32ShowEnd(show);
        }
        if (corrected) DeleteObject(corrected);
        DWORD flag3 = 0, gamma = NeutralGamma;
        GetDispData(nullptr, nullptr, nullptr, &flag3, &gamma);
        int stored = flag3 ? (int)gamma : NeutralGamma;
        disp32NewScreenGamma(stored, stored, stored);
    }
    RECT frame = state.squareRect;
    InflateRect(&frame, 1, 1);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    MoveToEx(dc, frame.left, frame.bottom - 1, nullptr);
    LineTo(dc, frame.left, frame.top);
    LineTo(dc, frame.right, frame.top);
    SelectObject(dc, GetStockObject(WHITE_PEN));
    MoveToEx(dc, frame.right - 1, frame.top + 1, nullptr);
    LineTo(dc, frame.right - 1, frame.bottom - 1);
    LineTo(dc, frame.left, frame.bottom - 1);
    SelectObject(dc, oldPen);
}

void BuildTestImage(DisplayState &state)
{
    const int side = state.side;
    BYTE *image = (BYTE *)malloc((size_t)side * side);
    state.testImage = image;
    if (image) {
        for (int y = 0; y < side; y++)
            for (int x = 0; x < side; x++)
                image[(size_t)y * side + x] = y < side / 2 ? (BYTE)(((x + y) & 1) ? 0 : 2) : 1;
    }
    struct { WORD version, count; PALETTEENTRY entries[3]; } log = {0x300, 3,
        {{0, 0, 0, 0}, {0x7F, 0x7F, 0x7F, 0}, {0xFF, 0xFF, 0xFF, 0}}};
    state.testPalette = CreatePalette(reinterpret_cast<LOGPALETTE *>(&log));
}

void Release(DisplayState &state)
{
    if (state.testPalette) DeleteObject(state.testPalette);
    state.testPalette = nullptr;
    free(state.testImage);
    state.testImage = nullptr;
}

/* Shows value (hundredths) in the edit and redraws the square with it. */
void SetGammaText(DisplayState &state, HWND edit, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d.%02d", value / 100, value % 100);
    SetWindowTextA(edit, text);
    state.editedGamma = value;
    InvalidateRect(GetParent(edit), &state.squareRect, FALSE);
}

BOOL InitPage(HWND page, LPARAM parameter)
{
    DisplayState *created = new (std::nothrow) DisplayState;
    if (!created) return FALSE;
    SetWindowLongPtrA(page, DWLP_USER, (LONG_PTR)created);
    DisplayState &state = *created;
    if (parameter) DisplaySettingsBlock = reinterpret_cast<DWORD *>(parameter);
    DWORD flags[4] = {}, gamma = NeutralGamma;
    GetDispData(&flags[0], &flags[1], &flags[2], &flags[3], &gamma);
    state.openingGamma = (int)gamma;
    state.openingFlag3 = flags[3] != 0;

    DISP32DEVINFO info = {};
    disp32GetDevInfo(&info);
    if (info.kind != DISP32_HICOLOR) {
        EnableWindow(GetDlgItem(page, HiColorLabel), FALSE);
        EnableWindow(GetDlgItem(page, DitherBox), FALSE);
    }
    if (info.kind != DISP32_PALETTE) {
        for (int id : {(int)PaletteLabel1, (int)PaletteLabel2, DitherBox + 1, DitherBox + 2})
            EnableWindow(GetDlgItem(page, id), FALSE);
    }
    SetGammaText(state, GetDlgItem(page, GammaEdit), (int)gamma);
    SendDlgItemMessageA(page, GammaEdit, EM_LIMITTEXT, 4, 0);
    SendDlgItemMessageA(page, GammaUpDown, UDM_SETRANGE32, 1, MaxGamma);
    SendDlgItemMessageA(page, GammaUpDown, UDM_SETPOS32, 0, (LPARAM)gamma);
    SendDlgItemMessageA(page, Slider, 0x531, 0, MaxGamma);
    SendDlgItemMessageA(page, Slider, 0x533, 0, 1);
    SendDlgItemMessageA(page, Slider, 0x52F, 0, (LPARAM)gamma);

    RECT &square = state.squareRect;
    GetWindowRect(GetDlgItem(page, Square), &square);
    MapWindowPoints(nullptr, page, (POINT *)&square, 2);
    state.side = (square.right - square.left + 3) & ~3;
    square.right = square.left + state.side;
    square.bottom = square.top + state.side;
    BuildTestImage(state);

    for (int i = 0; i < 4; i++) CheckDlgButton(page, DitherBox + i, flags[i] ? BST_CHECKED : BST_UNCHECKED);
    state.changed = false;
    return TRUE;
}

int ParseEdit(HWND page, int *error)
{
    char text[11] = "";
    GetDlgItemTextA(page, GammaEdit, text, sizeof text);
    *error = 0;
    return ParseGamma(text, error);
}

int Validate(HWND page, const DisplayState &state)
{
    if (!state.changed) return 0;
    int error = 0, gamma = ParseEdit(page, &error);
    if (!error && gamma >= 1 && gamma <= MaxGamma) return 0;
    char text[256] = "";
    LoadStringA(ResourceModule, 31402, text, sizeof text);
    ShowError(ResourceModule, TextEntryRefused, UnitDisplayPage.At(336), 0, text);
    return GammaEdit;
}

int SaveDisplaySettings(const DisplayState &state, int flag0, int flag1, int flag2, int flag3,
                        int gamma);

void Apply(HWND page, DisplayState &state)
{
    if (!state.changed) return;
    int flags[4];
    for (int i = 0; i < 4; i++) flags[i] = IsDlgButtonChecked(page, DitherBox + i) == BST_CHECKED;
    int error = 0, gamma = ParseEdit(page, &error);
    SaveDisplaySettings(state, flags[0], flags[1], flags[2], flags[3], gamma);
    state.changed = false;
    PreferenceResultFlags |= ResultDisplay;
}

} // namespace

/******************************************************************
 *      ParseGamma
 *
 * A decimal text in hundredths: "2.2" is 220, "1.805" 180. Any character but digits and
 * one '.' sets *error to 1 and is skipped.
 */
int ParseGamma(const char *text, int *error)
{
    int whole = 0, fraction = 0, fractionDigits = 0;
    bool point = false;
    for (const char *p = text ? text : ""; *p; p++) {
        if (*p >= '0' && *p <= '9') {
            if (!point) {
                if (whole < 100000) whole = whole * 10 + (*p - '0');
            } else if (fractionDigits < 2) {
                fraction = fraction * 10 + (*p - '0');
                fractionDigits++;
            }
        } else if (*p == '.' && !point) {
            point = true;
        } else if (error) {
            *error = 1;
        }
    }
    if (fractionDigits == 1) fraction *= 10;
    return whole * 100 + fraction;
}

namespace {

/******************************************************************
 *      SaveDisplaySettings
 *
 * Stores the flags (in the lent block, else the ini file) and the gamma (the ini file,
 * and the block), applies them to the imaging base library and tells Q32FIDO.DLL when
 * the gamma or the gamma switch changed.
 */
int SaveDisplaySettings(const DisplayState &state, int flag0, int flag1, int flag2, int flag3,
                        int gamma)
{
    const int flags[4] = {flag0, flag1, flag2, flag3};
    char section[16], key[16];
    IniName(12002, section);
    if (DWORD *block = DisplaySettingsBlock) {
        DWORD bits = 0;
        for (int i = 0; i < 4; i++) bits |= (flags[i] ? 1u : 0u) << i;
        block[0] = (block[0] & ~0x0Fu) | bits;
        block[1] = block[2] = block[3] = (DWORD)gamma;
    } else {
        for (int i = 0; i < 4; i++) {
            IniName(FlagKeys[i], key);
            WritePrivateProfileStringA(section, key, flags[i] ? "1" : "0", SuiteIniPath);
        }
    }
    disp32BeHiColorDither(flag0);
    char value[16];
    snprintf(value, sizeof value, "%d", gamma);
    for (UINT id : {12003u, 12004u, 12005u}) {
        IniName(id, key);
        WritePrivateProfileStringA(section, key, value, SuiteIniPath);
    }
    int g = flag3 ? gamma : NeutralGamma;
    disp32NewScreenGamma(g, g, g);
    if (gamma != state.openingGamma || (flag3 != 0) != (state.openingFlag3 != 0))
        NotifyPalsModule(gamma);
    return 1;
}

} // namespace

/******************************************************************
 *      GetDispData  (exported)
 */
extern "C" int Q32FILEAPI GetDispData(DWORD *flag0, DWORD *flag1, DWORD *flag2, DWORD *flag3,
                                     DWORD *gamma)
{
    DWORD *results[4] = {flag0, flag1, flag2, flag3};
    char section[16], key[16];
    IniName(12002, section);
    for (int i = 0; i < 4; i++) {
        if (!results[i]) continue;
        if (DisplaySettingsBlock) {
            *results[i] = (DisplaySettingsBlock[0] >> i) & 1;
        } else {
            IniName(FlagKeys[i], key);
            *results[i] = GetPrivateProfileIntA(section, key, FlagDefaults[i], SuiteIniPath) != 0;
        }
    }
    if (gamma) *gamma = (DWORD)ReadGamma();
    return 1;
}

/******************************************************************
 *      DisplayPageProc
 */
INT_PTR CALLBACK DisplayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitPage(page, lParam);
        return TRUE;
    }
    DisplayState *state = StateOf(page);
    if (!state)
        return IsPageCommand(message, wParam) ? PageAnswer(page, LOWORD(wParam) != PageValidate)
                                              : FALSE;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(page, &ps);
        DrawSquare(*state, dc);
        EndPaint(page, &ps);
        return TRUE;
    }
    case WM_DESTROY:
        Release(*state);
        SetWindowLongPtrA(page, DWLP_USER, 0);
        delete state;
        return FALSE;
    case WM_VSCROLL:
        if ((HWND)lParam == GetDlgItem(page, GammaUpDown) && LOWORD(wParam) == SB_THUMBPOSITION)
            SetGammaText(*state, GetDlgItem(page, GammaEdit), (short)HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *notice = (const NMHDR *)lParam;
        if (notice->idFrom != Slider) return FALSE;
        const Q32SLIDERNOTIFY *move = (const Q32SLIDERNOTIFY *)lParam;
        HWND edit = GetDlgItem(page, GammaEdit);
        if ((int)notice->code == Q32SN_TRACK) SetGammaText(*state, edit, move->position + move->delta);
        else if ((int)notice->code == Q32SN_CHANGED)
            SetGammaText(*state, edit, (int)SendDlgItemMessageA(page, Slider, Q32SM_GETPOS, 0, 0));
        else if ((int)notice->code == Q32SN_RESET)
            SendDlgItemMessageA(page, Slider, Q32SM_SETPOS, 0, state->editedGamma);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam), code = HIWORD(wParam);
        switch (id) {
        case PageValidate: return PageAnswer(page, Validate(page, *state));
        case PageApply:
            Apply(page, *state);
            Release(*state);
            return PageAnswer(page, 1);
        case PageCancel:
            Release(*state);
            return PageAnswer(page, 1);
        case GammaEdit:
            if (code == EN_UPDATE) {
                int error = 0, gamma = ParseEdit(page, &error);
                CheckDlgButton(page, GammaBox, BST_CHECKED);
                if (!error) {
                    gamma = gamma < 1 ? 1 : gamma > MaxGamma ? MaxGamma : gamma;
                    SendDlgItemMessageA(page, GammaUpDown, UDM_SETPOS32, 0, gamma);
                    SendDlgItemMessageA(page, Slider, Q32SM_SETPOS, 0, gamma);
                    state->editedGamma = gamma;
                    InvalidateRect(page, &state->squareRect, FALSE);
                }
                state->changed = true;
            }
            return TRUE;
        case DitherBox: case DitherBox + 1: case DitherBox + 2: case DitherBox + 3:
            if (code == BN_CLICKED) state->changed = true;
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}
