/* Small services the file operations share. */
#include "fileops.h"

HGLOBAL PanelFileData;
char LastSelectedName[Q32_MAX_NAME];

bool EnsureFormats()
{
    return Formats->count != 0 || qfFileGetFileFmtNum() != 0;
}

bool IsFormatNumber(LONG_PTR number)
{
    return number >= 1 && number <= Formats->count;
}

FormatRecord &Record(int number)
{
    return Formats->records[number - 1];
}
