/* Shared by the files of the common library. */
#ifndef COMM_PRIVATE_H
#define COMM_PRIVATE_H

#include "q32comm.h"

extern HINSTANCE CommInstance;

/* Copies at most size - 1 bytes of src and terminates; returns the length written. */
int CommCopy(char *dst, int size, const char *src);

/* Appends one line to the file named by the environment variable, when it is set.
   This is how tests observe message boxes and help requests. */
int CommAppendLog(const char *envName, const char *line);

void RegisterSliderClass(HINSTANCE instance);
void UnregisterSliderClass(HINSTANCE instance);

#endif
