/* Strings of the unit test program's own table. */
#define IDS_ONE_NAME  100
#define IDS_TWO_NAMES 101
