/* Filter lists for the common dialogs. */
#include "registry.h"

/******************************************************************
 *      FreeCachedFilterLists
 */
void FreeCachedFilterLists()
{
    for (HGLOBAL &list : CachedFilterLists) {
        if (list) GlobalFree(list);
        list = nullptr;
    }
}
