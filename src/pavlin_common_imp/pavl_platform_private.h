// Internals of the platform services: allocation records, their counters and the process-wide locks.
#ifndef PAVL_PLATFORM_PRIVATE_H
#define PAVL_PLATFORM_PRIVATE_H

#include <stdio.h>

#include "ppavl_platform.h"
#include "ppavl_synchronization.h"

typedef struct _ALLOC_RECORD {
    void* address;
    size_t size;
    char* malloc_file;
    unsigned int malloc_line;
    char* last_realloc_file;
    unsigned int last_realloc_line;
    struct _ALLOC_RECORD* next_record;
} ALLOC_RECORD;

typedef struct _ALLOC_STACK {
    ALLOC_RECORD* first_record; // newest first
} ALLOC_STACK;

PN_EXTERN_C_BEGIN

extern ALLOC_STACK _VK_alloc_stack;
extern VK_UINT64 _VK_curr_alloc;
extern VK_UINT64 _VK_max_alloc;
extern VK_UINT64 _VK_total_alloc;

extern PMUTEX_LOCK _PN_PavlinAllocatorMutex; // plain
extern PMUTEX_LOCK _PN_PavlinLocaltimeMutex; // re-entrant

// Record operations; the caller holds the allocator lock.
VK_BOOL _VK_push_record(void* address, size_t size, const char* file, long bound, unsigned int line);
VK_BOOL _VK_update_record(void* old_address, void* new_address, size_t size, const char* file, long bound,
                          unsigned int line);
VK_BOOL _VK_pop_record(void* address);

void _VK_InitAllocRecord(void);
void _VK_DumpAllocRecord(FILE* stream);
void _VK_DestroyAllocRecord(void);
long _PN_GetMaxFilePathSize(const char* file);

// Host hooks of start-up and shut-down.
void _InitializePavlin(void);
void _UnInitializePavlin(void);

PN_EXTERN_C_END

#endif
