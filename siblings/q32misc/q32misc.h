/* Q32MISC.DLL, imported by ordinal. */
#ifndef Q32MISC_H
#define Q32MISC_H
#ifdef __cplusplus
extern "C" {
#endif
/* Ordinal 12: fills a 260-byte buffer with the running program's folder. */
__declspec(dllimport) int __cdecl q32MiscGetSuiteFolder(char *buffer);
#ifdef __cplusplus
}
#endif
#endif
