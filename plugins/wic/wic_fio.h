/*
 * wic.fio - what the imaging-component plug-in tells its callers beyond the shared
 * records: its formats, the facts it keeps in the plug-in area of a FileData (frame
 * count and the current frame among them), its frame commands, its property items and
 * its settings in the suite ini file.
 */
#ifndef WIC_FIO_H
#define WIC_FIO_H

#include <windows.h>
#include <stddef.h>
#include "q32types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Formats of the plug-in, by index (ordinal base = 100 x index). */
enum WicFormat {
    WIC_JPG = 0, WIC_PNG = 1, WIC_TIF = 2, WIC_GIF = 3, WIC_ICO = 4,
    WIC_FORMATS = 5
};

/*
 * The plug-in's facts of a file, at FileData.pluginArea264 (FileData offset 264, every
 * field 32-bit in both builds). Valid when magic is WIC_FACTS_MAGIC; a FileData that an
 * application made for writing has zeros there.
 *
 * A FileData describes one frame (page, icon image) of the file: its raster description
 * is that frame's. Reading reads that frame; frame command 26 chooses another.
 */
typedef struct WicFacts {
    DWORD magic;        /* 264: WIC_FACTS_MAGIC */
    DWORD format;       /* 268: WicFormat */
    DWORD frameCount;   /* 272: frames (pages, icon images) in the file, at least 1;
                           0: not counted yet (a GIF longer than 1 MB, whose blocks
                           detection does not walk to the end): frame command 26 counts
                           them and sets it */
    DWORD frame;        /* 276: the frame described, 0-based */
    LONG  left;         /* 280: the frame's place on the logical screen (GIF), else 0 */
    LONG  top;          /* 284 */
    DWORD screenWidth;  /* 288: the logical screen (GIF), else the frame's size */
    DWORD screenHeight; /* 292 */
    DWORD delay;        /* 296: the frame's delay in 1/100 s (GIF), else 0 */
    LONG  loopCount;    /* 300: GIF: plays of the animation, 0 = forever, -1 = no loop
                           block (played once); else 0 */
    DWORD orientation;  /* 304: EXIF orientation (JPEG, TIFF) as the file gives it, 1..8:
                           1 upright, 2 mirrored, 3 turned 180 degrees, 4 flipped, 5..8
                           turned a quarter (see EXIF); 0 = not given. The rows are
                           delivered as stored, not turned. */
    DWORD transparent;  /* 308: non-zero when the frame's palette (PNG tRNS, the GIF
                           transparent index) makes pixels transparent that its rows as
                           stored cannot show: read them as Q32_TYPE_BGRA to keep it */
    DWORD composed;     /* 312: non-zero when the FileData describes the frame as the
                           screen shows it (GIF: screen size, Q32_TYPE_BGRA, earlier
                           frames and their disposal drawn in); 0: the frame's own rows */
} WicFacts;

#define WIC_FACTS_MAGIC 0x31434957u /* "WIC1" */

static inline WicFacts *FileDataWicFacts(FileData *fileData)
{
    return (WicFacts *)fileData->pluginArea264;
}

#ifdef __cplusplus
static_assert(sizeof(WicFacts) <= sizeof(((FileData *)0)->pluginArea264), "WicFacts fits");
static_assert(offsetof(FileData, pluginArea264) == 264, "plug-in area at 264");
static_assert(offsetof(WicFacts, frameCount) == 8, "WicFacts.frameCount at FileData 272");
static_assert(offsetof(WicFacts, frame) == 12, "WicFacts.frame at FileData 276");
static_assert(offsetof(WicFacts, loopCount) == 36, "WicFacts.loopCount at FileData 300");
static_assert(offsetof(WicFacts, orientation) == 40, "WicFacts.orientation at FileData 304");
static_assert(offsetof(WicFacts, composed) == 48, "WicFacts.composed at FileData 312");
#endif

/*
 * Frame commands (entry +10, qfDLLCommand):
 *   26 read a frame:   value1 = ImageRequest *, value2 = RowCallback, value3 = index
 *                      (0-based; -1 = the frame after the one described). The FileData
 *                      then describes that frame (size, type, palette, facts) and its
 *                      rows go to the callback as a read does. With a null request only
 *                      the FileData changes. Result: 1, Q32_READ_STOPPED, or 0 (error
 *                      recorded; no such frame: 4026).
 *                      A GIF frame is described as the screen shows it (WicFacts.composed)
 *                      when it does not cover the logical screen or earlier frames show
 *                      through it; index | WIC_FRAME_RAW asks for the frame's own rows
 *                      (its size and palette; left and top give its place), which later
 *                      reads then deliver. Opening a file describes frame 0 composed
 *                      when it needs to be.
 *   27 append a frame: value1 = ImageRequest *, value2 = RowCallback. The file that the
 *                      FileData names (TIF or GIF, written before) gets one more frame,
 *                      described by the FileData's raster description, rows pulled as a
 *                      write pulls them. Result: 1, Q32_WRITE_STOPPED or 0; on failure
 *                      the file keeps its frames.
 */
#define WIC_COMMAND_READ_FRAME   26
#define WIC_COMMAND_APPEND_FRAME 27
#define WIC_FRAME_RAW            0x40000000 /* with an index of command 26 */

/*
 * Property block (entry +23): one item per text of the file (PNG text chunks, TIFF text
 * tags, GIF and JPEG comments), of type WIC_ITEM_TEXT: data holds the item's name,
 * NUL-terminated; handle a movable block with the text, NUL-terminated, in the file's
 * own encoding (UTF-8 where the format says so). A file without texts gives no block.
 */
#define WIC_ITEM_TEXT 8

/* Settings in the suite ini file, section "WIC" (the option dialogs store them). */
#define WIC_INI_SECTION       "WIC"
#define WIC_KEY_JPEG_QUALITY  "JpegQuality"     /* 1..100, default 90 */
#define WIC_KEY_PNG_INTERLACE "PngInterlace"    /* 0 or 1, default 0 */
#define WIC_KEY_TIFF_COMPRESS "TiffCompression" /* WicTiffCompression, default LZW */
#define WIC_KEY_GIF_LOOPS     "GifLoopCount"    /* 0 = forever (default), 1..65535; -1 none */
#define WIC_KEY_GIF_DELAY     "GifDelay"        /* 1/100 s a frame, default 10 */
#define WIC_KEY_ICO_LARGEST   "IcoLargest"      /* 1: open the largest icon image (default) */
#define WIC_KEY_FIRST_FRAME   "FirstFrame"      /* prefixed by the code: TIFFirstFrame,
                                                   GIFFirstFrame: frame opened, 0-based */

enum WicTiffCompression {
    WIC_TIFF_NONE = 0, WIC_TIFF_LZW = 1, WIC_TIFF_ZIP = 2, WIC_TIFF_PACKBITS = 3
};

#ifdef __cplusplus
}
#endif

#endif
