/* wic.fio: the open and save option dialogs, stored in the suite ini file. */
#include "wic_private.h"
#include "wic_resource.h"

namespace wic {

HINSTANCE Instance;

namespace {

struct DialogState {
    int format;
    bool save;
    Settings settings;
};

const char *const TiffMethods[] = {"None", "LZW", "ZIP (Deflate)", "PackBits"};

int Number(HWND dialog, int control, int low, int high)
{
    BOOL ok = FALSE;
    int value = int(GetDlgItemInt(dialog, control, &ok, FALSE));
    if (!ok) value = low;
    return value < low ? low : value > high ? high : value;
}

void ShowLoopState(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_WIC_LOOPS), IsDlgButtonChecked(dialog, IDC_WIC_LOOP) == BST_CHECKED);
}

void Fill(HWND dialog, const DialogState &state)
{
    const Settings &s = state.settings;
    switch (Formats[state.format].container) {
    case Container::Jpeg:
        SetDlgItemInt(dialog, IDC_WIC_QUALITY, UINT(s.jpegQuality), FALSE);
        break;
    case Container::Png:
        CheckDlgButton(dialog, IDC_WIC_INTERLACE, s.pngInterlace ? BST_CHECKED : BST_UNCHECKED);
        break;
    case Container::Tiff:
        if (state.save) {
            for (const char *method : TiffMethods)
                SendDlgItemMessageA(dialog, IDC_WIC_COMPRESSION, CB_ADDSTRING, 0, LPARAM(method));
            SendDlgItemMessageA(dialog, IDC_WIC_COMPRESSION, CB_SETCURSEL, WPARAM(s.tiffCompression), 0);
        }
        break;
    case Container::Gif:
        if (state.save) {
            CheckDlgButton(dialog, IDC_WIC_LOOP, s.gifLoops >= 0 ? BST_CHECKED : BST_UNCHECKED);
            SetDlgItemInt(dialog, IDC_WIC_LOOPS, UINT(s.gifLoops >= 0 ? s.gifLoops : 0), FALSE);
            SetDlgItemInt(dialog, IDC_WIC_DELAY, UINT(s.gifDelay), FALSE);
            ShowLoopState(dialog);
        }
        break;
    case Container::Ico:
        CheckDlgButton(dialog, IDC_WIC_LARGEST, s.icoLargest ? BST_CHECKED : BST_UNCHECKED);
        break;
    default:
        break;
    }
    if (!state.save && Formats[state.format].multiFrame)
        SetDlgItemInt(dialog, IDC_WIC_FIRST, UINT(s.firstFrame[state.format] + 1), FALSE);
}

void Take(HWND dialog, DialogState &state)
{
    Settings &s = state.settings;
    switch (Formats[state.format].container) {
    case Container::Jpeg:
        s.jpegQuality = Number(dialog, IDC_WIC_QUALITY, 1, 100);
        break;
    case Container::Png:
        s.pngInterlace = IsDlgButtonChecked(dialog, IDC_WIC_INTERLACE) == BST_CHECKED;
        break;
    case Container::Tiff:
        if (state.save) {
            LRESULT selected = SendDlgItemMessageA(dialog, IDC_WIC_COMPRESSION, CB_GETCURSEL, 0, 0);
            if (selected >= 0 && selected <= WIC_TIFF_PACKBITS) s.tiffCompression = int(selected);
        }
        break;
    case Container::Gif:
        if (state.save) {
            s.gifLoops = IsDlgButtonChecked(dialog, IDC_WIC_LOOP) == BST_CHECKED ? Number(dialog, IDC_WIC_LOOPS, 0, 0xFFFF) : -1;
            s.gifDelay = Number(dialog, IDC_WIC_DELAY, 0, 0xFFFF);
        }
        break;
    case Container::Ico:
        s.icoLargest = IsDlgButtonChecked(dialog, IDC_WIC_LARGEST) == BST_CHECKED;
        break;
    default:
        break;
    }
    if (!state.save && Formats[state.format].multiFrame)
        s.firstFrame[state.format] = Number(dialog, IDC_WIC_FIRST, 1, 0x10000) - 1;
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *state = reinterpret_cast<DialogState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        Fill(dialog, *reinterpret_cast<DialogState *>(lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_WIC_LOOP:
            ShowLoopState(dialog);
            return TRUE;
        case IDOK:
            Take(dialog, *state);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

/* Shows one dialog; 1 when the user confirmed it (the settings are then stored), 0 when
   cancelled, -1 when it could not be shown. */
INT_PTR Show(int format, bool save, HWND owner, const char *iniPath, int dialogId)
{
    std::string ini = iniPath && *iniPath ? std::string(iniPath) : SuiteIni();
    DialogState state{format, save, ReadSettings(ini.c_str())};
    INT_PTR answer = DialogBoxParamA(Instance, MAKEINTRESOURCEA(dialogId), owner, OptionsProc, LPARAM(&state));
    if (answer == -1 || answer == 0) {
        Record(ErrNoMemory, save ? EntrySaveOptions : EntryOpenOptions, PlaceMemory);
        return -1;
    }
    if (answer != IDOK) return 0;
    WriteSettings(ini.c_str(), format, state.settings, save);
    return 1;
}

} // namespace

INT_PTR ShowSaveOptions(int format, HWND owner, const char *iniPath)
{
    static const int dialogs[] = {IDD_WIC_JPEG, IDD_WIC_PNG, IDD_WIC_TIFF, IDD_WIC_GIF, 0, 0};
    if (!dialogs[format]) return -1;
    return Show(format, true, owner, iniPath, dialogs[format]);
}

INT_PTR ShowOpenOptions(int format, HWND owner, const char *iniPath)
{
    const Container container = Formats[format].container;
    if (container == Container::Ico) return Show(format, false, owner, iniPath, IDD_WIC_ICON);
    if (!Formats[format].multiFrame) return -1;
    return Show(format, false, owner, iniPath, IDD_WIC_FRAME);
}

} // namespace wic
