/* The top of the module: its entry point's two halves, which set up and release every
   subsystem. */
#ifndef Q32_MODULE_H
#define Q32_MODULE_H

#include <windows.h>

BOOL ProcessAttach(HINSTANCE instance);
void ProcessDetach();

#endif
