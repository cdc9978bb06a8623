/// \file
/// Symbol visibility for the kqBridge shared library, and the compiler
/// attributes the public headers use, each empty where unsupported.
#ifndef KQBRIDGE_EXPORT_H_
#define KQBRIDGE_EXPORT_H_

/// \def KQ_EXPORT
/// The library is built with hidden visibility; everything a host or a module
/// may name carries KQ_EXPORT.

/// \def KQ_MODULE_VISIBLE
/// Makes a module's entry point and stamp visible to the loader, whatever the
/// module's default visibility.
#if defined(_WIN32)
#if defined(KQBRIDGE_BUILDING)
#define KQ_EXPORT __declspec(dllexport)
#else
#define KQ_EXPORT __declspec(dllimport)
#endif
#define KQ_MODULE_VISIBLE __declspec(dllexport)
#elif defined(__GNUC__) || defined(__clang__)
#define KQ_EXPORT __attribute__((visibility("default")))
#define KQ_MODULE_VISIBLE __attribute__((visibility("default")))
#else
#define KQ_EXPORT
#define KQ_MODULE_VISIBLE
#endif

/// \def KQ_ONE_PER_MODULE
/// A definition that every file of a module may hold: the linker keeps one.
#if defined(_WIN32)
#define KQ_ONE_PER_MODULE __declspec(selectany)
#elif defined(__GNUC__) || defined(__clang__)
#define KQ_ONE_PER_MODULE __attribute__((weak))
#else
#define KQ_ONE_PER_MODULE
#endif

/// \def KQ_PRINTF_FORMAT
/// Lets the compiler check the arguments of printf- and scanf-style
/// operations; `f` is the format's position, `a` the first argument's.

/// \def KQ_SCANF_FORMAT
/// As KQ_PRINTF_FORMAT, for scanf-style operations.
#if defined(__GNUC__) || defined(__clang__)
#define KQ_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#define KQ_SCANF_FORMAT(f, a) __attribute__((format(scanf, f, a)))
#else
#define KQ_PRINTF_FORMAT(f, a)
#define KQ_SCANF_FORMAT(f, a)
#endif

#endif  // KQBRIDGE_EXPORT_H_
