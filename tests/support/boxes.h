/* The one message-box answerer: a CBT hook on this thread that catches each dialog box as it
   activates, keeps its title and text, acts on it when asked, and answers a Yes/No box with
   the next queued answer (No when none), any other with the chosen button. */
#ifndef Q32_TEST_BOXES_H
#define Q32_TEST_BOXES_H

#include <windows.h>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace q32test {

class BoxAnswerer {
public:
    struct Box { std::string title, text; };
    using Filter = std::function<bool(HWND box, const std::string &title)>;

    /* Message boxes: a static text 0xFFFF and no file-type list. */
    static bool MessageBoxes(HWND box, const std::string &) { return GetDlgItem(box, 0xFFFF) && !GetDlgItem(box, 0x470); }
    static bool Uncaptioned(HWND box, const std::string &title) { return title.empty() && MessageBoxes(box, title); }

    explicit BoxAnswerer(Filter takes = MessageBoxes, int button = IDOK,
                         std::function<void(HWND)> act = nullptr, bool once = false)
        : takes_(std::move(takes)), act_(std::move(act)), button_(button), once_(once)
    {
        active_ = this;
        hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~BoxAnswerer()
    {
        UnhookWindowsHookEx(hook_);
        active_ = nullptr;
    }
    BoxAnswerer(const BoxAnswerer &) = delete;
    BoxAnswerer &operator=(const BoxAnswerer &) = delete;

    void QueueAnswer(int yesOrNo) { std::lock_guard<std::mutex> hold(lock_); answers_.push_back(yesOrNo); }
    std::vector<Box> Boxes() const { std::lock_guard<std::mutex> hold(lock_); return boxes_; }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Box &b : Boxes()) texts.push_back(b.text);
        return texts;
    }
    int Count() const { return (int)Boxes().size(); }

private:
    static inline BoxAnswerer *active_ = nullptr;

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        char name[16] = "";
        if (active_ && code == HCBT_ACTIVATE && GetClassNameA((HWND)wParam, name, sizeof name) &&
            !strcmp(name, "#32770"))
            active_->Answer((HWND)wParam);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    void Answer(HWND box)
    {
        char title[256] = "", text[1024] = "";
        GetWindowTextA(box, title, sizeof title);
        if ((once_ && done_) || !takes_(box, title)) return;
        done_ = true;
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        int answer = button_;
        {
            std::lock_guard<std::mutex> hold(lock_);
            boxes_.push_back({title, text});
            if (GetDlgItem(box, IDYES)) {
                answer = answers_.empty() ? IDNO : answers_.front();
                if (!answers_.empty()) answers_.pop_front();
            }
        }
        if (act_) act_(box);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    }

    Filter takes_;
    std::function<void(HWND)> act_;
    int button_;
    bool once_, done_ = false;
    HHOOK hook_ = nullptr;
    mutable std::mutex lock_;
    std::vector<Box> boxes_;
    std::deque<int> answers_;
};

} // namespace q32test

#endif
