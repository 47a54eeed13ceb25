// Starting a program as a child process without copying the simulator's address space. A
// fork() copies the page tables of a process holding gigabytes, on the simulator's main
// thread (tens to hundreds of milliseconds, and it fails outright where the kernel does not
// overcommit); posix_spawn cannot give the child a parent-death signal. So the child borrows
// the parent's memory (clone with CLONE_VM | CLONE_VFORK: the calling thread waits until the
// child has replaced itself with the program) and runs on a stack of its own, making raw
// system calls only: no libc, no sanitizer, nothing that another thread of the simulator could
// be holding a lock in.
#pragma once

#include <sys/types.h>

namespace chromium {

// Everything the child is started with, prepared by the caller: until the program runs, the
// child may only read this.
struct ChildPlan {
    const char* executable;
    char* const* argv;  // null-ended
    char* const* envp;  // null-ended
    int stdio;          // a descriptor open on /dev/null: becomes the child's 0, 1 and 2
    int fd3, fd4;       // become the child's 3 and 4
    int highestFd;      // where closing the rest stops when the kernel cannot close a range
};

// Starts the program: in a process group of its own, killed (SIGKILL) when the calling thread
// ends, every signal the caller handles back to its default (and SIGPIPE, which the simulator
// may ignore), no signal blocked, descriptors 0 to 4 as planned and no other. `stdio`, `fd3`
// and `fd4` must be 5 or above. The pid, or -1 with `error` set to the errno of the step that
// failed (the child is reaped then).
pid_t startChild(const ChildPlan& plan, int& error);

}  // namespace chromium
