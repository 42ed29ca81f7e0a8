/* The one fail-the-n-th-call injector for programs that link the module's code: it points
   the system-call table (Sys) at wrappers that count the calls of one kind, fail those its
   rule picks and remember the blocks they allocated, until the injector goes. */
#ifndef Q32_TEST_FAULTS_H
#define Q32_TEST_FAULTS_H

#include <windows.h>
#include <algorithm>
#include <functional>
#include <set>
#include "core/syscalls.h"

namespace q32test {

/* New: a C++ allocation, for a program that routes its operator new through FailsNew(). */
enum class Call { Alloc, Create, Write, Move, DeleteKey, New };

class FailingCalls {
public:
    /* The rule sees the call's number (from 1), and its size or name. */
    using Rule = std::function<bool(int n, SIZE_T bytes, const char *name)>;

    FailingCalls(Call kind, int n)
        : FailingCalls(kind, [n](int call, SIZE_T, const char *) { return call == n; }) {}
    FailingCalls(Call kind, Rule rule)
    {
        State &s = Get();
        s.kind = kind, s.rule = std::move(rule), s.calls = 0, s.blocks.clear();
        if (kind == Call::New) return; /* the wrappers' own bookkeeping allocates */
        Sys.globalAlloc = AllocCall;
        Sys.createFile = CreateCall;
        Sys.writeFile = WriteCall;
        Sys.moveFileEx = MoveCall;
        Sys.regDeleteKey = DeleteKeyCall;
    }
    ~FailingCalls() { Sys = DefaultSystemCalls; Get().rule = nullptr; }
    FailingCalls(const FailingCalls &) = delete;
    FailingCalls &operator=(const FailingCalls &) = delete;

    /* Calls of the kind so far. */
    static int Calls() { return Get().calls; }
    /* Blocks allocated through the table and not freed (GlobalSize answers 0 for those). */
    static int LiveBlocks()
    {
        const auto &b = Get().blocks;
        return (int)std::count_if(b.begin(), b.end(), [](HGLOBAL h) { return h && GlobalSize(h); });
    }

private:
    struct State {
        Call kind = Call::Alloc;
        Rule rule;
        int calls = 0;
        std::set<HGLOBAL> blocks;
    };
    static State &Get()
    {
        static State state;
        return state;
    }

    static bool Fails(Call kind, SIZE_T bytes = 0, const char *name = nullptr)
    {
        State &s = Get();
        return kind == s.kind && s.rule && s.rule(++s.calls, bytes, name);
    }

public:
    static bool FailsNew() { return Fails(Call::New); }
    /* The wrappers; also for pointing a plug-in's imports at: they fail only while an
       injector of their kind is alive. */
    static HGLOBAL WINAPI AllocCall(UINT flags, SIZE_T bytes)
    {
        if (Fails(Call::Alloc, bytes)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
        HGLOBAL block = GlobalAlloc(flags, bytes);
        Get().blocks.insert(block);
        return block;
    }
    static HANDLE WINAPI CreateCall(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD attributes, HANDLE model)
    {
        if (Fails(Call::Create, 0, name)) return SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        return CreateFileA(name, access, share, security, disposition, attributes, model);
    }
    static BOOL WINAPI WriteCall(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped)
    {
        if (Fails(Call::Write, bytes)) {
            if (written) *written = 0;
            return SetLastError(ERROR_DISK_FULL), FALSE;
        }
        return WriteFile(file, data, bytes, written, overlapped);
    }
    static BOOL WINAPI MoveCall(LPCSTR from, LPCSTR to, DWORD flags)
    {
        if (Fails(Call::Move, 0, to)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
        return MoveFileExA(from, to, flags);
    }
    static LONG WINAPI DeleteKeyCall(HKEY parent, LPCSTR name)
    {
        if (Fails(Call::DeleteKey, 0, name)) return ERROR_ACCESS_DENIED;
        return RegDeleteKeyA(parent, name);
    }
};

} // namespace q32test

#endif
