/*
 * Files that another program writes, read through the module. Each row is a shell command
 * (ImageMagick's convert) that makes one file; run-corpus.sh runs them on the Linux side
 * (asking for them with --corpus-commands) and puts ImageMagick's own decode beside each
 * (NAME.rgba, 8-bit R, G, B, A; NAME.size, "width height"), which the module's read of the
 * file must match.
 */
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "q32file.h"
#include "q32fio.h"
#include "image.h"
#include "harness.h"
#include "q32comm.h"

namespace {

enum class Compare {
    Exact,      /* lossless: every sample equal */
    Within1,    /* channels of fewer than 8 bits widened: rounding and bit copying differ by 1 */
    Psnr35      /* lossy: colour within 35 dB of the reference, alpha ignored */
};

struct Row {
    const char *name;    /* the file is NAME.EXT in the corpus folder; also the case's name */
    const char *ext;
    const char *code;    /* the format detection must find */
    /* Makes the file: {out} stands for its name. */
    const char *make;
    Compare compare = Compare::Exact;
    /* What ImageMagick decodes as the reference ({out}[0] when null), and the frame the
       module reads. */
    const char *decode = nullptr;
    int frame = 0;
    /* Not read: detection answers this error (a variant the plug-in cannot handle). */
    UINT refused = 0;
};

/* A 37 x 23 source: odd sizes give padded rows and part bytes. */
#define PLASMA "-size 37x23 -seed 7 plasma:fractal"
#define GRADIENT "-size 37x23 gradient:red-blue"
#define GREY "-size 37x23 gradient:white-black"
/* A plasma with an alpha ramp from opaque (left) to nearly clear (right). */
#define ALPHA PLASMA " \\( +clone -alpha off -fx 'i/w' \\) -compose CopyOpacity -composite"
/* ImageMagick keeps a TGA's origin as an orientation tag and its rows as stored, top row
   first: oriented, its decode is the image that the origin describes. */
#define ORIENTED "'{out}[0]' -auto-orient"
/* Red with a blue corner, the red transparent: a palette with a transparent entry. */
#define TRNS "-size 37x23 xc:red -fill blue -draw 'rectangle 0,0 10,10' -transparent red"
/* Three frames on a 37 x 23 screen with one disposal method: the screen red, then a blue
   block and a lime block that do not cover it. */
#define FRAMES(dispose) "-dispose " dispose " -size 37x23 xc:red \\( -size 10x8 xc:blue -repage 37x23+5+3 \\)" \
    " \\( -size 6x6 xc:lime -repage 37x23+20+10 \\) -loop 0"
/* A further frame over the screen, transparent but for a yellow square. */
#define HOLED "\\( -size 37x23 xc:none -fill yellow -draw 'rectangle 3,3 12,12' \\)"
/* An EXIF block after the start of {out}.base, orientation 6 (turned a quarter clockwise
   to be shown), written as {out}: ImageMagick writes no orientation of its own. */
#define EXIF_TURNED " && { head -c 2 {out}.base; printf '\\377\\341\\000\\042Exif\\000\\000II*\\000\\010\\000\\000\\000" \
    "\\001\\000\\022\\001\\003\\000\\001\\000\\000\\000\\006\\000\\000\\000\\000\\000\\000\\000'; tail -c +3 {out}.base; } >{out}"
/* ImageMagick's first or last frame as the screen shows it. */
#define COALESCED_FIRST "'{out}' -coalesce -delete 1--1"
#define COALESCED_LAST "'{out}' -coalesce -delete 0--2"

/* Patches the height of a BMP to -23 (stored top row first): ImageMagick reads it flipped
   as the module must, and has no option to write it so. */
#define TOPDOWN " && printf '\\351\\377\\377\\377' | dd of={out} bs=1 seek=22 conv=notrunc 2>/dev/null"

const Row Rows[] = {
    /* ---- BMP (bmp.fio). ImageMagick pads every run-length row to four pixels and
       writes RLE8 only, also for 16 colours. */
    {"bmp_rle8", "bmp", "BMP", "convert " PLASMA " -colors 200 -compress RLE bmp3:{out}"},
    {"bmp_rle8_16colours", "bmp", "BMP", "convert " GRADIENT " -colors 16 -compress RLE bmp3:{out}"},
    {"bmp_1bit", "bmp", "BMP", "convert " PLASMA " -type Bilevel bmp3:{out}"},
    /* (ImageMagick widens 4-bit channels by a shift, 15 to 240: no reference for 4-4-4-4.) */
    {"bmp_bitfields_565", "bmp", "BMP", "convert " PLASMA " -define bmp:subtype=RGB565 bmp:{out}", Compare::Within1},
    {"bmp_os2_palette", "bmp", "BMP", "convert " PLASMA " -colors 100 bmp2:{out}"},
    {"bmp_topdown_8bit", "bmp", "BMP", "convert " PLASMA " -colors 60 -compress None bmp3:{out}" TOPDOWN},
    {"bmp_v5_alpha", "bmp", "BMP", "convert " ALPHA " bmp:{out}"},

    /* ---- TGA (tga.fio). ImageMagick writes no footer; its alpha is the descriptor's eight
       bits; its rows stand as stored under every origin (see ORIENTED). */
    {"tga_type9_mapped_rle", "tga", "TGA", "convert " PLASMA " -colors 50 -type Palette -compress RLE tga:{out}",
     Compare::Exact, ORIENTED},
    {"tga_type2_top_right", "tga", "TGA", "convert " PLASMA " -type TrueColor -orient TopRight tga:{out}",
     Compare::Exact, ORIENTED},
    {"tga_type10_alpha_rle", "tga", "TGA", "convert " ALPHA " -compress RLE tga:{out}", Compare::Exact, ORIENTED},
    {"tga_type11_grey_rle", "tga", "TGA", "convert " PLASMA " -type Grayscale -compress RLE tga:{out}",
     Compare::Exact, ORIENTED},

    /* ---- PNM (pnm.fio): the binary variants. */
    {"pnm_pbm", "pbm", "PNM", "convert " PLASMA " -type Bilevel pbm:{out}"},
    {"pnm_pgm", "pgm", "PNM", "convert " GREY " -depth 8 pgm:{out}"},

    /* ---- PNG (wic.fio). 16-bit samples are read as 8 (s x 255 / 65535 rounded down, as
       ImageMagick reduces them); transparency comes as alpha. */
    {"png_palette_trns", "png", "PNG", "convert " TRNS " png8:{out}"},
    {"png_grey_alpha", "png", "PNG", "convert " GREY " \\( +clone -fx 'i/w' \\) -alpha off -compose CopyOpacity -composite"
     " -type GrayscaleAlpha png:{out}"},
    {"png_16bit_alpha", "png", "PNG", "convert " ALPHA " -depth 16 png64:{out}"},
    {"png_interlaced", "png", "PNG", "convert " PLASMA " -interlace PNG png24:{out}"},

    /* ---- JPEG (wic.fio): another decoder of the same stream, within 35 dB. */
    {"jpg_progressive", "jpg", "JPG", "convert " PLASMA " -quality 92 -interlace JPEG jpg:{out}", Compare::Psnr35},
    {"jpg_cmyk", "jpg", "JPG", "convert " PLASMA " -colorspace CMYK -quality 92 jpg:{out}", Compare::Psnr35},
    {"jpg_exif_rotated", "jpg", "JPG", "convert " PLASMA " -quality 92 jpg:{out}.base" EXIF_TURNED, Compare::Psnr35,
     ORIENTED},

    /* ---- GIF (wic.fio): frames as the screen shows them, each disposal; the reference is
       ImageMagick's coalesced frame. */
    {"gif_disposal_previous", "gif", "GIF", "convert " FRAMES("Previous") " gif:{out}", Compare::Exact, COALESCED_LAST, 2},
    {"gif_small_first_frame", "gif", "GIF", "convert " FRAMES("None") " -delete 0 gif:{out}", Compare::Exact,
     COALESCED_FIRST, 0},
    {"gif_transparent_frame", "gif", "GIF", "convert " FRAMES("None") " " HOLED " gif:{out}", Compare::Exact,
     COALESCED_LAST, 3},

    /* ---- TIFF (wic.fio). */
    {"tif_16bit", "tif", "TIF", "convert " GRADIENT " -depth 16 -compress LZW tif:{out}"},
    {"tif_multipage", "tif", "TIF", "convert " PLASMA " " GRADIENT " -compress LZW tif:{out}", Compare::Exact,
     "'{out}[1]'", 1},
    {"tif_12bit_grey", "tif", "TIF", "convert " GREY " -type Grayscale -depth 12 tif:{out}", Compare::Exact, nullptr, 0,
     5200},

    /* ---- ICO (wic.fio): the largest of its images is opened. */
    {"ico_sizes", "ico", "ICO", "convert " PLASMA " -define icon:auto-resize=48,32,16 ico:{out}"},
};

std::string Replace(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

/* The shell script that makes every file and its reference in the current folder. */
void PrintCommands()
{
    _setmode(_fileno(stdout), _O_BINARY);
    printf("set -e\n");
    for (const Row &row : Rows) {
        std::string file = std::string(row.name) + "." + row.ext;
        std::string decode = Replace(row.decode ? row.decode : "'{out}[0]'", "{out}", file);
        printf("%s\n", Replace(row.make, "{out}", file).c_str());
        if (row.refused) continue;
        printf("convert %s -depth 8 rgba:%s.rgba\n", decode.c_str(), row.name);
        printf("convert %s -format '%%w %%h' info:%s.size\n", decode.c_str(), row.name);
    }
}

/* The corpus folder: the driver's Linux path, seen through Wine's drive Z:. */
std::string CorpusFolder()
{
    const char *unix = getenv("Q32_CORPUS");
    return unix && *unix ? "Z:" + Replace(unix, "/", "\\") + "\\" : "";
}

/* An image as 8-bit R, G, B, A. */
struct Rgba {
    long width = 0, height = 0;
    std::vector<uint8_t> samples;
};

/* The module's rows as R, G, B, A: palettes looked up, grey spread, no alpha as 255. */
bool ToRgba(Image &image, Rgba &out, std::string &why)
{
    out.width = image.width, out.height = image.height;
    out.samples.assign(size_t(image.width) * image.height * 4, 255);
    const DWORD type = image.dataType;
    for (LONG y = 0; y < image.height; y++)
        for (LONG x = 0; x < image.width; x++) {
            const BYTE *p = image.Row(y) + image.Offset(x);
            uint8_t *o = &out.samples[(size_t(y) * image.width + x) * 4];
            unsigned index = type == Q32_TYPE_BILEVEL ? (*p >> (7 - x % 8)) & 1 : *p;
            if (type == Q32_TYPE_RGB || type == Q32_TYPE_BGRA) {
                o[0] = p[2], o[1] = p[1], o[2] = p[0];
                if (type == Q32_TYPE_BGRA) o[3] = p[3];
            } else if (type == Q32_TYPE_GREY8 || type == Q32_TYPE_GREY4) {
                o[0] = o[1] = o[2] = uint8_t(type == Q32_TYPE_GREY8 ? *p : *p * 17);
            } else if (type == Q32_TYPE_BILEVEL && image.palette.empty()) {
                o[0] = o[1] = o[2] = uint8_t(index * 255);
            } else if (type != Q32_TYPE_PALETTE8 && type != Q32_TYPE_PALETTE4 && type != Q32_TYPE_COLOURS16 &&
                       type != Q32_TYPE_BILEVEL) {
                why = "data type " + std::to_string(type) + " has no comparison";
            } else if (index >= image.palette.size()) {
                why = "index " + std::to_string(index) + " past the palette";
            } else {
                o[0] = image.palette[index].peRed, o[1] = image.palette[index].peGreen, o[2] = image.palette[index].peBlue;
            }
        }
    return why.empty();
}

/* Lossy: the colour within 35 dB of the reference, alpha left out. Else every sample within
   tolerance but where both make a pixel fully transparent: no colour to compare. */
void ExpectSame(const Rgba &got, const Rgba &expected, Compare compare)
{
    ASSERT_EQ(expected.width, got.width);
    ASSERT_EQ(expected.height, got.height);
    double sum = 0;
    for (size_t i = 0; i < got.samples.size(); i++) {
        int d = got.samples[i] - expected.samples[i];
        if (i % 4 != 3) sum += d * d;
        if (compare == Compare::Psnr35 || (got.samples[i | 3] == 0 && expected.samples[i | 3] == 0)) continue;
        ASSERT_LE(std::abs(d), compare == Compare::Within1 ? 1 : 0)
            << "sample " << i % 4 << " of pixel (" << i / 4 % got.width << ", " << i / 4 / got.width << ")";
    }
    double noise = sum / double(got.samples.size() / 4 * 3);
    if (compare == Compare::Psnr35) EXPECT_GE(10 * std::log10(255.0 * 255.0 / noise), 35.0);
}

/* The recorded error, for failure messages. */
std::string LastError()
{
    q32test::RecordedError e = q32test::ReadError();
    return std::to_string(e.id) + " (" + std::to_string(e.where1) + ", " + std::to_string(e.where2) + ", " +
           std::to_string(e.where3) + "): " + e.text;
}

/* Reads a file through the module as an application shows it: detection, the frame
   wanted, the rows in a type to compare (only BGRA when the image has transparency),
   turned upright. */
bool ReadThroughModule(const std::string &path, int frame, std::string &code, Image &image, std::string &why)
{
    const DWORD comparable = Q32_TYPE_BGRA | Q32_TYPE_RGB | Q32_TYPE_GREY8 | Q32_TYPE_GREY4 | Q32_TYPE_BILEVEL |
                             Q32_TYPE_PALETTE8 | Q32_TYPE_PALETTE4 | Q32_TYPE_COLOURS16;
    char hint[8] = "";
    HGLOBAL data = qfFileGetFileData(path.c_str(), hint);
    code = hint;
    if (!data) why = "not recognised: " + LastError();
    else if (frame != 0 && qfFileReadFrameIndex(data, 0, 0, frame) != 1) why = "no frame: " + LastError();
    else if (!ReadImage(data, image, HasTransparency(data) ? Q32_TYPE_BGRA : comparable)) why = "read: " + LastError();
    else Orient(image, OrientationOf(data));
    if (data) q32FileFreeFileData(data);
    return why.empty();
}

class Corpus : public ::testing::TestWithParam<Row> {};

TEST_P(Corpus, ReadsAsImageMagickDoes)
{
    const Row &row = GetParam();
    std::string folder = CorpusFolder();
    ASSERT_FALSE(folder.empty()) << "Q32_CORPUS names no folder: run through run-corpus.sh";
    std::string path = folder + row.name + "." + row.ext;
    if (row.refused) {
        c32ResetDLLErrInfo();
        EXPECT_EQ(nullptr, qfFileGetFileData(path.c_str(), nullptr));
        EXPECT_EQ(row.refused, q32test::ReadError().id) << LastError();
        return;
    }
    Rgba reference, got;
    std::string size = q32test::ReadFileBytes(folder + row.name + ".size");
    ASSERT_EQ(2, sscanf(size.c_str(), "%ld %ld", &reference.width, &reference.height)) << "no reference for " << path;
    std::string samples = q32test::ReadFileBytes(folder + row.name + ".rgba");
    ASSERT_EQ(size_t(reference.width) * reference.height * 4, samples.size());
    reference.samples.assign(samples.begin(), samples.end());

    std::string code, why;
    Image image;
    ASSERT_TRUE(ReadThroughModule(path, row.frame, code, image, why)) << why;
    EXPECT_EQ(row.code, code);
    ASSERT_TRUE(ToRgba(image, got, why)) << why;
    ExpectSame(got, reference, row.compare);
}

INSTANTIATE_TEST_SUITE_P(Outside, Corpus, ::testing::ValuesIn(Rows),
                         [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && !strcmp(argv[1], "--corpus-commands")) {
        PrintCommands();
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
