/* Export marker of the virtual cable: its entry points and control functions are the only symbols
 * the shared library shows; everything else is compiled with hidden visibility. */
#ifndef VC_EXPORT_H
#define VC_EXPORT_H

#if defined(_WIN32)
#if defined(VCABLE_BUILDING)
#define VC_API __declspec(dllexport)
#else
#define VC_API
#endif
#else
#define VC_API __attribute__((visibility("default")))
#endif

#endif /* VC_EXPORT_H */
