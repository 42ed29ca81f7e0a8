/*
 * File associations: the registry entries of the suite's file types, the association
 * page and the extension editing dialogs.
 */
#ifndef Q32_ASSOC_H
#define Q32_ASSOC_H

#include "../core/core.h"
#include "q32fio.h"
#include <string>
#include <vector>

/* Class names read back are at most 127 characters, commands 259. */
enum { ClassNameSize = 128, CommandSize = Q32_MAX_NAME };

/* ---- Registry operations (registryops.cpp); every key is below HKEY_CLASSES_ROOT ---- */

/* What ReadDefaultText found. */
enum { TextMissing = 0, TextWhole = 1, TextCut = 2 };
/* The default value of parent\subkey into buffer, cut to size - 1 characters and always
   terminated (empty when missing). A key without a default value reads as empty. */
int ReadDefaultText(HKEY parent, const char *subkey, char *buffer, size_t size);

/* True when HKEY_CLASSES_ROOT\.jpg may be opened for reading and writing. */
bool CanWriteAssociations();
/* 1 for ".cur", ".ico" and ".ani" (case ignored), else 0. */
int IsIconExtension(const char *dottedExtension);
/* The executable's path (quoted when it holds a blank), a blank and "%1" in quotes.
   buffer holds Q32_MAX_NAME + 8 bytes. */
void BuildOpenCommand(char *buffer);
/* The open command of the program at path (at most 259 characters of it are used). */
void FormOpenCommand(const char *path, char *buffer);
enum { OpenCommandSize = Q32_MAX_NAME + 8 };
/* 1 when the format's code extension opens in the application (or, for an icon type, in
   this executable). Reads only. */
int ReadAssociationState(const FormatInfo *info, const char *applicationClass,
                         const char *executablePathLower);
/* The entries of the type that go with its state, written when the user applies; a class
   it replaces is kept as the type's undo class first. */
void TidyAssociation(const FormatInfo *info, const char *applicationClass,
                     const char *executablePathLower);
/* Registers (isAssociated) or gives back (wasAssociated alone) every extension of format;
   giving back removes from the format class only what registering wrote. */
void ApplyAssociation(int format, const char *codeExtension, const char *applicationClass,
                      const char *openCommand, WORD wasAssociated, WORD isAssociated);
/* Deletes parent\name with its subkeys. A subkey that cannot be deleted is skipped, so the
   key stays; true when the key is gone. */
bool DeleteKeyTree(HKEY parent, const char *name);

/* ---- The association page (assocpage.cpp) ---- */

INT_PTR CALLBACK AssociationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
enum { AssociationTemplate = 32116 };

/* ---- The extension dialogs (extdialogs.cpp) ---- */

/* One format's user list as the list dialog found it in the ini file, whole however long
   it is (the record's copy is cut to its field). */
struct UserListBackup {
    char code[4];
    std::string userList;
};

/* What the list dialog hands the entry dialog. */
struct ExtensionEntryRequest {
    DWORD command;                      /* 2601 add, 2603 edit */
    DWORD extensionChanged;
    DWORD formatChanged;
    char itemText[Q32_MAX_NAME];        /* the edited pair's line */
    char extension[5];
    char code[7];
    const AssociationPageParam *pageParam;
};
#if !defined(_WIN64)
static_assert(offsetof(ExtensionEntryRequest, itemText) == 12, "ExtensionEntryRequest.itemText");
static_assert(offsetof(ExtensionEntryRequest, extension) == 272, "ExtensionEntryRequest.extension");
static_assert(offsetof(ExtensionEntryRequest, code) == 277, "ExtensionEntryRequest.code");
static_assert(offsetof(ExtensionEntryRequest, pageParam) == 284, "ExtensionEntryRequest.pageParam");
#endif

enum { ExtensionListTemplate = 32117, ExtensionEntryTemplate = 32118 };
INT_PTR CALLBACK ExtensionListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

int IsExtensionListed(const char *extension, const char *code);
int RemoveUserExtension(const char *extension, const char *code);
int StoreListedExtensions(HWND listBox);
int FindFirstItemOfFormat(HWND listBox, const char *code);
int RemoveExtensionItem(HWND listBox, int index);
/* Writes back the user lists of a backup (null: nothing). */
void RestoreUserLists(const std::vector<UserListBackup> *backup);
/* 1 and the owner's code (4 bytes) when a format claims extension (upper-cased in place). */
int FindExtensionOwner(char *extension, char *ownerCode);
/* The extension and code of a pair line "EXT =CODE" or "EXT=CODE", blanks removed. */
void SplitPairItem(const char *line, char *extension, size_t extensionSize, char *code,
                   size_t codeSize);

#endif
