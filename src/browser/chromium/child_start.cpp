#include "browser/chromium/child_start.h"

#include <cerrno>
#include <csignal>

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#if !defined(__x86_64__)
#    error "the child is started with x86-64 system calls"
#endif

#define CV_STRINGIFY_VALUE(x) #x
#define CV_STRINGIFY(x) CV_STRINGIFY_VALUE(x)

namespace chromium {

namespace {

// Code that runs in the child, on the parent's memory: not instrumented by any sanitizer
// (their run-time state is the parent thread's), and every helper inlined into it.
#define CV_IN_CHILD __attribute__((no_sanitize("address", "thread", "undefined")))
#define CV_IN_CHILD_INLINE inline __attribute__((always_inline, no_sanitize("address", "thread", "undefined")))

// A system call without libc: no errno (the parent thread's), no lazy symbol binding. The
// result, or -errno.
CV_IN_CHILD_INLINE long rawSyscall(long number, long a = 0, long b = 0, long c = 0, long d = 0) {
    long result;
    register long r10 __asm__("r10") = d;
    __asm__ volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10) : "rcx", "r11", "memory");
    return result;
}

// The kernel's own sigaction layout on x86-64, and its signal set (8 bytes).
struct KernelSigaction {
    void* handler;
    unsigned long flags;
    void* restorer;
    unsigned long mask;
};
constexpr long kernelSigsetSize = 8;
constexpr int highestSignal = 64;

struct Shared {
    const ChildPlan* plan;
    pid_t parent;
    volatile int error;  // set by the child when a step fails, read by the parent once it resumes
};

CV_IN_CHILD_INLINE void childFails(Shared* shared, long result) {
    shared->error = static_cast<int>(-result);
    rawSyscall(SYS_exit_group, 127);
    __builtin_unreachable();
}

CV_IN_CHILD int childMain(void* argument) {
    Shared* shared = static_cast<Shared*>(argument);
    const ChildPlan* plan = shared->plan;
    // A process group of its own, so teardown reaches the browser's helper processes too.
    rawSyscall(SYS_setpgid, 0, 0);
    // Killed when the thread that started us ends: the simulator's main thread, i.e. when the
    // simulator exits or is killed. The parent may already be gone before this took effect.
    rawSyscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL);
    if (rawSyscall(SYS_getppid) != shared->parent) childFails(shared, -ESRCH);
    // No handler of the simulator's may run in here; the program starts with default ones.
    for (int signal = 1; signal <= highestSignal; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP) continue;
        KernelSigaction action;
        action.handler = nullptr;
        if (rawSyscall(SYS_rt_sigaction, signal, 0, reinterpret_cast<long>(&action), kernelSigsetSize) != 0) continue;
        const bool handled =
            action.handler != reinterpret_cast<void*>(SIG_DFL) && action.handler != reinterpret_cast<void*>(SIG_IGN);
        if (!handled && signal != SIGPIPE) continue;
        action.handler = reinterpret_cast<void*>(SIG_DFL);
        action.flags = 0;
        action.restorer = nullptr;
        action.mask = 0;
        rawSyscall(SYS_rt_sigaction, signal, reinterpret_cast<long>(&action), 0, kernelSigsetSize);
    }
    // The browser's chatter stays out of the simulator's console.
    for (int fd = 0; fd <= 2; ++fd) {
        if (rawSyscall(SYS_dup2, plan->stdio, fd) != fd) childFails(shared, -EBADF);
    }
    // The planned descriptors sit at 5 or above, so these never overwrite each other.
    long result = rawSyscall(SYS_dup2, plan->fd3, 3);
    if (result != 3) childFails(shared, result < 0 ? result : -EBADF);
    result = rawSyscall(SYS_dup2, plan->fd4, 4);
    if (result != 4) childFails(shared, result < 0 ? result : -EBADF);
    if (rawSyscall(SYS_close_range, 5, ~0U, 0) != 0) {
        for (int fd = 5; fd <= plan->highestFd; ++fd) rawSyscall(SYS_close, fd);
    }
    unsigned long noSignals = 0;
    rawSyscall(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&noSignals), 0, kernelSigsetSize);
    result = rawSyscall(SYS_execve, reinterpret_cast<long>(plan->executable), reinterpret_cast<long>(plan->argv),
                        reinterpret_cast<long>(plan->envp));
    childFails(shared, result);
    return 127;
}

// Enough for childMain's few words, and then some; it never calls into libc.
constexpr std::size_t childStackBytes = 64 * 1024;

}  // namespace

// clone(CLONE_VM | CLONE_VFORK) made here rather than through libc's wrapper, which sanitizers
// intercept: ThreadSanitizer's treats the child like a forked one and, the memory being shared,
// rewrites the parent's own state with it. The child runs `run(argument)` on `stackTop` and
// exits with its result; the parent gets the child's pid, or -errno.
extern "C" long cvCloneVfork(unsigned long flags, void* stackTop, int (*run)(void*), void* argument);

pid_t startChild(const ChildPlan& plan, int& error) {
    void* stack =
        ::mmap(nullptr, childStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) {
        error = errno;
        return -1;
    }
    Shared shared{&plan, ::getpid(), 0};
    // Blocked across the start, so no handler of ours runs in the child before it has put
    // them all back to their defaults.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const long pid =
        cvCloneVfork(CLONE_VM | CLONE_VFORK | SIGCHLD, static_cast<char*>(stack) + childStackBytes, childMain, &shared);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, childStackBytes);
    if (pid < 0) {
        error = static_cast<int>(-pid);
        return -1;
    }
    if (shared.error != 0) {
        // It has already exited: the wait is for its exit to be complete.
        while (::waitpid(static_cast<pid_t>(pid), nullptr, 0) < 0 && errno == EINTR) {
        }
        error = shared.error;
        return -1;
    }
    return static_cast<pid_t>(pid);
}

// cvCloneVfork, as declared above.
__asm__(R"(
    .text
    .globl cvCloneVfork
    .hidden cvCloneVfork
    .type cvCloneVfork, @function
cvCloneVfork:
    .cfi_startproc
    endbr64
    andq $-16, %rsi
    subq $16, %rsi
    movq %rdx, 0(%rsi)
    movq %rcx, 8(%rsi)
    xorl %edx, %edx
    xorl %r10d, %r10d
    xorl %r8d, %r8d
    movl $)" CV_STRINGIFY(SYS_clone) R"(, %eax
    syscall
    testq %rax, %rax
    jnz 1f
    xorl %ebp, %ebp
    popq %rax
    popq %rdi
    callq *%rax
    movl %eax, %edi
    movl $)" CV_STRINGIFY(SYS_exit_group) R"(, %eax
    syscall
    hlt
1:
    ret
    .cfi_endproc
    .size cvCloneVfork, .-cvCloneVfork
)");

}  // namespace chromium
