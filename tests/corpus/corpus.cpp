/* Files that ImageMagick writes from one pattern of known pixels, one file a quirk, read
   through the module and compared with the pattern. run-corpus.sh asks for the script that
   makes them (--corpus-commands), runs it on the Linux side and then the tests here. */
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include "q32file.h"
#include "image.h"
#include "harness.h"

using q32test::ReadError;

namespace {

/* Odd sizes: padded rows, part bytes. Eight colours in runs, a grey ramp and alpha in
   three levels; the 16-bit sources add less than one 8-bit step to each sample, so a
   swapped byte order shows. */
const int W = 13, H = 7;
const uint8_t Colours[8][3] = {{0x20, 0x40, 0xC0}, {0xF0, 0x10, 0x30}, {0x10, 0xA0, 0x50},
                               {255, 255, 255},    {0, 0, 0},          {0x80, 0x70, 0x10},
                               {0x33, 0xCC, 0xEE}, {0x99, 0x22, 0x88}};
const uint8_t *Colour(int x, int y) { return Colours[(x / 3 + y * 5 + x * y % 2) % 8]; }
int Grey(int x, int y) { return (x * 19 + y * 37) % 256; }
int Alpha(int x) { return x % 4 == 0 ? 0 : x % 4 == 1 ? 96 : 255; }

enum Kind { Rgb, GreyRamp, WithAlpha, Cutout /* alpha 0 or 255 */, Bilevel };
enum { Near = 8 /* 5-bit channels, premultiplied alpha */, Lossy = 255 };
enum Flip { Upright, Mirrored, UpsideDown };
struct Box { int x, y, w, h; std::array<int, 4> rgba; }; /* painted over the pattern */

struct Row {
    const char *file, *code, *make; /* make: the shell words after convert, {} the file */
    Kind kind = Rgb;
    int tolerance = 0; /* of each sample */
    Flip flip = Upright;
    int frame = 0;
    std::vector<Box> boxes = {};
};

#define S16 "src.ppm"
#define S8 S16 " -depth 8"
#define G8 "grey.pgm -depth 8"
#define ALPHA S8 " alpha.pgm -alpha off -compose CopyOpacity -composite"
#define CUT ALPHA " -channel A -threshold 50% +channel"
#define BW "grey.pgm -threshold 50% -type Bilevel"
/* The pattern, then a yellow block disposed of as given, then a cyan block. */
#define FRAMES(dispose) S8 " -dispose " dispose " \\( -size 4x3 xc:yellow -repage 13x7+2+1 \\)" \
    " -dispose None \\( -size 3x3 xc:cyan -repage 13x7+8+3 \\) gif:{}"
/* A height of -7: the rows, stored bottom row first, are read top row first. */
#define TOPDOWN " && printf '\\371\\377\\377\\377' | dd of={} bs=1 seek=22 conv=notrunc 2>/dev/null"
const Box Cyan = {8, 3, 3, 3, {0, 255, 255, 255}}, Cleared = {2, 1, 4, 3, {0, 0, 0, 0}};

/* ImageMagick stores a TGA's rows as they stand, top row first, under the origin it is
   told (bottom left when told none): the file shows the pattern turned over. */
const Row Rows[] = {
    {"rle8.bmp", "BMP", S8 " -type Palette -compress RLE bmp3:{}"},
    {"4bit.bmp", "BMP", S8 " -type Palette bmp3:{}"},
    {"1bit.bmp", "BMP", BW " bmp3:{}", Bilevel},
    {"grey.bmp", "BMP", G8 " -type Grayscale bmp3:{}", GreyRamp},
    {"565.bmp", "BMP", S8 " -define bmp:subtype=RGB565 bmp:{}", Rgb, Near},
    {"os2.bmp", "BMP", S8 " -type Palette bmp2:{}"},
    {"topdown.bmp", "BMP", S8 " -type TrueColor bmp3:{}" TOPDOWN, Rgb, 0, UpsideDown},
    {"v5alpha.bmp", "BMP", ALPHA " bmp:{}", WithAlpha},
    {"24.tga", "TGA", S8 " -type TrueColor tga:{}", Rgb, 0, UpsideDown},
    {"topright.tga", "TGA", S8 " -type TrueColor -orient TopRight tga:{}", Rgb, 0, Mirrored},
    {"mapped_rle.tga", "TGA", S8 " -type Palette -compress RLE tga:{}", Rgb, 0, UpsideDown},
    {"alpha_rle.tga", "TGA", ALPHA " -compress RLE -orient TopLeft tga:{}", WithAlpha},
    {"grey_rle.tga", "TGA", G8 " -type Grayscale -compress RLE -orient TopLeft tga:{}", GreyRamp},
    {"p6.ppm", "PNM", S8 " ppm:{}"},
    {"w.wbmp", "WBM", BW " wbmp:{}", Bilevel},
    {"48.png", "PNG", S16 " png48:{}"},
    {"grey16.png", "PNG", "grey.pgm png:{}", GreyRamp},
    {"1bit.png", "PNG", BW " png:{}", Bilevel},
    {"4bit.png", "PNG", S8 " -define png:bit-depth=4 -define png:color-type=3 png:{}"},
    {"trns.png", "PNG", CUT " png8:{}", Cutout},
    {"alpha.png", "PNG", ALPHA " -interlace PNG png32:{}", WithAlpha},
    {"q95.jpg", "JPG", S8 " -quality 95 jpg:{}", Rgb, Lossy},
    {"grey.jpg", "JPG", G8 " -quality 95 jpg:{}", GreyRamp, Lossy},
    {"cmyk.jpg", "JPG", S8 " -colorspace CMYK -quality 95 jpg:{}", Rgb, Lossy},
    {"previous.gif", "GIF", FRAMES("Previous"), Rgb, 0, Upright, 2, {Cyan}},
    {"background.gif", "GIF", FRAMES("Background"), Rgb, 0, Upright, 2, {Cleared, Cyan}},
    {"trns.gif", "GIF", CUT " gif:{}", Cutout},
    {"48.tif", "TIF", S16 " -compress Zip tif:{}"},
    {"premultiplied.tif", "TIF", ALPHA " -define tiff:alpha=associated tif:{}", WithAlpha, Near},
    {"pages.tif", "TIF", "\\( " G8 " \\) " S8 " -compress LZW tif:{}", Rgb, 0, Upright, 1},
    {"icon.ico", "ICO", "\\( -size 4x4 xc:red \\) " S8 " ico:{}"}, /* the largest image opens */
};

/* What the file shows at (x, y), as R, G, B, A. */
std::array<int, 4> Expected(const Row &row, int x, int y)
{
    if (row.flip == Mirrored) x = W - 1 - x;
    if (row.flip == UpsideDown) y = H - 1 - y;
    for (const Box &b : row.boxes)
        if (x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h)
            return b.rgba;
    const uint8_t *c = Colour(x, y);
    int g = row.kind == Bilevel ? (Grey(x, y) >= 128) * 255 : Grey(x, y);
    if (row.kind == GreyRamp || row.kind == Bilevel) return {g, g, g, 255};
    int a = row.kind == WithAlpha ? Alpha(x) : row.kind == Cutout ? (Alpha(x) >= 128) * 255 : 255;
    return {c[0], c[1], c[2], a};
}

/* The sources as text images: the pattern and its grey ramp in 16 bits, the alpha. */
void PrintCommands()
{
    _setmode(_fileno(stdout), _O_BINARY);
    printf("set -e\ncat >src.ppm <<END\nP3 %d %d 65535\n", W, H);
    for (int i = 0; i < W * H * 3; i++)
        printf("%d\n", Colour(i / 3 % W, i / 3 / W)[i % 3] * 257 + i * 7 % 97);
    printf("END\ncat >grey.pgm <<END\nP2 %d %d 65535\n", W, H);
    for (int i = 0; i < W * H; i++) printf("%d\n", Grey(i % W, i / W) * 257 + i * 11 % 97);
    printf("END\ncat >alpha.pgm <<END\nP2 %d %d 255\n", W, H);
    for (int i = 0; i < W * H; i++) printf("%d\n", Alpha(i % W));
    printf("END\n");
    for (const Row &row : Rows) {
        std::string make = row.make;
        for (size_t at; (at = make.find("{}")) != std::string::npos;) make.replace(at, 2, row.file);
        printf("convert %s\n", make.c_str());
    }
}

/* The module's rows at (x, y) as R, G, B, A: palettes looked up, grey spread. */
std::array<int, 4> Pixel(Image &image, int x, int y)
{
    const BYTE *p = image.Row(y);
    switch (image.dataType) {
    case Q32_TYPE_BGRA: return {p[4 * x + 2], p[4 * x + 1], p[4 * x], p[4 * x + 3]};
    case Q32_TYPE_RGB: return {p[3 * x + 2], p[3 * x + 1], p[3 * x], 255};
    case Q32_TYPE_GREY8: return {p[x], p[x], p[x], 255};
    }
    unsigned index = image.dataType == Q32_TYPE_BILEVEL ? p[x / 8] >> (7 - x % 8) & 1 : p[x];
    if (image.palette.empty()) return {int(index) * 255, int(index) * 255, int(index) * 255, 255};
    if (index >= image.palette.size()) return {-1000, 0, 0, 0};
    const PALETTEENTRY &e = image.palette[index];
    return {e.peRed, e.peGreen, e.peBlue, 255};
}

void PrintTo(const Row &row, std::ostream *out) { *out << row.file; }

class Corpus : public ::testing::TestWithParam<Row> {};

TEST_P(Corpus, ShowsThePatternItWasMadeFrom)
{
    const Row &row = GetParam();
    ASSERT_NE(nullptr, getenv("Q32_CORPUS")) << "run through run-corpus.sh";
    std::string path = std::string("Z:") + getenv("Q32_CORPUS") + "/" + row.file;
    std::replace(path.begin(), path.end(), '/', '\\');
    char code[8] = "";
    HGLOBAL data = qfFileGetFileData(path.c_str(), code);
    ASSERT_NE(nullptr, data) << ReadError().text;
    EXPECT_STREQ(row.code, code);
    ASSERT_TRUE(!row.frame || qfFileReadFrameIndex(data, 0, 0, row.frame) == 1) << ReadError().text;
    const DWORD native = Q32_TYPE_BGRA | Q32_TYPE_RGB | Q32_TYPE_GREY8 | Q32_TYPE_BILEVEL |
                         Q32_TYPE_PALETTE8 | Q32_TYPE_PALETTE4;
    Image image;
    INT_PTR read = ReadImage(data, image, HasTransparency(data) ? Q32_TYPE_BGRA : native);
    q32FileFreeFileData(data);
    ASSERT_EQ(1, read) << ReadError().text;
    ASSERT_EQ(W, image.width);
    ASSERT_EQ(H, image.height);
    double squares = 0;
    std::string beyond; /* the first sample beyond the tolerance */
    for (int i = 0; i < W * H * 4; i++) {
        int x = i / 4 % W, y = i / 4 / W, k = i % 4;
        std::array<int, 4> got = Pixel(image, x, y), want = Expected(row, x, y);
        if (!got[3] && !want[3]) continue; /* both clear: no colour to compare */
        int d = std::abs(got[k] - want[k]);
        squares += d * d;
        if (d > row.tolerance && beyond.empty())
            beyond = std::to_string(x) + "," + std::to_string(y) + " sample " + std::to_string(k);
    }
    EXPECT_EQ("", beyond);
    double psnr = 10 * std::log10(255.0 * 255 * W * H * 4 / std::max(squares, 1.0));
    EXPECT_GE(psnr, 30.0) << "dB of peak signal to noise";
}

INSTANTIATE_TEST_SUITE_P(ImageMagick, Corpus, ::testing::ValuesIn(Rows));

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && !strcmp(argv[1], "--corpus-commands")) return PrintCommands(), 0;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
