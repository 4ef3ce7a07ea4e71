/* Locks, condition variables and event flags of the platform library. */
#ifndef PPAVL_SYNCHRONIZATION_H
#define PPAVL_SYNCHRONIZATION_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PMUTEX_LOCK;
typedef void* PCOND_VARIABLE;

typedef struct _EVENT_FLAGS EVENT_FLAGS;
typedef EVENT_FLAGS* PEVENT_FLAGS;

/* _PN_EventFlagsSet options */
#define kEventFlagsSetOr 0x00000000u
#define kEventFlagsSetAnd 0x00000002u

/* _PN_EventFlagsGet options: one test in the low four bits, one of the two wait bits */
#define kEventFlagsGetAny 0x00000001u
#define kEventFlagsGetAnyClear 0x00000002u
#define kEventFlagsGetAll 0x00000004u
#define kEventFlagsGetAllClear 0x00000008u
#define kEventFlagsGetWait 0x80000000u
#define kEventFlagsGetNoWait 0x40000000u

PN_EXTERN_C_BEGIN

PN_API VK_BOOL _PN_MutexCreate(PMUTEX_LOCK* mutex);
PN_API void _PN_MutexDelete(PMUTEX_LOCK mutex);
PN_API VK_BOOL _PN_MutexLock(PMUTEX_LOCK mutex);
PN_API VK_BOOL _PN_MutexUnlock(PMUTEX_LOCK mutex);
PN_API VK_BOOL _PN_RecursiveMutexLock(PMUTEX_LOCK mutex);
PN_API VK_BOOL _PN_RecursiveMutexUnlock(PMUTEX_LOCK mutex);

PN_API VK_BOOL _PN_CondVariableCreate(PCOND_VARIABLE* cond);
PN_API void _PN_CondVariableDelete(PCOND_VARIABLE cond);
PN_API VK_BOOL _PN_CondVariableWait(PCOND_VARIABLE cond, PMUTEX_LOCK mutex);
PN_API VK_BOOL _PN_CondVariableSignal(PCOND_VARIABLE cond);
PN_API VK_BOOL _PN_CondVariableBroadcast(PCOND_VARIABLE cond);

PN_API VK_BOOL _PN_EventFlagsCreate(PEVENT_FLAGS* event_flags);
PN_API VK_BOOL _PN_EventFlagsDelete(PEVENT_FLAGS event_flags);
PN_API VK_BOOL _PN_EventFlagsSet(PEVENT_FLAGS event_flags, VK_DWORD flags_to_set, VK_DWORD set_options);
PN_API VK_BOOL _PN_EventFlagsGet(PEVENT_FLAGS event_flags, VK_DWORD requested_flags, VK_DWORD get_options,
                                 VK_DWORD* actual_flags);

PN_EXTERN_C_END

#endif
