/* Visual open: the user's switch for the thumbnail dialog of qvofn.dll and the hand-over
   to it in place of the common open dialog. */
#include "opendlg.h"
#include <string.h>

namespace {

int VisualOpenAvailable;   /* set by the application: qvofn.dll is installed */
int VisualOpenEnabled;     /* the user's switch as the last status call left it */

const char SwitchSection[] = "Q32File", SwitchKey[] = "Enable Visual Open";
const char VisualOpenKey[] = "Software\\Quill Systems\\Visual Open";

int ReadSwitch()
{
    return (int)GetPrivateProfileIntA(SwitchSection, SwitchKey, 0, SuiteIniPath);
}

} // namespace

int VisualOpenWanted()
{
    return VisualOpenAvailable && VisualOpenEnabled;
}

/******************************************************************
 *      HandOverToVisualOpen
 *
 * Shows the thumbnail dialog with the prepared OPENFILENAME. -1 when qvofn.dll or its
 * entry is missing (the common dialog is then used), else the dialog's answer.
 */
int HandOverToVisualOpen(const OPENFILENAMEA &ofn, OpenDialogContext &context)
{
    q32::ModuleHandle module(Sys.loadLibrary("qvofn.dll"));
    if (!module)
        return -1;
    auto entry = (VisualOpenEntry)(void *)GetProcAddress(module.get(), "qGetVisaulOpenFileName");
    if (!entry)
        return -1;
    const OpenFileRequest *request = context.request;
    char title[32] = "";
    LoadStringA(ResourceModule, 31300, title, sizeof title);

    VisualOpenRequest block = {};
    block.size = sizeof block;
    block.owner = ofn.hwndOwner;
    block.instance = ResourceModule;
    block.result = context.address;
    block.resultSize = context.size;
    block.initialDir = ofn.lpstrInitialDir;
    block.title = ofn.lpstrTitle ? ofn.lpstrTitle : title;
    block.flags = ofn.Flags;
    if ((ofn.Flags & OFN_SHOWHELP) || request->help) {
        block.flags |= OFN_SHOWHELP;
        block.helpFile = request->helpInfo ? request->helpInfo->helpFile : nullptr;
        block.helpContext = 531;
    }
    if (request->userData)
        block.flags |= 0x1;
    block.registryKey = VisualOpenKey;
    block.cacheSize = GetPrivateProfileIntA("Visual Open", "Cache Size", 15360, SuiteIniPath);
    block.filter = context.callerFilter ? request->filter : nullptr;

    int answer = entry(&block) ? 1 : 0;
    if (answer && request->userData)
        *(DWORD *)request->userData = block.answer;
    return answer;
}

/******************************************************************
 *      q32FileSetVisualOpenStatus  (exported)
 */
extern "C" void Q32FILEAPI q32FileSetVisualOpenStatus(int available, int state)
{
    VisualOpenAvailable = available;
    if (!available)
        return;
    if (state == -1) {
        VisualOpenEnabled = ReadSwitch();
        return;
    }
    VisualOpenEnabled = state == 1 ? 1 : 0;
    WritePrivateProfileStringA(SwitchSection, SwitchKey, VisualOpenEnabled ? "1" : "0",
                               SuiteIniPath);
}

/******************************************************************
 *      q32FileGetVisualOpenStatus  (exported)
 */
extern "C" int Q32FILEAPI q32FileGetVisualOpenStatus(int *available)
{
    if (available)
        *available = VisualOpenAvailable;
    if (!VisualOpenAvailable)
        return 0;
    VisualOpenEnabled = ReadSwitch();
    return VisualOpenEnabled;
}
