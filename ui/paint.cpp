#include "ui/paint.h"

#include <cmath>
#include <cstring>

#include "ui/bench_marks.h"

namespace quorvane {
namespace {

namespace gdip = Gdiplus::DllExports;

constexpr int kLogoResource = 3;
constexpr int kIconResource = 1;

COLORREF ToColorRef(Colour colour) {
    return RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
}

Gdiplus::ARGB ToArgb(COLORREF colour) {
    return Gdiplus::ARGB{0xFF000000} | (Gdiplus::ARGB{GetRValue(colour)} << 16) |
           (Gdiplus::ARGB{GetGValue(colour)} << 8) | Gdiplus::ARGB{GetBValue(colour)};
}

RECT ToRect(const ClientRect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }

UniqueGpImage LoadLogoImage() {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kLogoResource), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (resource == nullptr) return {};
    const HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (bytes == nullptr || size == 0) return {};

    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return {};
    void* target = GlobalLock(block.get());
    if (target == nullptr) return {};
    std::memcpy(target, bytes, size);
    GlobalUnlock(block.get());

    UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.put()))) return {};
    block.release();  // the stream frees the block when it is released

    UniqueGpImage image;
    if (gdip::GdipLoadImageFromStream(stream.get(), image.put()) != Gdiplus::Ok) image.reset();
    return image;
}

UniqueIcon LoadWindowIcon(int dpi) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const int side = DpiScale{dpi}.Length(48);
    UniqueIcon icon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, side, side, LR_DEFAULTCOLOR)));
    if (icon) return icon;
    // LoadIconW's icon is shared by the system and never destroyed: own a copy.
    const HICON shared = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    return UniqueIcon(shared != nullptr ? CopyIcon(shared) : nullptr);
}


// The generic default format with the DrawTextW flags the painting uses translated.
UniqueGpStringFormat StringFormatFor(UINT format) {
    Gdiplus::GpStringFormat* generic = nullptr;
    UniqueGpStringFormat string_format;
    if (gdip::GdipStringFormatGetGenericDefault(&generic) != Gdiplus::Ok ||
        gdip::GdipCloneStringFormat(generic, string_format.put()) != Gdiplus::Ok) {
        return {};
    }
    if ((format & DT_SINGLELINE) != 0) gdip::GdipSetStringFormatFlags(string_format.get(), Gdiplus::StringFormatFlagsNoWrap);
    gdip::GdipSetStringFormatLineAlign(string_format.get(), (format & DT_VCENTER) != 0 ? Gdiplus::StringAlignmentCenter
                                                                                      : Gdiplus::StringAlignmentNear);
    Gdiplus::StringAlignment alignment = Gdiplus::StringAlignmentNear;
    if ((format & DT_CENTER) != 0) {
        alignment = Gdiplus::StringAlignmentCenter;
    } else if ((format & DT_RIGHT) != 0) {
        alignment = Gdiplus::StringAlignmentFar;
    }
    gdip::GdipSetStringFormatAlign(string_format.get(), alignment);
    if ((format & DT_END_ELLIPSIS) != 0) {
        gdip::GdipSetStringFormatTrimming(string_format.get(), Gdiplus::StringTrimmingEllipsisCharacter);
    }
    return string_format;
}

// Graphics, font and format for drawing or measuring a text with GDI+; empty
// members where GDI+ failed.
struct GdiplusText {
    UniqueGpGraphics graphics;
    UniqueGpFont font;
    UniqueGpStringFormat format;

    GdiplusText(HDC dc, const LOGFONTW& logfont, UINT text_format) {
        if (gdip::GdipCreateFromHDC(dc, graphics.put()) != Gdiplus::Ok) return;
        gdip::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintAntiAliasGridFit);
        if (gdip::GdipCreateFontFromLogfontW(dc, &logfont, font.put()) != Gdiplus::Ok) return;
        format = StringFormatFor(text_format);
    }
    bool ready() const { return graphics && font && format; }
};

void DrawTextWithGdiplus(HDC dc, const wchar_t* text, const RECT& rect, const LOGFONTW& logfont, COLORREF colour,
                         UINT format) {
    const GdiplusText gdiplus(dc, logfont, format);
    if (!gdiplus.ready()) return;
    Gdiplus::GpSolidFill* fill = nullptr;
    if (gdip::GdipCreateSolidFill(ToArgb(colour), &fill) != Gdiplus::Ok) return;
    const UniqueGpBrush brush(fill);
    const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rect.left), static_cast<Gdiplus::REAL>(rect.top),
                                static_cast<Gdiplus::REAL>(rect.right - rect.left),
                                static_cast<Gdiplus::REAL>(rect.bottom - rect.top));
    gdip::GdipDrawString(gdiplus.graphics.get(), text, -1, gdiplus.font.get(), &layout, gdiplus.format.get(),
                         brush.get());
}

// Whether DrawTextInRect takes the GDI+ path for this font; fills logfont when it does.
bool UsesGdiplus(HFONT font, bool gdiplus_wanted, LOGFONTW& logfont) {
    return gdiplus_wanted && gdiplus_token != 0 && font != nullptr &&
           GetObjectW(font, sizeof logfont, &logfont) == sizeof logfont;
}

void DrawImage(HDC dc, const DrawOperation& operation, const PaintResources& resources) {
    const ClientRect& r = operation.rect;
    if (operation.kind == DrawKind::Icon) {
        if (resources.window_icon) {
            DrawIconEx(dc, r.left, r.top, resources.window_icon.get(), r.right - r.left, r.bottom - r.top, 0, nullptr,
                       DI_NORMAL);
        }
        return;
    }
    if (!resources.logo_image) return;
    UniqueGpGraphics graphics;
    if (gdip::GdipCreateFromHDC(dc, graphics.put()) != Gdiplus::Ok) return;
    gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gdip::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeHighQuality);
    gdip::GdipDrawImageRectI(graphics.get(), resources.logo_image.get(), r.left, r.top, r.right - r.left,
                             r.bottom - r.top);
}

void DrawPolyline(HDC dc, const DrawOperation& operation) {
    std::vector<POINT> points;
    points.reserve(operation.points.size());
    for (const ClientPoint& point : operation.points) points.push_back(POINT{point.x, point.y});
    const UniquePen pen(CreatePen(PS_SOLID, operation.pen_width, ToColorRef(operation.colour)));
    if (!pen) return;
    const SelectGuard select_pen(dc, pen.get());
    Polyline(dc, points.data(), static_cast<int>(points.size()));
}

void DrawFocusRing(HDC dc, const RECT& rect, const DrawOperation& operation) {
    // An inside-frame pen keeps the whole ring within the control.
    const UniquePen pen(CreatePen(PS_INSIDEFRAME, operation.pen_width, ToColorRef(operation.colour)));
    if (!pen) return;
    const SelectGuard select_brush(dc, GetStockObject(NULL_BRUSH));
    const SelectGuard select_pen(dc, pen.get());
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, operation.corner, operation.corner);
}

Colour SystemColour(int index) {
    const COLORREF colour = GetSysColor(index);
    return (Colour{GetRValue(colour)} << 16) | (Colour{GetGValue(colour)} << 8) | Colour{GetBValue(colour)};
}

void Execute(HDC dc, const DrawOperation& operation, const PaintResources& resources) {
    const RECT rect = ToRect(operation.rect);
    const COLORREF colour = ToColorRef(operation.colour);
    switch (operation.kind) {
        case DrawKind::FillRect: {
            const UniqueBrush brush(CreateSolidBrush(colour));
            if (brush) FillRect(dc, &rect, brush.get());
            return;
        }
        case DrawKind::FillRoundRect: FillRoundRect(dc, rect, operation.corner, colour); return;
        case DrawKind::FrameRoundRect: FrameRoundRect(dc, rect, operation.corner, colour); return;
        case DrawKind::Text:
            DrawTextInRect(dc, operation.text.c_str(), rect, FontFor(resources, operation.font), colour,
                           operation.format, operation.gdiplus_text);
            return;
        case DrawKind::Logo:
        case DrawKind::Icon: DrawImage(dc, operation, resources); return;
        case DrawKind::Polyline: DrawPolyline(dc, operation); return;
        case DrawKind::FocusRing: DrawFocusRing(dc, rect, operation); return;
    }
}

}  // namespace

HFONT FontFor(const PaintResources& resources, FontRole role) {
    switch (role) {
        case FontRole::Title: return resources.title_font.get();
        case FontRole::Headline: return resources.headline_font.get();
        case FontRole::Body: return resources.body_font.get();
        case FontRole::Button: return resources.button_font.get();
    }
    return nullptr;
}

UniqueFont CreateUiFont(int dpi, int points, int weight, const wchar_t* face) {
    const int height = MulDiv(points, dpi, 72);
    return UniqueFont(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, CLEARTYPE_NATURAL_QUALITY, 0, face));
}

PaintResources CreatePaintResources(RunState state, int dpi) {
    // GDI draws every text of the unsupported screen; the older face is there on older systems.
    const wchar_t* const face = state == RunState::Unsupported ? L"Microsoft YaHei" : L"Microsoft YaHei UI";
    PaintResources resources;
    resources.title_font = CreateUiFont(dpi, 16, 500, face);
    resources.headline_font = CreateUiFont(dpi, 11, 500, face);
    resources.body_font = CreateUiFont(dpi, 10, 400, face);
    resources.button_font = CreateUiFont(dpi, 10, 400, face);
    if (gdiplus_token != 0) resources.logo_image = LoadLogoImage();
    resources.window_icon = LoadWindowIcon(dpi);
    return resources;
}

Palette CurrentPalette(bool always_high_contrast) {
    HIGHCONTRASTW high_contrast{};
    high_contrast.cbSize = sizeof high_contrast;
    const bool on = always_high_contrast ||
                    (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof high_contrast, &high_contrast, 0) != FALSE &&
                     (high_contrast.dwFlags & HCF_HIGHCONTRASTON) != 0);
    const SystemColours system{
        .window = SystemColour(COLOR_WINDOW),
        .window_text = SystemColour(COLOR_WINDOWTEXT),
        .gray_text = SystemColour(COLOR_GRAYTEXT),
        .button_face = SystemColour(COLOR_BTNFACE),
        .button_text = SystemColour(COLOR_BTNTEXT),
        .highlight = SystemColour(COLOR_HIGHLIGHT),
        .highlight_text = SystemColour(COLOR_HIGHLIGHTTEXT),
    };
    return ChoosePalette(on, system);
}

void ReleasePaintResources(PaintResources& resources) {
    resources.title_font.reset();
    resources.headline_font.reset();
    resources.body_font.reset();
    resources.button_font.reset();
    resources.logo_image.reset();
}

void FillRoundRect(HDC dc, const RECT& rect, int corner, COLORREF colour) {
    const UniqueBrush brush(CreateSolidBrush(colour));
    const UniquePen pen(CreatePen(PS_SOLID, 1, colour));
    if (!brush || !pen) return;
    const SelectGuard select_brush(dc, brush.get());
    const SelectGuard select_pen(dc, pen.get());
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
}

void FrameRoundRect(HDC dc, const RECT& rect, int corner, COLORREF colour) {
    const UniquePen pen(CreatePen(PS_SOLID, 1, colour));
    if (!pen) return;
    const SelectGuard select_brush(dc, GetStockObject(NULL_BRUSH));
    const SelectGuard select_pen(dc, pen.get());
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
}

void DrawTextInRect(HDC dc, const wchar_t* text, const RECT& rect, HFONT font, COLORREF colour, UINT format,
                    bool gdiplus_wanted) {
    LOGFONTW logfont{};
    if (UsesGdiplus(font, gdiplus_wanted, logfont)) {
        DrawTextWithGdiplus(dc, text, rect, logfont, colour, format);
        return;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    // Without a font, the text is drawn in the one the context already holds.
    const SelectGuard select_font(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetCurrentObject(dc, OBJ_FONT));
    RECT area = rect;
    DrawTextW(dc, text, -1, &area, format);
}

SIZE MeasureTextInRect(HDC dc, const wchar_t* text, HFONT font, UINT format, bool gdiplus_wanted) {
    LOGFONTW logfont{};
    if (UsesGdiplus(font, gdiplus_wanted, logfont)) {
        const GdiplusText gdiplus(dc, logfont, format);
        const Gdiplus::RectF unbounded(0, 0, 100000, 100000);
        Gdiplus::RectF bounds{};
        if (!gdiplus.ready() || gdip::GdipMeasureString(gdiplus.graphics.get(), text, -1, gdiplus.font.get(),
                                                         &unbounded, gdiplus.format.get(), &bounds, nullptr,
                                                         nullptr) != Gdiplus::Ok) {
            return SIZE{0, 0};
        }
        return SIZE{static_cast<LONG>(std::ceil(bounds.Width)), static_cast<LONG>(std::ceil(bounds.Height))};
    }
    const SelectGuard select_font(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetCurrentObject(dc, OBJ_FONT));
    RECT area{0, 0, 0, 0};
    DrawTextW(dc, text, -1, &area, format | DT_CALCRECT);
    return SIZE{area.right - area.left, area.bottom - area.top};
}

void ExecutePaintList(HDC dc, const std::vector<DrawOperation>& operations, const PaintResources& resources) {
    for (const DrawOperation& operation : operations) Execute(dc, operation, resources);
}

void PaintWindow(HWND window, const PaintResources& resources, const WindowModel& model) {
    const PaintGuard paint(window);
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (paint.get() == nullptr || width <= 0 || height <= 0) return;  // minimised: nothing to show

    const UniqueMemoryDc offscreen(CreateCompatibleDC(paint.get()));
    const UniqueBitmap bitmap(CreateCompatibleBitmap(paint.get(), width, height));
    if (!offscreen || !bitmap) return;
    {
        const SelectGuard select_bitmap(offscreen.get(), bitmap.get());
        const ClientSize pixels{width, height};
        const ClientSize units = model.scale.ToUnits(pixels);
        const PaintInputs inputs{
            .width = units.width,
            .height = units.height,
            .display = model.display,
            .cancel_requested = model.flags.cancel_requested.Load(),
            .installer_running = model.flags.installer_running.Load(),
            .launch_after_install = model.flags.launch_after_install.Load(),
            .layout = LayoutControls(units.width, units.height),
            .interaction = model.interaction,
            .gdiplus_running = gdiplus_token != 0,
            .has_logo = static_cast<bool>(resources.logo_image),
            .has_icon = static_cast<bool>(resources.window_icon),
            .palette = resources.palette,
            .focus_cue = model.focus_cue_visible ? model.focus : WindowControl::None,
        };
        std::vector<DrawOperation> operations = BuildPaintList(inputs);
        ScalePaintList(operations, model.scale, units, pixels);
        ExecutePaintList(offscreen.get(), operations, resources);
        BitBlt(paint.get(), 0, 0, width, height, offscreen.get(), 0, 0, SRCCOPY);
    }
    MarkPaint(model.display.percent);
}

}  // namespace quorvane
