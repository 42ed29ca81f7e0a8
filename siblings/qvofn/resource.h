/* The thumbnail dialog's template and controls. */
#define IDD_VISUALOPEN 100
#define IDC_FOLDER     101
#define IDC_THUMBNAILS 102
#define IDC_DETAILS    103
#define IDC_HELPBUTTON 9
