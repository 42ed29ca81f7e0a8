/* Identifiers of the finder's dialog. */
#ifndef Q32BROWS_RESOURCE_H
#define Q32BROWS_RESOURCE_H

#define IDD_FIND        100
#define IDC_PATTERN     101
#define IDC_FOLDER      102
#define IDC_BROWSE      103
#define IDC_SUBFOLDERS  104
#define IDC_SEARCH      105
#define IDC_LISTAREA    106
#define IDC_STATUS      107
#define IDC_RESULTS     108

#endif
