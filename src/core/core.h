/*
 * Module core: shared state, error reporting and small services that every subsystem
 * of the module uses.
 */
#ifndef Q32_CORE_H
#define Q32_CORE_H

#include <windows.h>
#include <stddef.h>
#include "q32file.h"
#include "q32comm.h"
#include "holders.h"
#include "syscalls.h"

/* Names are at most 259 characters. */
#define Q32_MAX_NAME 260

/* Error locations: (ModuleId, operation, place) or (LineForm, unit, line). */
enum { LineForm = 703, ModuleId = 1702 };

struct FormatTable;

/* Process-wide state, set at attach and released at detach. */
extern HINSTANCE OwnModule;
extern HMODULE ResourceModule;
extern char SuiteIniPath[Q32_MAX_NAME];
extern char PluginFolder[Q32_MAX_NAME];
extern char PluginLoadFolder[Q32_MAX_NAME];
extern CRITICAL_SECTION ModuleLock;
extern FormatTable *Formats;
extern HGLOBAL FormatsBlock;
/* The two filter lists kept for the life of the process (selection flags 0x20000000
   and 0x20000080); built by their first user. */
extern HGLOBAL CachedFilterLists[2];

/* The entry point's two halves. */
BOOL ProcessAttach(HINSTANCE instance);
void ProcessDetach();

/* Records one error in the common library's shared slot. The text is string stringId of
   module's table (null: the common library's), formatted with arg1 (and arg2 when arg1
   is non-zero and arg2 is too) when arg1 is non-zero. */
void RecordError(HMODULE module, int where1, int where2, int where3, UINT stringId,
                 ULONG_PTR arg1 = 0, ULONG_PTR arg2 = 0);

/* Records string stringId with detail after it (text, a blank, detail): for texts that
   take no argument but whose cause the caller can name (a plug-in file and why). */
void RecordErrorDetail(HMODULE module, int where1, int where2, int where3, UINT stringId,
                       const char *detail);

/* Runs body and gives its result. An exception leaving it (memory ran out) is recorded as
   1004 at (LineForm, unit, line) and gives failure instead: no C++ exception crosses an
   export, a dialog procedure or a window procedure. */
template <class R, class F>
R ExceptionFree(R failure, int unit, int line, F &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        RecordError(nullptr, 703, unit, line, 1004);
        return failure;
    }
}

/* Shows string stringId at once in the suite's message box, with extraText below it.
   keep == 0 clears the shared slot first. */
void ShowError(HMODULE module, UINT stringId, int where1, int where2, int where3, int keep,
               const char *extraText);

/* 0..3: the Windows generation the dialogs adapt to, from GetVersion (cached). */
int GetOsGeneration();
/* The same classification of one GetVersion() value. */
int OsGenerationFromVersion(DWORD version);

/* 1 when a movable block of size bytes can be allocated right now. */
int ProbeMemory(unsigned size);

/* Copies at most size - 1 bytes of src into dst and terminates; returns the length. */
size_t CopyText(char *dst, size_t size, const char *src);

#endif
