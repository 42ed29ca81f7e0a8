/* wic.fio: the option dialogs' resource numbers. */
#ifndef WIC_RESOURCE_H
#define WIC_RESOURCE_H

#define IDD_WIC_JPEG        101
#define IDD_WIC_PNG         102
#define IDD_WIC_TIFF        103
#define IDD_WIC_GIF         104
#define IDD_WIC_FRAME       105
#define IDD_WIC_ICON        106

#define IDC_WIC_QUALITY     1001
#define IDC_WIC_INTERLACE   1002
#define IDC_WIC_COMPRESSION 1003
#define IDC_WIC_LOOP        1004
#define IDC_WIC_LOOPS       1005
#define IDC_WIC_DELAY       1006
#define IDC_WIC_FIRST       1007
#define IDC_WIC_LARGEST     1008

#endif
