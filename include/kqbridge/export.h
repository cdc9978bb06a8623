// Symbol visibility for the kqBridge shared library.
#ifndef KQBRIDGE_EXPORT_H_
#define KQBRIDGE_EXPORT_H_

// The library is built with hidden visibility; everything a host or a module
// may name carries KQ_EXPORT.
#if defined(_WIN32)
#if defined(KQBRIDGE_BUILDING)
#define KQ_EXPORT __declspec(dllexport)
#else
#define KQ_EXPORT __declspec(dllimport)
#endif
#else
#define KQ_EXPORT __attribute__((visibility("default")))
#endif

#endif  // KQBRIDGE_EXPORT_H_
