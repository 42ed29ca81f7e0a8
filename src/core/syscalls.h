/*
 * The system calls through which the module allocates memory, touches files, deletes
 * registry keys and loads the suite's libraries. They are one table so that a test can
 * make any one of them fail at the n-th call and prove each failure path (out of memory,
 * disk full, a failed rename, a key that may not be deleted) without mocks.
 */
#ifndef Q32_SYSCALLS_H
#define Q32_SYSCALLS_H

#include <windows.h>

struct SystemCalls {
    HGLOBAL (WINAPI *globalAlloc)(UINT flags, SIZE_T bytes);
    HANDLE (WINAPI *createFile)(LPCSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                DWORD attributes, HANDLE templateFile);
    BOOL (WINAPI *moveFileEx)(LPCSTR from, LPCSTR to, DWORD flags);
    LONG (WINAPI *regDeleteKey)(HKEY parent, LPCSTR name);
    BOOL (WINAPI *writeFile)(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written,
                             LPOVERLAPPED overlapped);
    HMODULE (WINAPI *loadLibrary)(LPCSTR name);
    /* Defaults to the real call: the table's initialisers need not name it. */
    HGLOBAL (WINAPI *globalReAlloc)(HGLOBAL block, SIZE_T bytes, UINT flags) = GlobalReAlloc;
};

extern SystemCalls Sys;
/* The real calls, for restoring the table. */
extern const SystemCalls DefaultSystemCalls;

#endif
