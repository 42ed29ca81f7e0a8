/*
 * Two open dialogs at once, each on a thread of its own: each describes its own typed
 * file, and the one left open still answers after the other has closed.
 */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "dialogdriver.h"
#include <atomic>
#include <string>
#include <thread>

using namespace q32test;

TEST_F(ModuleSandbox, TwoOpenDialogsAtOnceEachKeepTheirOwnState)
{
    describe = " pictures";
    Stage("TFA", {{"Width", "120"}, {"Height", "90"}});
    Stage("TFB", {{"Width", "64"}, {"Height", "48"}});
    for (const char *name : {"a.tfa", "b.tfb"})
        WriteFileBytes(Join(pictures, name), "picture");
    ASSERT_TRUE(module.Load());
    auto open = Q32_EXPORT(module, q32FileGetOpenFileName);
    struct Run {
        const char *title, *name, *size;
        char result[512];
        std::atomic<int> answer{-1};
        std::atomic<DWORD> thread{0};
        HWND dialog = nullptr;
        std::thread shows;
        Run(const char *t, const char *n, const char *s) : title(t), name(n), size(s), result() {}
    } runs[2] = {{"First", "a.tfa", "120 x 90 pixels"}, {"Second", "b.tfb", "64 x 48 pixels"}};
    for (Run &run : runs) {
        run.shows = std::thread([&, r = &run] {
            r->thread = GetCurrentThreadId();
            OpenFileRequest request = {};
            request.size = sizeof request;
            request.result = r->result;
            request.resultSize = sizeof r->result;
            request.initialDir = pictures.c_str();
            request.title = r->title;
            r->answer = open(&request);
        });
        WaitFor([&] { return run.thread != 0; });
        run.dialog = FindDialog(run.thread, run.title);
    }
    for (Run &run : runs)
        if (run.dialog)
            TypeName(run.dialog, run.name);
    for (Run &run : runs) {
        SCOPED_TRACE(run.title);
        EXPECT_TRUE(run.dialog && WaitFor([&] { return Text(run.dialog, 2201).find(run.size) != std::string::npos; }, 5000))
            << (run.dialog ? Text(run.dialog, 2201) : "no dialog");
        if (run.dialog)
            Press(run.dialog, IDOK);
        if (!run.dialog || !WaitClosed(run.dialog)) {
            ADD_FAILURE() << "the dialog stayed open";
            PostThreadMessageA(run.thread, WM_QUIT, 0, 0);
        }
        run.shows.join();
        EXPECT_EQ(1, run.answer);
        EXPECT_EQ(Join(pictures, run.name), run.result);
    }
}
