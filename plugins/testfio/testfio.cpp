/*
 * testfio: a format plug-in whose declarations are set per copy of the DLL, for the tests
 * and benchmarks of q32File.
 *
 * A copy NAME.fio reads NAME.ini beside it (by its long name) when it is loaded:
 *
 *   [plugin]
 *   Formats=2              what qfDLLGetFileFmtNum answers (default 1; 0 or less allowed)
 *   LoadLog=C:\t\loads.log each load appends the copy's file name and a line break
 *   [format0]              one section a format, format0 .. format3
 *   Code=BMP               default TF0, TF1, ...
 *   Description=Bitmap     default "Test format 0", ...
 *   Flags=1                FormatInfo.flags (numbers may be written 0x...)
 *   TypeMask=0x10001       low half -> typeCaps, high half -> typeMaskHigh
 *   Flags2=0  OpenOptions=0  SaveOptions=0  WritesVector=0  VectorType=-1
 *   RuntimeValue=0
 *   Signature1=424D        hex bytes, at most 4; Signature2 likewise
 *   InfoNull=1             qfDLLGetFormatInfo answers NULL
 *   FileData=accept        qfDLLGetFileData answers a new FileData block; or a number
 *                          (0: not mine, -1: failed, -2: cannot handle). Default 0.
 *
 * Every other entry of format j answers TESTFIO_ANSWER(j, offset), so a test can tell
 * which export it reached.
 */
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <type_traits>
#include "q32fio.h"

#define TESTFIO_ANSWER(format, offset) (0x7E000000 + (format) * 0x100 + (offset))

namespace {
/* The FileData block is 736 bytes (its record comes with the shared records). */
const SIZE_T FileDataBytes = 736;

struct FormatConfig {
    FormatInfo info;
    bool infoNull;
    bool fileDataAccept;
    INT_PTR fileDataAnswer;
};

struct PluginConfig {
    int formats = 1;
    FormatConfig format[TESTFIO_FORMATS];
};

PluginConfig Config;
char OwnName[MAX_PATH];

/* ---- Reading the copy's ini file ---- */

/* One section of the ini file, read whole: "key=value" lines. */
class Section {
public:
    Section(const char *ini, const char *name)
    {
        DWORD n = GetPrivateProfileSectionA(name, lines_, sizeof lines_, ini);
        lines_[n] = 0;
    }
    /* The value of key, or fallback. */
    const char *Text(const char *key, const char *fallback) const
    {
        size_t length = strlen(key);
        for (const char *line = lines_; *line; line += strlen(line) + 1)
            if (!_strnicmp(line, key, length) && line[length] == '=') return line + length + 1;
        return fallback;
    }
    long Number(const char *key, long fallback) const
    {
        const char *value = Text(key, "");
        if (!*value) return fallback;
        return (long)(unsigned long)strtoll(value, nullptr, 0); /* "-1" and "0xFFFFFFFF" alike */
    }

private:
    char lines_[4096];
};

/* "424D" -> bytes; answers how many (at most 4). */
uint8_t Signature(const char *hex, uint8_t (&bytes)[4])
{
    uint8_t n = 0;
    for (const char *p = hex; p[0] && p[1] && n < 4; p += 2) {
        char pair[3] = {p[0], p[1], 0};
        bytes[n++] = (uint8_t)strtoul(pair, nullptr, 16);
    }
    return n;
}

void CopyField(char *field, size_t size, const char *value)
{
    size_t n = strlen(value) < size ? strlen(value) : size - 1;
    memcpy(field, value, n);
    field[n] = 0;
}

void ReadFormat(const char *ini, int j, FormatConfig &format)
{
    char name[16], fallback[64];
    wsprintfA(name, "format%d", j);
    Section section(ini, name);
    FormatInfo &info = format.info;
    info = FormatInfo{};

    wsprintfA(fallback, "TF%d", j);
    CopyField(info.code, sizeof info.code, section.Text("Code", fallback));
    wsprintfA(fallback, "Test format %d", j);
    CopyField(info.description, sizeof info.description, section.Text("Description", fallback));
    info.flags = (uint16_t)section.Number("Flags", 1);
    DWORD mask = (DWORD)section.Number("TypeMask", 1);
    info.typeCaps = LOWORD(mask);
    info.typeMaskHigh = HIWORD(mask);
    info.flags2 = (uint16_t)section.Number("Flags2", 0);
    info.openOptions = (uint32_t)section.Number("OpenOptions", 0);
    info.saveOptions = (uint32_t)section.Number("SaveOptions", 0);
    info.writesVector = (uint32_t)section.Number("WritesVector", 0);
    info.vectorType = (int32_t)section.Number("VectorType", -1);
    info.runtimeValue = (uint32_t)section.Number("RuntimeValue", 0);
    info.signatureLength1 = Signature(section.Text("Signature1", ""), info.signature1);
    info.signatureLength2 = Signature(section.Text("Signature2", ""), info.signature2);

    format.infoNull = section.Number("InfoNull", 0) != 0;
    const char *answer = section.Text("FileData", "0");
    format.fileDataAccept = lstrcmpiA(answer, "accept") == 0;
    format.fileDataAnswer = format.fileDataAccept ? 0 : strtol(answer, nullptr, 0);
}

/* NAME.fio -> NAME.ini beside it, by the copy's long name (it may be loaded by its
   short one). */
bool IniPath(HINSTANCE self, char (&ini)[MAX_PATH])
{
    char loaded[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, loaded, sizeof loaded);
    if (n == 0 || n >= sizeof loaded) return false;
    n = GetLongPathNameA(loaded, ini, sizeof ini);
    if (n == 0 || n >= sizeof ini) strcpy(ini, loaded);
    const char *name = strrchr(ini, '\\');
    strcpy(OwnName, name ? name + 1 : ini);
    char *dot = strrchr(ini, '.');
    if (!dot || strlen(ini) + 4 >= sizeof ini) return false;
    strcpy(dot, ".ini");
    return true;
}

void AppendLoad(const char *log)
{
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[MAX_PATH + 2];
    int n = wsprintfA(line, "%s\r\n", OwnName);
    DWORD written;
    WriteFile(file, line, (DWORD)n, &written, nullptr);
    CloseHandle(file);
}

void LoadConfig(HINSTANCE self)
{
    char ini[MAX_PATH];
    if (!IniPath(self, ini)) return;
    Section plugin(ini, "plugin");
    Config.formats = (int)plugin.Number("Formats", 1);
    for (int j = 0; j < TESTFIO_FORMATS && j < Config.formats; j++)
        ReadFormat(ini, j, Config.format[j]);
    const char *log = plugin.Text("LoadLog", "");
    if (*log) AppendLoad(log);
}

/* ---- What the entries answer ---- */

HGLOBAL FormatInfoBlock(int j)
{
    if (Config.format[j].infoNull) return nullptr;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(FormatInfo));
    if (!block) return nullptr;
    memcpy(GlobalLock(block), &Config.format[j].info, sizeof(FormatInfo));
    GlobalUnlock(block);
    return block;
}

INT_PTR FileDataAnswer(int j)
{
    const FormatConfig &format = Config.format[j];
    if (format.fileDataAccept) return reinterpret_cast<INT_PTR>(GlobalAlloc(GHND, FileDataBytes));
    return format.fileDataAnswer;
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) LoadConfig(instance);
    return TRUE;
}

extern "C" int WINAPI qfDLLGetFileFmtNum(void) { return Config.formats; }
static_assert(std::is_same_v<decltype(&qfDLLGetFileFmtNum), PFN_qfDLLGetFileFmtNum>);

/* The sixteen entries +10 .. +25 of format J, each with its SDK type. */
#define TESTFIO_FORMAT(J)                                                                   \
    extern "C" INT_PTR WINAPI TfEntry##J##_10(HGLOBAL, int, LPARAM, LPARAM, LPARAM)          \
    { return TESTFIO_ANSWER(J, 10); }                                                        \
    extern "C" HGLOBAL WINAPI TfEntry##J##_11(void) { return FormatInfoBlock(J); }          \
    extern "C" INT_PTR WINAPI TfEntry##J##_12(HANDLE, const char *, DWORD, const char *)     \
    { return FileDataAnswer(J); }                                                            \
    extern "C" INT_PTR WINAPI TfEntry##J##_13(LPARAM, LPARAM, LPARAM)                        \
    { return TESTFIO_ANSWER(J, 13); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_14(LPARAM, LPARAM, HGLOBAL, LPARAM, LPARAM, LPARAM) \
    { return TESTFIO_ANSWER(J, 14); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_15(LPARAM, LPARAM, HGLOBAL, const char *, LPARAM) \
    { return TESTFIO_ANSWER(J, 15); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_16(HANDLE, const char *, HGLOBAL, void *, void *, \
                                              DWORD)                                         \
    { return TESTFIO_ANSWER(J, 16); }                                                        \
    extern "C" int WINAPI TfEntry##J##_17(HANDLE, HGLOBAL, void *, void *)                   \
    { return TESTFIO_ANSWER(J, 17); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_18(LPARAM, LPARAM, LPARAM, const char *, LPARAM)  \
    { return TESTFIO_ANSWER(J, 18); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_19(HANDLE, const char *, HGLOBAL, LPARAM, LPARAM, \
                                              DWORD, LPARAM)                                 \
    { return TESTFIO_ANSWER(J, 19); }                                                        \
    extern "C" int WINAPI TfEntry##J##_20(HANDLE, HGLOBAL, LPARAM, LPARAM, LPARAM)           \
    { return TESTFIO_ANSWER(J, 20); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_21(void) { return TESTFIO_ANSWER(J, 21); }        \
    extern "C" INT_PTR WINAPI TfEntry##J##_22(HANDLE, HGLOBAL) { return TESTFIO_ANSWER(J, 22); } \
    extern "C" INT_PTR WINAPI TfEntry##J##_23(HGLOBAL, HGLOBAL *)                            \
    { return TESTFIO_ANSWER(J, 23); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_24(void) { return TESTFIO_ANSWER(J, 24); }        \
    extern "C" INT_PTR WINAPI TfEntry##J##_25(LPARAM, HGLOBAL, LPARAM, LPARAM, LPARAM)       \
    { return TESTFIO_ANSWER(J, 25); }

TESTFIO_FORMAT(0)
TESTFIO_FORMAT(1)
TESTFIO_FORMAT(2)
TESTFIO_FORMAT(3)
static_assert(TESTFIO_FORMATS == 4, "one TESTFIO_FORMAT line a format");

/* The entries match the kit's types. */
static_assert(std::is_same_v<decltype(&TfEntry0_10), PFN_qfDLLCommand>);
static_assert(std::is_same_v<decltype(&TfEntry0_11), PFN_qfDLLGetFormatInfo>);
static_assert(std::is_same_v<decltype(&TfEntry0_12), PFN_qfDLLGetFileData>);
static_assert(std::is_same_v<decltype(&TfEntry0_13), PFN_qfDLLShowDlgFormatInfo>);
static_assert(std::is_same_v<decltype(&TfEntry0_14), PFN_qfDLLShowDlgFileData>);
static_assert(std::is_same_v<decltype(&TfEntry0_15), PFN_qfDLLShowDlgSaveOption>);
static_assert(std::is_same_v<decltype(&TfEntry0_16), PFN_qfDLLRead>);
static_assert(std::is_same_v<decltype(&TfEntry0_17), PFN_qfDLLWrite>);
static_assert(std::is_same_v<decltype(&TfEntry0_18), PFN_qfDLLShowDlgOpenOption>);
static_assert(std::is_same_v<decltype(&TfEntry0_19), PFN_qfDLLReadVector>);
static_assert(std::is_same_v<decltype(&TfEntry0_20), PFN_qfDLLWriteVector>);
static_assert(std::is_same_v<decltype(&TfEntry0_22), PFN_qfDLLGetPreviewImage>);
static_assert(std::is_same_v<decltype(&TfEntry0_23), PFN_qfDLLGetProperty>);
static_assert(std::is_same_v<decltype(&TfEntry0_25), PFN_qfDLLShowProperty>);
