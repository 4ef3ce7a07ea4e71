/* Symbol export and C linkage for the public API of both libraries. */
#ifndef PPAVL_EXPORT_H
#define PPAVL_EXPORT_H

#if defined(PAVLIN_STATIC_DEFINE)
#define PN_API
#else
#define PN_API __attribute__((visibility("default")))
#endif

/* Telmar shares the same convention. */
#define VK_API PN_API

#ifdef __cplusplus
#define PN_EXTERN_C_BEGIN extern "C" {
#define PN_EXTERN_C_END }
#else
#define PN_EXTERN_C_BEGIN
#define PN_EXTERN_C_END
#endif

#endif
