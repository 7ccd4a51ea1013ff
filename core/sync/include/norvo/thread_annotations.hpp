#pragma once
// Lock contracts that clang checks (-Wthread-safety): which mutex guards a member, which
// a function needs held, which it takes or gives back. Other compilers see nothing.

#if defined(__clang__)
#define NORVO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define NORVO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) NORVO_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY NORVO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) NORVO_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) NORVO_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) NORVO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) NORVO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) NORVO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) NORVO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) NORVO_THREAD_ANNOTATION(lock_returned(x))
