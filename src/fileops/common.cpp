/* Small services the file operations share. */
#include "fileops.h"

HGLOBAL PanelFileData;
char LastSelectedName[Q32_MAX_NAME];

bool IsFormatNumber(LONG_PTR number)
{
    return number >= 1 && number <= Formats->count;
}

FormatRecord &Record(int number)
{
    return Formats->records[number - 1];
}
