#pragma once
// Thread-ownership annotations read by clang's -Wthread-safety analysis; they compile to nothing
// elsewhere. A field says which mutex guards it (GUARDED_BY), a function what it needs held
// (REQUIRES) or must not hold (EXCLUDES), so a missing lock is a compile error in the
// thread-safety build rather than a race found later.
//
// Lambdas are analysed on their own: a predicate handed to a condition-variable wait that reads
// guarded fields says so with `[&]() REQUIRES(mutex_) { ... }`.

#if defined(__clang__)
#define CH_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CH_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) CH_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY CH_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) CH_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) CH_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) CH_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) CH_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) CH_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) CH_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) CH_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) CH_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) CH_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) CH_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) CH_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) CH_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS CH_THREAD_ANNOTATION(no_thread_safety_analysis)
