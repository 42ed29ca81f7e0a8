/* The module's state driven directly in the sandbox's folders. Its instance is a resource-only
   DLL copied into the suite folder, so that FIO\ (and the cache on older systems) is there. */
#ifndef Q32_REGISTRY_FIXTURE_H
#define Q32_REGISTRY_FIXTURE_H

#include "sandbox.h"
#include "core/core.h"
#include "module.h"
#include "registry/registry.h"
#include <span>
#include <stdexcept>

class RegistryFixture : public ::testing::Test, public q32test::Folders {
protected:
    q32test::ScopedEnv iniEnv{"Q32_INI", ini};
    bool attached = false;
    HMODULE owner = nullptr;

    void SetUp() override
    {
        std::string ownerPath = q32test::Join(suite, "OWNER.DLL");
        CopyFileA((q32test::BinFolder() + "DLGRC.DLL").c_str(), ownerPath.c_str(), FALSE);
        owner = LoadLibraryA(ownerPath.c_str());
        ASSERT_NE(nullptr, owner);
    }
    void TearDown() override
    {
        Stop();
        Sys = DefaultSystemCalls;
        if (owner) FreeLibrary(owner);
    }

    std::string CachePath() { return appData + "Q32FILE.CFG"; }
    /* Empties the plug-in folder and removes the (hidden) cache. */
    void Reset()
    {
        Stop();
        q32test::RemoveTree(fio);
        CreateDirectoryA(fio.c_str(), nullptr);
        SetFileAttributesA(CachePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(CachePath().c_str());
    }
    /* Attaches afresh (the load log emptied); Start discovers too. */
    void Attach()
    {
        Stop();
        DeleteFileA(loads.c_str());
        c32ResetDLLErrInfo();
        ASSERT_TRUE(ProcessAttach(owner));
        attached = true;
    }
    int Start()
    {
        Attach();
        return qfFileGetFileFmtNum();
    }
    void Stop()
    {
        if (attached) ProcessDetach();
        attached = false;
    }
    /* The table as "CODE|description|PLUGIN|ordinal base" lines. */
    std::vector<std::string> Declared() const
    {
        std::vector<std::string> lines;
        for (const FormatRecord &r : std::span(Formats->records, Formats->count))
            lines.push_back(std::string(r.info.code) + "|" + r.info.description + "|" +
                            r.pluginName + "|" + std::to_string(r.ordinalBase));
        return lines;
    }
    const FormatRecord &Record(const char *code)
    {
        for (const FormatRecord &r : std::span(Formats->records, Formats->count))
            if (!strcmp(r.info.code, code)) return r;
        throw std::runtime_error(std::string("no format ") + code);
    }
};

#endif
