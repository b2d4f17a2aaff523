// The painted pages, read back pixel by pixel from a 400 x 310 memory bitmap:
// background rows, button frames, the progress bar, the splash picture taken
// out of a payload built here, and the switch of the try-it field to the
// product's input method with the keyboard-layout calls stood in.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/pages.h"
#include "app/payload_bitmap.h"
#include "archive/mfz.h"
#include "app/wizard.h"
#include "base/context.h"
#include "base/sysapi.h"

namespace {
const int kW = 400;
const int kH = 310;
const COLORREF kUntouched = RGB(255, 0, 255);  // no painter uses magenta
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kTop = RGB(10, 20, 30);      // upper 190 rows of the test picture
const COLORREF kLower = RGB(200, 100, 50);  // the rows below
const COLORREF kLeftHalf = RGB(0, 200, 0);
const COLORREF kRightHalf = RGB(0, 0, 200);

COLORREF SplashRow(int y) { return RGB(0, (2 * y - 112 + 256) % 256, 250 - 140 * y / 310); }
COLORREF PageRow(int y) { return RGB(150 * y / 310, 255 * y / 310, 250 - 150 * y / 310); }

std::string Hex(COLORREF c) {
    char text[16];
    std::snprintf(text, sizeof text, "%d,%d,%d", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

// A 24-bit bottom-up BMP file; colour(x, y) with y counted from the top.
template <typename F> std::string MakeBmp(int w, int h, F colour) {
    int stride = (w * 3 + 3) / 4 * 4;
    std::string file(54 + stride * h, '\0');
    const uint32_t fields[][2] = {{2, static_cast<uint32_t>(file.size())}, {10, 54}, {14, 40},
                                  {18, static_cast<uint32_t>(w)}, {22, static_cast<uint32_t>(h)}, {26, 1 | 24 << 16}};
    for (auto& f : fields) std::memcpy(&file[f[0]], &f[1], 4);
    file[0] = 'B';
    file[1] = 'M';
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            COLORREF c = colour(x, h - 1 - row);
            char* p = &file[54 + row * stride + x * 3];
            p[0] = static_cast<char>(GetBValue(c));
            p[1] = static_cast<char>(GetGValue(c));
            p[2] = static_cast<char>(GetRValue(c));
        }
    return file;
}

// The splash picture's shape: 401 x 310, kTop above row 190, kLower below.
std::string SplashPicture() {
    return MakeBmp(401, 310, [](int, int y) { return y < 190 ? kTop : kLower; });
}
// 100 x 50, left half kLeftHalf, right half kRightHalf.
std::string SmallPicture() {
    return MakeBmp(100, 50, [](int x, int) { return x < 50 ? kLeftHalf : kRightHalf; });
}

std::vector<unsigned char> BuildPayload(const std::vector<std::pair<std::string, std::string>>& entries,
                                        int digestVariant = 1) {
    std::vector<unsigned char> image(4 * 1024 * 1024);
    ArchiveWriter writer;
    EXPECT_EQ(1, BeginArchive(&writer, image.data(), static_cast<uint32_t>(image.size()), digestVariant));
    for (auto& e : entries)
        EXPECT_EQ(1, AppendArchiveEntry(&writer, e.first.c_str(), e.second.data(),
                                        static_cast<uint32_t>(e.second.size()), 6));
    image.resize(writer.size);
    return image;
}

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ResetSysApi();
        g_ctx.runMode = kRunInteractive;
        g_window.okButtonRect = {40, 245, 140, 270};
        g_window.exitButtonRect = {260, 245, 360, 270};
        g_window.siteRowRect = {30, 192, 365, 217};
        const int32_t bar[4] = {30, 188, 340, 30};
        std::memcpy(g_window.progressRect, bar, sizeof bar);
        g_window.textFont = CreateFontA(22, 7, 0, 0, 0, 0, 0, 0, 134, 0, 0, 0, 0, "宋体");
        g_window.titleFont = CreateFontA(40, 20, 0, 0, 0, 0, 0, 0, 134, 0, 0, 0, 0, "楷体");
        g_window.redBrush = CreateSolidBrush(kRed);
        // A guard zone behind the work buffer shows any write past its end.
        work_.assign(kWorkBufferSize + kGuard, 0xA5);
        std::memset(work_.data(), 0, kWorkBufferSize);
        g_ctx.workBuffer = work_.data();

        dc_ = CreateCompatibleDC(nullptr);
        ASSERT_NE(nullptr, dc_);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof info.bmiHeader, kW, -kH, 1, 32};  // top-down: row y at bits_ + y * kW
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(nullptr, bitmap_);
        bits_ = static_cast<uint32_t*>(bits);
        oldBitmap_ = SelectObject(dc_, bitmap_);
        Fill();
    }

    void TearDown() override {
        SelectObject(dc_, oldBitmap_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        for (void* object : {g_window.textFont, g_window.titleFont, g_window.redBrush}) DeleteObject(object);
        ResetSysApi();
        ResetSetupContext();
    }

    void Fill() {
        GdiFlush();
        for (int i = 0; i < kW * kH; ++i) bits_[i] = 0xFF00FF;  // kUntouched
    }
    COLORREF Px(int x, int y) {
        GdiFlush();
        uint32_t v = bits_[y * kW + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    int Count(int x0, int y0, int x1, int y1, COLORREF c) {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) n += Px(x, y) == c;
        return n;
    }
    bool AllUntouched() { return Count(0, 0, kW - 1, kH - 1, kUntouched) == kW * kH; }
    void UsePayload(const std::vector<unsigned char>& image) {
        payload_ = image;
        g_ctx.payloadData = payload_.data();
        g_ctx.payloadSize = static_cast<uint32_t>(payload_.size());
    }
    void DrawSplashPicture() { DrawPayloadBitmap(400, 190, dc_, "tyrk1.bmp", 0, 0, 400, 190, 0, 0, 400, 190); }

    static const size_t kGuard = 4096;
    std::vector<unsigned char> work_;
    std::vector<unsigned char> payload_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    uint32_t* bits_ = nullptr;
};

void TryIt(HDC hdc) { PaintTryItPage(hdc); }
struct Painter {
    const char* name;
    void (*paint)(HDC);
    int page;
    bool splash, buttons;
} const kPainters[] = {
    {"splash", PaintSplashPage, 0, true, true},      {"site", PaintSitePage, 3, false, true},
    {"confirm", PaintConfirmPage, 5, false, true},   {"progress", PaintProgressPage, 7, false, false},
    {"try-it", TryIt, 9, false, true},
};

// ---- Background rows, frames, off-screen copy ----

TEST_F(PagesTest, EveryPainterFillsAllRowsWithItsBackground) {
    for (const Painter& p : kPainters) {
        SCOPED_TRACE(p.name);
        Fill();
        p.paint(dc_);
        // Both ends of every row are painted: 310 rows from x 0 to 399.
        EXPECT_EQ(0, Count(0, 0, 0, kH - 1, kUntouched));
        EXPECT_EQ(0, Count(kW - 1, 0, kW - 1, kH - 1, kUntouched));
        for (int y : {0, 1, 55, 56, 57, 100, 155, 231, 309})
            EXPECT_EQ(Hex(p.splash ? SplashRow(y) : PageRow(y)), Hex(Px(395, y))) << "row " << y;
    }
    // The splash green wraps: 144 at the top, 254 at row 55, 0 at row 56.
    Fill();
    PaintSplashPage(dc_);
    EXPECT_EQ(Hex(RGB(0, 144, 250)), Hex(Px(395, 0)));
    EXPECT_EQ(Hex(RGB(0, 254, 226)), Hex(Px(395, 55)));
    EXPECT_EQ(Hex(RGB(0, 0, 225)), Hex(Px(395, 56)));
    PaintSitePage(dc_);
    EXPECT_EQ(Hex(RGB(0, 0, 250)), Hex(Px(395, 0)));
    EXPECT_EQ(Hex(RGB(149, 254, 101)), Hex(Px(395, 309)));
}

TEST_F(PagesTest, ButtonsAreFramedBlackBelowAndRightWhiteAboveAndLeft) {
    for (const Painter& p : kPainters) {
        SCOPED_TRACE(p.name);
        Fill();
        p.paint(dc_);
        auto row = [&](int y) { return Hex(p.splash ? SplashRow(y) : PageRow(y)); };
        for (const PageRect& r : {g_window.okButtonRect, g_window.exitButtonRect}) {
            int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
            if (!p.buttons) {  // the progress page has none: its rows run through
                EXPECT_EQ(row(r.bottom), Hex(Px(midX, r.bottom)));
                EXPECT_EQ(row(r.top), Hex(Px(midX, r.top)));
                continue;
            }
            const std::pair<int, int> black[] = {{midX, r.bottom}, {r.right, midY}, {r.left, r.bottom}};
            const std::pair<int, int> white[] = {{midX, r.top}, {r.left, midY}, {r.right, r.top}};
            for (auto at : black) EXPECT_EQ(Hex(kBlack), Hex(Px(at.first, at.second))) << at.first << "," << at.second;
            for (auto at : white) EXPECT_EQ(Hex(kWhite), Hex(Px(at.first, at.second))) << at.first << "," << at.second;
            EXPECT_EQ(row(midY), Hex(Px(r.right + 1, midY)));
            EXPECT_EQ(row(midY), Hex(Px(r.left - 1, midY)));
            EXPECT_EQ(row(r.bottom + 1), Hex(Px(midX, r.bottom + 1)));
            // The caption in its pink: thin smoothed strokes that raise the
            // red of the background inside the frame.
            int pink = 0;
            for (int y = r.top + 1; y < r.bottom; ++y)
                for (int x = r.left + 1; x < r.right; ++x)
                    pink += GetRValue(Px(x, y)) >= GetRValue(p.splash ? SplashRow(y) : PageRow(y)) + 60 &&
                            GetBValue(Px(x, y)) < 200;
            EXPECT_GT(pink, 150);
        }
    }
    // The site and confirm pages frame the field row too.
    for (void (*paint)(HDC) : {PaintSitePage, PaintConfirmPage}) {
        paint(dc_);
        EXPECT_EQ(Hex(kBlack), Hex(Px(300, 217)));
        EXPECT_EQ(Hex(kBlack), Hex(Px(365, 200)));
        EXPECT_EQ(Hex(kWhite), Hex(Px(300, 192)));
        EXPECT_EQ(Hex(kWhite), Hex(Px(30, 200)));
    }
}

TEST_F(PagesTest, CurrentPageIsPaintedOffScreenAndCopiedWhole) {
    for (const Painter& p : kPainters) {
        SCOPED_TRACE(p.name);
        g_ctx.currentPage = p.page;
        Fill();
        p.paint(dc_);
        GdiFlush();
        std::vector<uint32_t> direct(bits_, bits_ + kW * kH);
        Fill();
        PaintCurrentPage(dc_);
        GdiFlush();
        EXPECT_TRUE(direct == std::vector<uint32_t>(bits_, bits_ + kW * kH));
    }
}

TEST_F(PagesTest, SplashPageKeepsTheCurrentDirectoryCodePageAndFont) {
    char before[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, before));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    HGDIOBJ original = GetCurrentObject(dc_, OBJ_FONT);
    PaintSplashPage(dc_);
    EXPECT_STREQ("C:", g_window.currentDirectory);
    EXPECT_EQ(static_cast<int32_t>(GetOEMCP()), g_ctx.oemCodePage);
    EXPECT_EQ(original, g_window.savedFont);
    EXPECT_EQ(g_window.textFont, GetCurrentObject(dc_, OBJ_FONT));

    ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));
    PaintSplashPage(dc_);
    EXPECT_STREQ("C:\\windows", g_window.currentDirectory);
    SetCurrentDirectoryA(before);
}

// ---- The progress bar ----

TEST_F(PagesTest, ProgressBarFillsItsShareInRedAndClearsToWhite) {
    const int kRow = 204;  // inside the bar, away from its outline
    struct Case {
        int done, total;
        int red;  // red pixels per row inside the outline
    } cases[] = {
        {32, 64, 168},  // 170 pixels, outline included
        {70, 64, 338},  // more than the total: full
        {64, 64, 338},
        {5, 0, 0},                   // no total: nothing red
        {10000000, 20000000, 168},   // large counts do not overflow
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.done) + "/" + std::to_string(c.total));
        Fill();
        DrawProgressBarOn(dc_, c.done, c.total);
        EXPECT_EQ(c.red * 25, Count(0, 0, kW - 1, kH - 1, kRed));
        EXPECT_EQ(c.red * 25, Count(31, 192, 30 + c.red, 216, kRed));
        if (c.red > 0) {
            EXPECT_EQ(Hex(kBlack), Hex(Px(31 + c.red, kRow)));  // the outline's right side
            EXPECT_EQ(Hex(kUntouched), Hex(Px(32 + c.red, kRow)));
        }
    }
    // done 0 clears a full bar to white inside its black outline.
    Fill();
    DrawProgressBarOn(dc_, 64, 64);
    DrawProgressBarOn(dc_, 0, 64);
    EXPECT_EQ(0, Count(0, 0, kW - 1, kH - 1, kRed));
    EXPECT_EQ(338 * 25, Count(31, 192, 368, 216, kWhite));
    EXPECT_EQ(Hex(kBlack), Hex(Px(30, kRow)));
    EXPECT_EQ(Hex(kBlack), Hex(Px(369, kRow)));
    EXPECT_EQ(Hex(kUntouched), Hex(Px(100, 190)));
    EXPECT_EQ(Hex(kUntouched), Hex(Px(100, 218)));
}

// ---- The payload picture ----

TEST_F(PagesTest, SplashShowsTheTopOfThePayloadPictureOverTheLoadingText) {
    // Without the picture the loading text stays: dark glyphs on the opaque
    // white of the paint context's default colours.
    UsePayload(BuildPayload({{"other.txt", "text"}}));
    PaintSplashPage(dc_);
    EXPECT_GT(Count(50, 150, 300, 163, kWhite), 500);
    EXPECT_GT(Count(50, 150, 300, 163, kBlack), 50);

    for (int variant : {1, 0}) {
        SCOPED_TRACE(variant);
        UsePayload(BuildPayload({{"other.txt", "text"}, {"tyrk1.bmp", SplashPicture()}}, variant));
        Fill();
        PaintSplashPage(dc_);
        // Rows 0-189 show the picture's top rows; from row 190 on the page's
        // own background: the lower part of the picture is not drawn.
        for (int y : {0, 100, 150, 189}) EXPECT_EQ(Hex(kTop), Hex(Px(395, y))) << y;
        EXPECT_EQ(Hex(SplashRow(190)), Hex(Px(395, 190)));
        EXPECT_EQ(0, Count(0, 0, kW - 1, kH - 1, kLower));
        EXPECT_EQ(251 * 14, Count(50, 150, 300, 163, kTop));  // the loading text is covered
    }
}

TEST_F(PagesTest, PictureIsClippedToItsSizeAndToTheEdges) {
    UsePayload(BuildPayload({{"small.bmp", SmallPicture()}}));
    // The source is cut to the 100 x 50 picture, then stretched to 400 x 190.
    DrawPayloadBitmap(400, 190, dc_, "small.bmp", 0, 0, 400, 190, 0, 0, 400, 190);
    EXPECT_EQ(200 * 190, Count(0, 0, 199, 189, kLeftHalf));
    EXPECT_EQ(200 * 190, Count(200, 0, 399, 189, kRightHalf));
    EXPECT_EQ(Hex(kUntouched), Hex(Px(200, 190)));
    // A source that starts inside the picture keeps only what lies there.
    Fill();
    DrawPayloadBitmap(400, 190, dc_, "small.bmp", 0, 0, 400, 190, 60, 0, 400, 190);
    EXPECT_EQ(400 * 190, Count(0, 0, 399, 189, kRightHalf));

    // Destinations at or beyond the clipping edge get nothing.
    struct Edge {
        int maxRight, maxBottom, x, y;
    } edges[] = {{400, 190, 0, 190}, {400, 190, 400, 0}, {100, 300, 100, 0}, {400, 190, 500, 250}};
    for (const Edge& e : edges) {
        Fill();
        DrawPayloadBitmap(e.maxRight, e.maxBottom, dc_, "small.bmp", e.x, e.y, 50, 20, 0, 0, 100, 50);
        EXPECT_TRUE(AllUntouched()) << e.x << "," << e.y;
    }
    // One row inside the edge draws.
    Fill();
    DrawPayloadBitmap(400, 190, dc_, "small.bmp", 0, 189, 50, 1, 0, 0, 100, 50);
    EXPECT_EQ(0, Count(0, 189, 49, 189, kUntouched));
    EXPECT_EQ(kW * kH - 50, Count(0, 0, kW - 1, kH - 1, kUntouched));
}

TEST_F(PagesTest, DamagedOrLyingPicturesDrawNothing) {
    const std::string good = SplashPicture();
    auto with32 = [&](size_t at, uint32_t v) {
        std::string f = good;
        std::memcpy(&f[at], &v, 4);
        return f;
    };
    std::string paletted = good.substr(0, 54);  // 8 bits, 256 colours implied, no table
    paletted[28] = 8;
    std::pair<const char*, std::string> cases[] = {
        {"not a bitmap", "XM" + good.substr(2)},
        {"header cut", good.substr(0, 20)},
        {"rows cut short", good.substr(0, good.size() - 1)},
        {"pixel offset past the end", with32(10, 0xFFFFFFF0u)},
        {"huge info header", with32(14, 0x7FFFFFFFu)},
        {"height lies", with32(22, 0x10000)},
        {"colour table missing", paletted},
        {"compressed rows", with32(30, 1)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.first);
        UsePayload(BuildPayload({{"tyrk1.bmp", c.second}}));
        Fill();
        DrawSplashPicture();
        EXPECT_TRUE(AllUntouched());
    }

    // A zlib stream cut in half: the header comes out whole, the rows do not,
    // and only the bytes that came out count.
    std::vector<unsigned char> image = BuildPayload({{"tyrk1.bmp", good}});
    ArchiveWalk walk;
    ArchiveEntry entry;
    ASSERT_EQ(1, BeginArchiveWalk(&walk, image.data(), static_cast<uint32_t>(image.size())));
    ASSERT_EQ(1, NextArchiveEntry(&walk, &entry));
    uint32_t half = entry.dataSize / 2;
    std::memcpy(&image[entry.offset + kDigestEntryHeaderSize - 4], &half, 4);
    image.resize(entry.offset + kDigestEntryHeaderSize + half);
    UsePayload(image);
    uint32_t produced = LoadPayloadEntry("tyrk1.bmp");
    EXPECT_GT(produced, 54u);
    EXPECT_LT(produced, good.size());
    Fill();
    DrawSplashPicture();
    EXPECT_TRUE(AllUntouched());

    // A picture left in the work buffer is not drawn again once the entry is gone.
    UsePayload(BuildPayload({{"tyrk1.bmp", good}}));
    DrawSplashPicture();
    EXPECT_EQ(Hex(kTop), Hex(Px(10, 10)));
    UsePayload(BuildPayload({{"tyrk2.bmp", good}}));
    Fill();
    DrawSplashPicture();
    EXPECT_TRUE(AllUntouched());
}

TEST_F(PagesTest, EntryLoadStaysInsideThePayloadAndTheWorkBuffer) {
    const std::string picture = SmallPicture();
    std::vector<unsigned char> image = BuildPayload({{"a.txt", "first"}, {"small.bmp", picture}});
    UsePayload(image);
    EXPECT_EQ(picture.size(), LoadPayloadEntry("small.bmp"));
    EXPECT_EQ(0, std::memcmp(work_.data() + 100, picture.data(), picture.size()));
    // Names compare exactly, case included; a miss clears bytes 100 and 101.
    EXPECT_EQ(0u, LoadPayloadEntry("SMALL.BMP"));
    EXPECT_EQ(0u, LoadPayloadEntry("small.bm"));
    EXPECT_EQ(0, work_[100] | work_[101]);
    // A payload size that ends inside the entry ends the walk before it.
    g_ctx.payloadSize -= 1;
    EXPECT_EQ(0u, LoadPayloadEntry("small.bmp"));

    // A file larger than the work buffer fills it to the end and no further.
    UsePayload(BuildPayload({{"big.bin", std::string(kWorkBufferSize + 5000, 'z')}}));
    EXPECT_EQ(kWorkBufferSize - 100, LoadPayloadEntry("big.bin"));
    EXPECT_EQ('z', work_[kWorkBufferSize - 1]);
    EXPECT_EQ(std::string(kGuard, '\xA5'), std::string(work_.begin() + kWorkBufferSize, work_.end()));

    // No payload, or no work buffer (its allocation failed): nothing happens.
    g_ctx.payloadData = nullptr;
    EXPECT_EQ(0u, LoadPayloadEntry("big.bin"));
    UsePayload(image);
    g_ctx.workBuffer = nullptr;
    EXPECT_EQ(0u, LoadPayloadEntry("small.bmp"));
    DrawPayloadBitmap(400, 190, dc_, "small.bmp", 0, 0, 400, 190, 0, 0, 400, 190);
    EXPECT_TRUE(AllUntouched());
}

// ---- The product's input method on the try-it page ----

struct LayoutFakes {
    std::vector<HKL> installed;
    HKL current = nullptr;
    std::vector<std::pair<HKL, std::string>> descriptions;
    std::vector<std::pair<HKL, UINT>> activated;
    int listed = 0;
} g_fake;

HKL WINAPI FakeCurrentLayout(DWORD) { return g_fake.current; }
int WINAPI FakeLayoutList(int cap, HKL* out) {
    ++g_fake.listed;
    int n = 0;
    for (HKL h : g_fake.installed)
        if (n < cap) out[n++] = h;
    return n;
}
UINT WINAPI FakeDescription(HKL layout, LPSTR out, UINT cap) {
    for (auto& d : g_fake.descriptions)
        if (d.first == layout) {
            std::string text = d.second.substr(0, cap - 1);
            std::memcpy(out, text.c_str(), text.size() + 1);
            return static_cast<UINT>(text.size());
        }
    return 0;
}
HKL WINAPI FakeActivate(HKL layout, UINT flags) {
    g_fake.activated.push_back({layout, flags});
    return layout;
}
// Windows 9x (and wine): no activation for the whole process.
HKL WINAPI FakeActivateForThreadOnly(HKL layout, UINT flags) {
    g_fake.activated.push_back({layout, flags});
    return (flags & KLF_SETFORPROCESS) != 0 ? nullptr : layout;
}
HKL Layout(uintptr_t v) { return reinterpret_cast<HKL>(v); }

class ProductImeTest : public PagesTest {
protected:
    void SetUp() override {
        PagesTest::SetUp();
        g_fake = LayoutFakes();
        g_sys.activateKeyboardLayout = FakeActivate;
    }
    void FakeAllLayouts() {
        g_sys.getKeyboardLayout = FakeCurrentLayout;
        g_sys.getKeyboardLayoutList = FakeLayoutList;
        g_sys.immGetDescriptionA = FakeDescription;
    }
};

TEST_F(ProductImeTest, NothingBeforeTheProgressPageOrWhenTheProductIsCurrent) {
    FakeAllLayouts();
    g_fake.installed = {Layout(0x04090409), Layout(0xE0200804)};
    g_fake.descriptions = {{Layout(0xE0200804), "智能墨筏输入平台"}};
    g_ctx.currentPage = 6;
    EXPECT_EQ(0, ActivateProductIme());
    EXPECT_EQ(0, g_fake.listed);

    g_ctx.currentPage = 8;
    g_fake.current = Layout(0xE0200804);
    EXPECT_EQ(0, ActivateProductIme());
    EXPECT_EQ(0, PaintTryItPage(dc_));
    EXPECT_TRUE(g_fake.activated.empty());
    EXPECT_EQ(nullptr, g_ctx.imeLayoutHandle);
}

TEST_F(ProductImeTest, NoMatchingLayoutUnderWineActivatesNothing) {
    // The real calls: wine describes every layout as "Wine XIM".
    g_ctx.currentPage = 7;
    EXPECT_EQ(1, ActivateProductIme());
    g_ctx.currentPage = 9;
    EXPECT_EQ(1, PaintTryItPage(dc_));
    EXPECT_TRUE(g_fake.activated.empty());
    EXPECT_EQ(nullptr, g_ctx.imeLayoutHandle);
}

TEST_F(ProductImeTest, FirstLayoutWithTheProductDescriptionIsKeptAndActivated) {
    FakeAllLayouts();
    g_fake.current = Layout(0x04090409);
    g_fake.installed = {Layout(0x04090409), Layout(0xE0210804), Layout(0xE0200804), Layout(0xE0220804)};
    g_fake.descriptions = {
        {Layout(0x04090409), "US"},
        {Layout(0xE0210804), "智能墨筏"},              // only 8 bytes of it
        {Layout(0xE0200804), "智能墨筏输入平台 7.9"},  // the first 16 bytes match
        {Layout(0xE0220804), "智能墨筏输入平台"},
    };
    g_ctx.currentPage = 8;
    EXPECT_EQ(1, PaintTryItPage(dc_));
    EXPECT_EQ(Layout(0xE0200804), g_ctx.imeLayoutHandle);
    ASSERT_EQ(1u, g_fake.activated.size());
    EXPECT_EQ(Layout(0xE0200804), g_fake.activated[0].first);
    EXPECT_EQ(static_cast<UINT>(KLF_SETFORPROCESS), g_fake.activated[0].second);

    // A repaint while another layout is current activates the kept layout
    // again without listing the layouts anew.
    EXPECT_EQ(1, ActivateProductIme());
    EXPECT_EQ(1, g_fake.listed);
    ASSERT_EQ(2u, g_fake.activated.size());
    EXPECT_EQ(Layout(0xE0200804), g_fake.activated[1].first);
}
TEST_F(ProductImeTest, WithoutProcessWideActivationTheWizardThreadGetsTheLayout) {
    FakeAllLayouts();
    g_sys.activateKeyboardLayout = FakeActivateForThreadOnly;
    g_fake.current = Layout(0x04090409);
    g_ctx.imeLayoutHandle = Layout(0xE0200804);  // from the registration
    g_ctx.currentPage = 8;
    EXPECT_EQ(1, PaintTryItPage(dc_));
    ASSERT_EQ(2u, g_fake.activated.size());
    EXPECT_EQ(static_cast<UINT>(KLF_SETFORPROCESS), g_fake.activated[0].second);
    EXPECT_EQ(Layout(0xE0200804), g_fake.activated[1].first);
    EXPECT_EQ(0u, g_fake.activated[1].second);
    EXPECT_EQ(0, g_fake.listed);
}
}  // namespace
