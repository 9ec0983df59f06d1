#pragma once

namespace varnel {

// The calling thread. Raises the calling thread's scheduling priority one step above normal
// where the system lets an ordinary user do so. False when it does not; that is no error, the
// thread just runs at normal priority.
bool RaiseCurrentThreadPriority() noexcept;

} // namespace varnel
