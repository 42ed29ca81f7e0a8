/*
 * Module core: shared state, error reporting and small services that every subsystem
 * of the module uses.
 */
#ifndef Q32_CORE_H
#define Q32_CORE_H

#include <windows.h>
#include <stddef.h>
#include "q32file.h"
#include "q32fio.h"
#include "q32comm.h"
#include "holders.h"
#include "syscalls.h"

/* Names are at most 259 characters. */
#define Q32_MAX_NAME 260

/* Where an error happened, as the shared slot keeps it: the operation form
   (ModuleId, operation, place) or the line form (LineForm, unit, line). */
enum { LineForm = 703, ModuleId = 1702 };

struct ErrorSite {
    int where1, where2, where3;
};

/* An operation of the module (module: ModuleId but for one association site); its
   places are numbered from 1. Each operation is declared once, beside its code. */
struct ErrorOperation {
    int module, number;
    constexpr ErrorSite At(int place) const { return {module, number, place}; }
};
constexpr ErrorOperation Operation(int number) { return {ModuleId, number}; }

/* A source unit of the line form; its places are line numbers. */
struct ErrorUnit {
    int number;
    constexpr ErrorSite At(int line) const { return {LineForm, number, line}; }
};
constexpr ErrorUnit UnitState{1701}, UnitFileOps{ModuleId}, UnitPreview{1705},
    UnitFilters{1706}, UnitMemoryPage{1710}, UnitDisplayPage{1711}, UnitAssoc{1712},
    UnitOpenDialog{1720};

/* Texts of the common library's string table that the module records (those that plug-ins
   record too are the kit's numbers). */
enum : UINT {
    ErrLowMemory = 1001,              /* "Not enough memory." */
    ErrNoMemory = QF_ERR_NO_MEMORY,   /* ... to complete the operation */
    ErrCannotOpen = QF_ERR_OPEN,      /* the file %s cannot be opened (a reader's) */
    ErrInUse = 4007,
    ErrNotWorkFolder = 4018,
    ErrNotImage = 4019,
    ErrCannotWrite = QF_ERR_WRITE,
    ErrDamaged = QF_ERR_DAMAGED,
    ErrNotReplaceable = 4022,         /* read-only or in use */
    ErrVariant = QF_ERR_UNSUPPORTED,  /* a variant of the format that cannot be read */
    ErrNoFormat = 4025,               /* the plug-in declares no usable format */
    ErrCannot = QF_ERR_CANNOT,        /* the operation cannot be done */
    ErrFileNotOpened = 4027,          /* the file %s cannot be opened (detection's) */
    ErrPluginNotLoaded = 4029,
    ErrPreviewTooSmall = 5404
};

/* Texts of the resource module's string table that the module records or shows. */
enum : UINT {
    TextEntryRefused = 3200,
    TextNoPlugins = 4006,
    TextVariantRefused = 5200,
    TextNoBufferOption = 31406
};

/* Process-wide state, set at attach and released at detach. */
extern HINSTANCE OwnModule;
extern HMODULE ResourceModule;
extern char SuiteIniPath[Q32_MAX_NAME];
extern char PluginFolder[Q32_MAX_NAME];
extern char PluginLoadFolder[Q32_MAX_NAME];
extern CRITICAL_SECTION ModuleLock;

/* Records one error in the common library's shared slot, at site. The text is string
   stringId of module's table (null: the common library's), formatted with arg1 (and
   arg2 when arg1 is non-zero and arg2 is too) when arg1 is non-zero. */
void RecordError(HMODULE module, ErrorSite site, UINT stringId, ULONG_PTR arg1 = 0,
                 ULONG_PTR arg2 = 0);

/* Records string stringId with detail after it (text, a blank, detail): for texts that
   take no argument but whose cause the caller can name (a plug-in file and why). */
void RecordErrorDetail(HMODULE module, ErrorSite site, UINT stringId, const char *detail);

/* What the shared slot holds: read to look at a plug-in's error or to keep the slot
   across a call that may overwrite it, written back whole. */
struct ErrorRecord {
    char text[C32_ERRTEXT_SIZE];
    UINT id;
    int zero;
    ErrorSite site;
};
ErrorRecord ReadErrorRecord();
/* Writes record back; an empty record (no id, no text) empties the slot. */
void RestoreErrorRecord(const ErrorRecord &record);

/* Runs body and gives its result. An exception leaving it (memory ran out) is recorded as
   ErrNoMemory at site and gives failure instead: no C++ exception crosses an export, a
   dialog procedure or a window procedure. */
template <class R, class F>
R ExceptionFree(R failure, ErrorSite site, F &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        RecordError(nullptr, site, ErrNoMemory);
        return failure;
    }
}

/* Shows string stringId at once in the suite's message box, with extraText below it,
   and records site with it. keep == 0 clears the shared slot first. */
void ShowError(HMODULE module, UINT stringId, ErrorSite site, int keep, const char *extraText);

/* 0..3: the Windows generation the dialogs adapt to, from GetVersion (cached). */
int GetOsGeneration();
/* The same classification of one GetVersion() value. */
int OsGenerationFromVersion(DWORD version);

/* 1 when a movable block of size bytes can be allocated right now. */
int ProbeMemory(unsigned size);

/* Copies at most size - 1 bytes of src into dst and terminates; returns the length. */
size_t CopyText(char *dst, size_t size, const char *src);

#endif
