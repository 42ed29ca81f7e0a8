/* The suite's slider: a horizontal track with a thumb, registered at attach as
   Q32SLIDER_CLASS. It reports to its parent through WM_NOTIFY (see q32comm.h). */
#include "comm_private.h"

namespace {

struct Slider {
    int minimum = 0, maximum = 100, step = 1, position = 0;
    int dragStart = 0;
    bool dragging = false;
};

Slider *Of(HWND window) { return reinterpret_cast<Slider *>(GetWindowLongPtrA(window, 0)); }

int Clamp(const Slider &s, int value)
{
    return value < s.minimum ? s.minimum : value > s.maximum ? s.maximum : value;
}

enum { ThumbWidth = 10 };

/* The track's usable span in client pixels. */
void Track(HWND window, int &left, int &width)
{
    RECT r;
    GetClientRect(window, &r);
    left = r.left + ThumbWidth / 2;
    width = (r.right - r.left) - ThumbWidth;
    if (width < 1) width = 1;
}

int PositionAt(HWND window, const Slider &s, int x)
{
    int left, width;
    Track(window, left, width);
    long long range = s.maximum - s.minimum;
    return Clamp(s, s.minimum + (int)(((long long)(x - left) * range + width / 2) / width));
}

int XOf(HWND window, const Slider &s)
{
    int left, width;
    Track(window, left, width);
    long long range = s.maximum - s.minimum;
    if (range <= 0) return left;
    return left + (int)((long long)(s.position - s.minimum) * width / range);
}

void Notify(HWND window, int code, int position, int delta)
{
    Q32SLIDERNOTIFY notice = {};
    notice.header.hwndFrom = window;
    notice.header.idFrom = (UINT_PTR)GetDlgCtrlID(window);
    notice.header.code = (UINT)code;
    notice.position = position;
    notice.delta = delta;
    SendMessageA(GetParent(window), WM_NOTIFY, notice.header.idFrom, (LPARAM)&notice);
}

/* Moves by delta as the user did it: tracking, then the final position. */
void MoveBy(HWND window, Slider &s, int delta)
{
    int target = Clamp(s, s.position + delta);
    if (target == s.position) return;
    int from = s.position;
    s.position = target;
    InvalidateRect(window, nullptr, TRUE);
    Notify(window, Q32SN_TRACK, from, target - from);
    Notify(window, Q32SN_CHANGED, s.position, 0);
}

void Paint(HWND window, const Slider &s)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    int mid = (r.top + r.bottom) / 2;
    RECT track = {r.left + ThumbWidth / 2, mid - 2, r.right - ThumbWidth / 2, mid + 2};
    DrawEdge(dc, &track, EDGE_SUNKEN, BF_RECT);
    int x = XOf(window, s);
    RECT thumb = {x - ThumbWidth / 2, r.top + 2, x + ThumbWidth / 2, r.bottom - 2};
    FillRect(dc, &thumb, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &thumb, EDGE_RAISED, BF_RECT);
    if (GetFocus() == window) {
        RECT focus = r;
        DrawFocusRect(dc, &focus);
    }
    EndPaint(window, &ps);
}

LRESULT CALLBACK SliderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Slider *s = Of(window);
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(new Slider));
        break;
    case WM_NCDESTROY:
        delete s;
        SetWindowLongPtrA(window, 0, 0);
        break;
    case Q32SM_GETPOS:
        return s ? s->position : 0;
    case Q32SM_SETPOS:
        if (s) { s->position = Clamp(*s, (int)lParam); InvalidateRect(window, nullptr, TRUE); }
        return 0;
    case Q32SM_SETRANGE:
        if (s) {
            s->minimum = (int)wParam;
            s->maximum = (int)lParam < (int)wParam ? (int)wParam : (int)lParam;
            s->position = Clamp(*s, s->position);
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case Q32SM_SETSTEP:
        if (s) s->step = (int)lParam > 0 ? (int)lParam : 1;
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_KEYDOWN:
        if (!s) break;
        if (wParam == VK_LEFT || wParam == VK_DOWN) MoveBy(window, *s, -s->step);
        else if (wParam == VK_RIGHT || wParam == VK_UP) MoveBy(window, *s, s->step);
        else if (wParam == VK_PRIOR) MoveBy(window, *s, 10 * s->step);
        else if (wParam == VK_NEXT) MoveBy(window, *s, -10 * s->step);
        else if (wParam == VK_ESCAPE && s->dragging) {
            s->dragging = false;
            ReleaseCapture();
            Notify(window, Q32SN_RESET, s->position, 0);
        }
        return 0;
    case WM_LBUTTONDOWN:
        if (!s) break;
        SetFocus(window);
        SetCapture(window);
        s->dragging = true;
        s->dragStart = s->position;
        [[fallthrough]];
    case WM_MOUSEMOVE:
        if (s && s->dragging) {
            int target = PositionAt(window, *s, (short)LOWORD(lParam));
            if (target != s->position) {
                s->position = target;
                InvalidateRect(window, nullptr, TRUE);
                Notify(window, Q32SN_TRACK, s->dragStart, target - s->dragStart);
            }
        }
        return 0;
    case WM_LBUTTONUP:
        if (s && s->dragging) {
            s->dragging = false;
            ReleaseCapture();
            Notify(window, Q32SN_CHANGED, s->position, 0);
        }
        return 0;
    case WM_CAPTURECHANGED:
        if (s && s->dragging) {
            s->dragging = false;
            Notify(window, Q32SN_RESET, s->position, 0);
        }
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        if (s) { Paint(window, *s); return 0; }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

void RegisterSliderClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = CS_GLOBALCLASS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = SliderProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = Q32SLIDER_CLASS;
    RegisterClassA(&wc);
}

void UnregisterSliderClass(HINSTANCE instance) { UnregisterClassA(Q32SLIDER_CLASS, instance); }
