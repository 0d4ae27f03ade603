#include "UiTestSupport.h"

#include <zlib.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <memory>

#include "Runtime/Handles.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"
#include "Ui/SkinPackage.h"

namespace {
void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

std::string EncodePng(Gdiplus::Bitmap& bmp) {
    // The PNG encoder's class id.
    CLSID png{};
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<uint8_t> buf(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i) {
        if (wcscmp(codecs[i].MimeType, L"image/png") == 0) png = codecs[i].Clsid;
    }
    IStream* stream = ::SHCreateMemStream(nullptr, 0);
    bmp.Save(stream, &png, nullptr);
    STATSTG st{};
    stream->Stat(&st, STATFLAG_NONAME);
    std::string out(static_cast<size_t>(st.cbSize.QuadPart), '\0');
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(&out[0], static_cast<ULONG>(out.size()), &read);
    stream->Release();
    return out;
}

std::string PaintPng(int w, int h, void (*paint)(Gdiplus::Graphics&)) {
    CRenderEngine::EnsureGdiplus();
    Gdiplus::Bitmap bmp(w, h, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(&bmp);
        paint(g);
    }
    return EncodePng(bmp);
}
}  // namespace

std::vector<uint8_t> BuildStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string out, dir;
    for (const auto& [name, data] : entries) {
        const uint32_t crc = crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, 0);
        Put32(out, crc);
        Put32(out, static_cast<uint32_t>(data.size()));
        Put32(out, static_cast<uint32_t>(data.size()));
        Put16(out, static_cast<uint32_t>(name.size()));
        Put16(out, 0);
        out += name;
        out += data;
        Put32(dir, 0x02014b50);
        Put16(dir, 20);
        Put16(dir, 20);
        Put16(dir, 0);
        Put16(dir, 0);
        Put32(dir, 0);
        Put32(dir, crc);
        Put32(dir, static_cast<uint32_t>(data.size()));
        Put32(dir, static_cast<uint32_t>(data.size()));
        Put16(dir, static_cast<uint32_t>(name.size()));
        Put16(dir, 0);
        Put16(dir, 0);
        Put16(dir, 0);
        Put16(dir, 0);
        Put32(dir, 0);
        Put32(dir, offset);
        dir += name;
    }
    const uint32_t dirOffset = static_cast<uint32_t>(out.size());
    out += dir;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(dir.size()));
    Put32(out, dirOffset);
    Put16(out, 0);
    return std::vector<uint8_t>(out.begin(), out.end());
}

std::string MakeSolidPng(int w, int h, uint32_t argb) {
    CRenderEngine::EnsureGdiplus();
    Gdiplus::Bitmap bmp(w, h, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(&bmp);
        g.Clear(Gdiplus::Color(argb >> 24, (argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
    }
    return EncodePng(bmp);
}

std::string MakeQuadrantPng() {
    return PaintPng(20, 20, [](Gdiplus::Graphics& g) {
        Gdiplus::SolidBrush red(Gdiplus::Color(255, 255, 0, 0)), green(Gdiplus::Color(255, 0, 255, 0)),
            blue(Gdiplus::Color(255, 0, 0, 255)), white(Gdiplus::Color(255, 255, 255, 255));
        g.FillRectangle(&red, 0, 0, 10, 10);
        g.FillRectangle(&green, 10, 0, 10, 10);
        g.FillRectangle(&blue, 0, 10, 10, 10);
        g.FillRectangle(&white, 10, 10, 10, 10);
    });
}

std::string MakeFramePng() {
    return PaintPng(9, 9, [](Gdiplus::Graphics& g) {
        g.Clear(Gdiplus::Color(255, 255, 0, 0));
        Gdiplus::SolidBrush blue(Gdiplus::Color(255, 0, 0, 255));
        g.FillRectangle(&blue, 3, 3, 3, 3);
    });
}

ScopedSkinPackage::ScopedSkinPackage(const std::vector<std::pair<std::string, std::string>>& entries) {
    const std::vector<uint8_t> zip = BuildStoredZip(entries);
    ok_ = CSkinPackage::Instance().OpenFromBytes(zip.data(), zip.size());
}

ScopedSkinPackage::~ScopedSkinPackage() { CSkinPackage::Instance().Close(); }

uint32_t PixelAt(const std::vector<uint32_t>& pixels, int width, int x, int y) {
    return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
}

std::vector<uint32_t> PaintOffscreen(CPaintManagerUI& manager, int w, int h) {
    void* bits = nullptr;
    kv::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    kv::UniqueGdiObject dib = CRenderEngine::CreateDib32(nullptr, w, h, &bits);
    if (!dc || !dib) return {};
    HGDIOBJ old = ::SelectObject(dc.get(), dib.get());
    const RECT all{0, 0, w, h};
    manager.Paint(dc.get(), all);
    ::GdiFlush();
    std::vector<uint32_t> px(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + w * h);
    ::SelectObject(dc.get(), old);
    return px;
}

std::string MakePng(int w, int h, uint32_t (*pixel)(int x, int y)) {
    CRenderEngine::EnsureGdiplus();
    Gdiplus::Bitmap bmp(w, h, PixelFormat32bppARGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bmp.SetPixel(x, y, Gdiplus::Color(pixel(x, y)));
    return EncodePng(bmp);
}

HWND FindShadowOf(HWND parent) {
    struct Search {
        HWND parent;
        HWND found;
    } search{parent, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            wchar_t cls[64] = {};
            ::GetClassNameW(hwnd, cls, 64);
            if (wcscmp(cls, L"KvShadowWnd") == 0 && ::GetWindow(hwnd, GW_OWNER) == s->parent) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}
