#pragma once

namespace varnel {

// The calling thread. Raises the calling thread's scheduling priority one step above normal
// where the system lets an ordinary user do so. False when it does not; that is no error, the
// thread just runs at normal priority.
bool RaiseCurrentThreadPriority() noexcept;

// The calling thread; allocates nothing. CPU time the calling thread has used, in
// nanoseconds; 0 where the system cannot tell.
unsigned long long CurrentThreadCpuNs() noexcept;

} // namespace varnel
