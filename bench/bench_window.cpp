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
// Built a second time as bench-window-setup, with the installer's resources
// (icon, logo, application manifest, version block), for two more modes:
//   bench-window-setup paint
//                           start GDI+, decode the PNG logo from its resource,
//                           then paint the window once off-screen: the logo and
//                           one line of GDI+ text in the installer's face,
//                           copied to the window in one BitBlt, marked like the
//                           installer's paints, and close: the start-up
//                           baseline that does the installer's first-paint work.
//   bench-window-setup URL PATH DLL...
//                           the first paint of "paint", then the download and
//                           digest of "URL PATH", with each named DLL loaded
//                           first (by name, so that the manifest leads
//                           comctl32.dll to version 6): the memory baseline that
//                           does the installer's work and maps every DLL it
//                           loads.
// With URL and PATH it prints one line "loaded=NAME,... failed=NAME,...".
// Exits with 0, or 1 when anything failed.

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "bench/minimal_work.h"
#include "ui/bench_marks.h"
#include "ui/gdi_handles.h"

namespace {

namespace gdip = Gdiplus::DllExports;

constexpr int kLogoResource = 3;  // resources/QuorvaneSetup.rc

struct FloorWork {
    std::wstring url;
    std::wstring path;
    std::thread worker;
    std::atomic<bool> failed{false};
};

FloorWork* floor_work = nullptr;                  // only with URL and PATH
Gdiplus::GpImage* first_paint_logo = nullptr;     // only in bench-window-setup

// smoothed: the installer's rendering hint; left: beside the logo or not.
void DrawTextWithGdiplus(HDC dc, const RECT& client, Gdiplus::REAL left, bool smoothed) {
    LOGFONTW font_description{};
    font_description.lfHeight = -21;
    font_description.lfWeight = 500;
    font_description.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font_description.lfFaceName, L"Microsoft YaHei UI", LF_FACESIZE);
    quorvane::UniqueGpGraphics graphics;
    if (gdip::GdipCreateFromHDC(dc, graphics.put()) != Gdiplus::Ok) return;
    if (smoothed) gdip::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintAntiAliasGridFit);
    quorvane::UniqueGpFont font;
    if (gdip::GdipCreateFontFromLogfontW(dc, &font_description, font.put()) != Gdiplus::Ok) return;
    Gdiplus::GpSolidFill* fill = nullptr;
    if (gdip::GdipCreateSolidFill(0xFF0F172A, &fill) != Gdiplus::Ok) return;
    const quorvane::UniqueGpBrush brush(fill);
    const Gdiplus::RectF layout(left, 20, static_cast<Gdiplus::REAL>(client.right) - left - 20, 40);
    gdip::GdipDrawString(graphics.get(), L"澜岫 正在下载安装包 42%", -1, font.get(), &layout, nullptr, brush.get());
}

// The installer's way from the PNG resource to a GDI+ image: the bytes copied
// into a movable block, a stream over it, GDI+ decoding from the stream.
Gdiplus::GpImage* DecodeLogo() {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kLogoResource), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    const HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = resource != nullptr ? SizeofResource(module, resource) : 0;
    if (bytes == nullptr || size == 0) return nullptr;
    quorvane::UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
    void* target = block ? GlobalLock(block.get()) : nullptr;
    if (target == nullptr) return nullptr;
    std::memcpy(target, bytes, size);
    GlobalUnlock(block.get());
    quorvane::UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.put()))) return nullptr;
    block.release();  // the stream frees the block
    Gdiplus::GpImage* image = nullptr;
    return gdip::GdipLoadImageFromStream(stream.get(), &image) == Gdiplus::Ok ? image : nullptr;
}

// The logo and the text drawn into a bitmap of the client's size, then copied
// to the window at once, as the installer paints.
void PaintOffscreen(HDC dc, const RECT& client) {
    const quorvane::UniqueMemoryDc offscreen(CreateCompatibleDC(dc));
    const quorvane::UniqueBitmap bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
    if (!offscreen || !bitmap) return;
    const quorvane::SelectGuard select_bitmap(offscreen.get(), bitmap.get());
    FillRect(offscreen.get(), &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    {
        quorvane::UniqueGpGraphics graphics;
        if (gdip::GdipCreateFromHDC(offscreen.get(), graphics.put()) == Gdiplus::Ok) {
            gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
            gdip::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeHighQuality);
            gdip::GdipDrawImageRectI(graphics.get(), first_paint_logo, 28, 18, 40, 40);
        }
    }
    DrawTextWithGdiplus(offscreen.get(), client, 84, true);
    BitBlt(dc, 0, 0, client.right, client.bottom, offscreen.get(), 0, 0, SRCCOPY);
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
            if (first_paint_logo != nullptr) {
                PaintOffscreen(dc, client);
            } else {
                FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
                if (floor_work != nullptr) DrawTextWithGdiplus(dc, client, 20, false);
            }
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

// Loads each named DLL and keeps it loaded; prints what loaded and what did not.
void LoadDlls(int count, wchar_t** names) {
    std::string loaded;
    std::string failed;
    for (int index = 0; index < count; ++index) {
        std::string& list = LoadLibraryW(names[index]) != nullptr ? loaded : failed;
        if (!list.empty()) list += ',';
        for (const wchar_t* letter = names[index]; *letter != L'\0'; ++letter) list += static_cast<char>(*letter);
    }
    const std::string line = "loaded=" + loaded + " failed=" + failed + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    quorvane::MarkStartupStep("entry");
    FloorWork work;
    ULONG_PTR gdiplus_token = 0;
    const bool paint_mode = __argc == 2 && lstrcmpW(__wargv[1], L"paint") == 0;
    if (__argc >= 3) {
        LoadDlls(__argc - 3, __wargv + 3);
        work.url = __wargv[1];
        work.path = __wargv[2];
        floor_work = &work;
    }
    if (floor_work != nullptr || paint_mode) {
        const Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&gdiplus_token, &input, nullptr) != Gdiplus::Ok) return 1;
    }
    quorvane::MarkStartupStep("gdiplus");
    if (floor_work != nullptr || paint_mode) {
        // Only bench-window-setup carries the logo; "paint" needs it.
        first_paint_logo = DecodeLogo();
        if (first_paint_logo == nullptr && paint_mode) return 1;
    }
    quorvane::MarkStartupStep("logo");
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = L"QuorvaneBenchWindow";
    RegisterClassExW(&window_class);
    quorvane::MarkStartupStep("class");
    const HWND window = CreateWindowExW(WS_EX_APPWINDOW, window_class.lpszClassName, L"bench",
                                        WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 620,
                                        330, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    quorvane::MarkStartupStep("created");
    ShowWindow(window, show_command);
    quorvane::MarkStartupStep("shown");
    UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (work.worker.joinable()) work.worker.join();
    if (first_paint_logo != nullptr) gdip::GdipDisposeImage(first_paint_logo);
    if (gdiplus_token != 0) Gdiplus::GdiplusShutdown(gdiplus_token);
    return work.failed.load() ? 1 : 0;
}
