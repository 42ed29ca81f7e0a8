/* The shared error slot: one per process, shared by the module, its plug-ins and the
   application. A later record replaces an earlier one. */
#include "comm_private.h"

namespace {
struct ErrorSlot {
    char text[C32_ERRTEXT_SIZE];
    UINT id;
    int zero, where1, where2, where3;
};
ErrorSlot slot;
SRWLOCK slotLock = SRWLOCK_INIT;
}

/******************************************************************
 *      c32SetDLLErrInfo
 *
 * Replaces the slot's content. A null text takes the string table's text for id.
 */
extern "C" void C32API c32SetDLLErrInfo(const char *text, UINT id, int zero,
                                        int where1, int where2, int where3)
{
    AcquireSRWLockExclusive(&slotLock);
    if (text) CommCopy(slot.text, sizeof slot.text, text);
    else c32GetString(id, slot.text, sizeof slot.text);
    slot.id = id;
    slot.zero = zero;
    slot.where1 = where1;
    slot.where2 = where2;
    slot.where3 = where3;
    ReleaseSRWLockExclusive(&slotLock);
}

/******************************************************************
 *      c32GetDLLErrorInfo
 *
 * Copies what the slot holds into each non-null argument (text: C32_ERRTEXT_SIZE bytes).
 * Returns the slot's string identifier, 0 when the slot is empty.
 */
extern "C" UINT C32API c32GetDLLErrorInfo(char *text, UINT *id, int *zero,
                                          int *where1, int *where2, int *where3)
{
    AcquireSRWLockShared(&slotLock);
    if (text) CommCopy(text, C32_ERRTEXT_SIZE, slot.text);
    if (id) *id = slot.id;
    if (zero) *zero = slot.zero;
    if (where1) *where1 = slot.where1;
    if (where2) *where2 = slot.where2;
    if (where3) *where3 = slot.where3;
    UINT result = slot.id;
    ReleaseSRWLockShared(&slotLock);
    return result;
}

/******************************************************************
 *      c32ResetDLLErrInfo
 */
extern "C" void C32API c32ResetDLLErrInfo(void)
{
    AcquireSRWLockExclusive(&slotLock);
    slot = ErrorSlot{};
    ReleaseSRWLockExclusive(&slotLock);
}
