// Clang's thread-safety analysis: which lock guards which member, which
// function needs which lock held. Clang with -Wthread-safety checks them at
// compile time; every other compiler sees nothing.
#ifndef KQBRIDGE_PLATFORM_THREAD_ANNOTATIONS_H_
#define KQBRIDGE_PLATFORM_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define KQ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KQ_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks.
#define CAPABILITY(x) KQ_THREAD_ANNOTATION(capability(x))
// A class whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY KQ_THREAD_ANNOTATION(scoped_lockable)
// The member may be read or written only with the lock held.
#define GUARDED_BY(x) KQ_THREAD_ANNOTATION(guarded_by(x))
// The caller holds the lock(s) when it calls, and still does on return.
#define REQUIRES(...) KQ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The caller must not hold the lock(s): the function takes them itself.
#define EXCLUDES(...) KQ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) KQ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KQ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// Takes the lock(s) when it returns `result`.
#define TRY_ACQUIRE(...) KQ_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// For the few functions whose locking the analysis cannot follow; each use
// says why in a comment.
#define NO_THREAD_SAFETY_ANALYSIS KQ_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // KQBRIDGE_PLATFORM_THREAD_ANNOTATIONS_H_
