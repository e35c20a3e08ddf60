// Lock annotations checked by clang's -Wthread-safety (no-ops with other compilers).
//
// Every shared member says which mutex guards it (GUARDED_BY); every function
// that expects a lock held says so (REQUIRES). Use vantrel::Mutex and
// vantrel::MutexLock rather than std::mutex, whose libstdc++ declaration
// carries no annotations.
#pragma once

#if defined(__clang__)
#define VANTREL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VANTREL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VANTREL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VANTREL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VANTREL_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VANTREL_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VANTREL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VANTREL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VANTREL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VANTREL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VANTREL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VANTREL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VANTREL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VANTREL_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) VANTREL_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VANTREL_THREAD_ANNOTATION(no_thread_safety_analysis)
