#pragma once

// Owners for what painting takes from GDI: the paint of a window, an object selected into a
// device context, a memory device context, a bitmap and a font. Declared in the order they are taken, a
// paint's owners are released in the order GDI asks for: the object selected back out, then the
// memory context deleted, then the paint ended. Windows only.

#include <windows.h>

#include "common/unique_handle.h"
#include "common/unique_resource.h"

namespace zv {

namespace detail {

inline void DeleteBitmap(HBITMAP h) noexcept { ::DeleteObject(h); }
inline void DeleteFont(HFONT h) noexcept { ::DeleteObject(h); }
inline void DeleteMemoryDc(HDC h) noexcept { ::DeleteDC(h); }

inline HBITMAP NullBitmap() noexcept { return nullptr; }
inline HFONT NullFont() noexcept { return nullptr; }
inline HDC NullDc() noexcept { return nullptr; }

}  // namespace detail

// Bitmaps from LoadImageW or CreateCompatibleBitmap. It must not be selected into a device
// context when its owner lets it go (see SelectedObject).
using UniqueBitmap = UniqueResource<HBITMAP, detail::PreserveLastError<detail::DeleteBitmap>, detail::NullBitmap>;
// Fonts from CreateFontIndirectW. The windows it was given to (WM_SETFONT) must be gone, or have
// another font, when its owner lets it go.
using UniqueFont = UniqueResource<HFONT, detail::PreserveLastError<detail::DeleteFont>, detail::NullFont>;
// Device contexts from CreateCompatibleDC; never one from GetDC or BeginPaint.
using UniqueMemoryDc = UniqueResource<HDC, detail::PreserveLastError<detail::DeleteMemoryDc>, detail::NullDc>;

// A window's WM_PAINT: BeginPaint on construction, EndPaint on every way out. EndPaint follows
// each BeginPaint, also one that gave no device context.
class PaintScope {
public:
    explicit PaintScope(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() {
        const DWORD saved = ::GetLastError();
        ::EndPaint(window_, &paint_);
        ::SetLastError(saved);
    }

    // Null when BeginPaint had none to give.
    [[nodiscard]] HDC dc() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// An object selected into a device context for the owner's life: what was selected before goes
// back in when it ends, so that the object and the context can then be deleted in either order.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        // A selection that failed changed nothing: null for a bitmap, HGDI_ERROR for a region.
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            const DWORD saved = ::GetLastError();
            ::SelectObject(dc_, previous_);
            ::SetLastError(saved);
        }
    }

    // Whether the object went in.
    [[nodiscard]] bool selected() const noexcept { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace zv
