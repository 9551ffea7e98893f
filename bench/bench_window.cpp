// The least a Win32 window does, for the comparisons of bench/bench.sh.
//   bench-window            register a class, create a window of the
//                           installer's size, paint it once with GDI (marked
//                           like the installer's paints) and close: the
//                           start-up baseline.
//   bench-window URL PATH   the same window with GDI+ text in the installer's
//                           face, then on a worker thread the minimal download
//                           of URL to PATH and its SHA-256, then close: the
//                           kinds of work the installer does, at the least
//                           memory Wine lets a program do them with.
// Exits with 0, or 1 when anything failed.

#include <windows.h>

#include <atomic>
#include <exception>
#include <string>
#include <thread>

#include "bench/minimal_work.h"
#include "ui/bench_marks.h"
#include "ui/gdi_handles.h"

namespace {

namespace gdip = Gdiplus::DllExports;

struct FloorWork {
    std::wstring url;
    std::wstring path;
    std::thread worker;
    std::atomic<bool> failed{false};
};

FloorWork* floor_work = nullptr;  // only with URL and PATH

void DrawTextWithGdiplus(HDC dc, const RECT& client) {
    LOGFONTW font_description{};
    font_description.lfHeight = -21;
    font_description.lfWeight = 500;
    font_description.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font_description.lfFaceName, L"Microsoft YaHei UI", LF_FACESIZE);
    quorvane::UniqueGpGraphics graphics;
    if (gdip::GdipCreateFromHDC(dc, graphics.put()) != Gdiplus::Ok) return;
    quorvane::UniqueGpFont font;
    if (gdip::GdipCreateFontFromLogfontW(dc, &font_description, font.put()) != Gdiplus::Ok) return;
    Gdiplus::GpSolidFill* fill = nullptr;
    if (gdip::GdipCreateSolidFill(0xFF0F172A, &fill) != Gdiplus::Ok) return;
    const quorvane::UniqueGpBrush brush(fill);
    const Gdiplus::RectF layout(20, 20, static_cast<Gdiplus::REAL>(client.right - 40), 40);
    gdip::GdipDrawString(graphics.get(), L"澜岫 正在下载安装包 42%", -1, font.get(), &layout, nullptr, brush.get());
}

void StartFloorWork(HWND window) {
    floor_work->worker = std::thread([window] {
        try {
            quorvane::bench::MinimalDownload(floor_work->url, floor_work->path);
            quorvane::bench::MinimalSha256(floor_work->path);
        } catch (const std::exception&) {
            floor_work->failed.store(true);
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            const HDC dc = BeginPaint(window, &paint);
            RECT client{};
            GetClientRect(window, &client);
            FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            if (floor_work != nullptr) DrawTextWithGdiplus(dc, client);
            quorvane::MarkPaint(0);
            EndPaint(window, &paint);
            if (floor_work == nullptr) {
                PostMessageW(window, WM_CLOSE, 0, 0);
            } else if (!floor_work->worker.joinable()) {
                StartFloorWork(window);
            }
            return 0;
        }
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    FloorWork work;
    ULONG_PTR gdiplus_token = 0;
    if (__argc == 3) {
        work.url = __wargv[1];
        work.path = __wargv[2];
        floor_work = &work;
        const Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&gdiplus_token, &input, nullptr) != Gdiplus::Ok) return 1;
    }
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = L"QuorvaneBenchWindow";
    RegisterClassExW(&window_class);
    const HWND window = CreateWindowExW(WS_EX_APPWINDOW, window_class.lpszClassName, L"bench",
                                        WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 620,
                                        330, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, show_command);
    UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (work.worker.joinable()) work.worker.join();
    if (gdiplus_token != 0) Gdiplus::GdiplusShutdown(gdiplus_token);
    return work.failed.load() ? 1 : 0;
}
