#include "FaultContext.h"

#include <sys/ucontext.h>
#include <sys/uio.h>
#include <sys/user.h>

#include <cstring>

namespace {

bool readMemory(pid_t pid, uint64_t address, void *buffer, size_t size)
{
    if (address == 0)
        return false;
    iovec local = {buffer, size};
    iovec remote = {reinterpret_cast<void *>(static_cast<uintptr_t>(address)), size};
    return process_vm_readv(pid, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

} // namespace

bool FaultContext::readSiginfo(pid_t pid, uint64_t address, siginfo_t *info)
{
    return readMemory(pid, address, info, sizeof(*info));
}

bool FaultContext::readRegisters(pid_t pid, uint64_t ucontextAddress, ThreadSnapshot *thread)
{
#if defined(__x86_64__)
    ucontext_t context;
    if (!readMemory(pid, ucontextAddress, &context, sizeof(context)))
        return false;
    const greg_t *g = context.uc_mcontext.gregs;
    user_regs_struct regs;
    static_assert(sizeof(regs) == sizeof(thread->registers), "register layouts differ");
    memcpy(&regs, thread->registers, sizeof(regs));
    regs.r8 = static_cast<unsigned long long>(g[REG_R8]);
    regs.r9 = static_cast<unsigned long long>(g[REG_R9]);
    regs.r10 = static_cast<unsigned long long>(g[REG_R10]);
    regs.r11 = static_cast<unsigned long long>(g[REG_R11]);
    regs.r12 = static_cast<unsigned long long>(g[REG_R12]);
    regs.r13 = static_cast<unsigned long long>(g[REG_R13]);
    regs.r14 = static_cast<unsigned long long>(g[REG_R14]);
    regs.r15 = static_cast<unsigned long long>(g[REG_R15]);
    regs.rdi = static_cast<unsigned long long>(g[REG_RDI]);
    regs.rsi = static_cast<unsigned long long>(g[REG_RSI]);
    regs.rbp = static_cast<unsigned long long>(g[REG_RBP]);
    regs.rbx = static_cast<unsigned long long>(g[REG_RBX]);
    regs.rdx = static_cast<unsigned long long>(g[REG_RDX]);
    regs.rax = static_cast<unsigned long long>(g[REG_RAX]);
    regs.rcx = static_cast<unsigned long long>(g[REG_RCX]);
    regs.rsp = static_cast<unsigned long long>(g[REG_RSP]);
    regs.rip = static_cast<unsigned long long>(g[REG_RIP]);
    regs.eflags = static_cast<unsigned long long>(g[REG_EFL]);
    // Not inside a system call at the fault.
    regs.orig_rax = static_cast<unsigned long long>(-1LL);
    memcpy(thread->registers, &regs, sizeof(regs));
    if (context.uc_mcontext.fpregs != nullptr &&
        readMemory(pid, reinterpret_cast<uintptr_t>(context.uc_mcontext.fpregs), &thread->fpRegisters,
                   sizeof(thread->fpRegisters)))
        thread->hasFpRegisters = true;
    return true;
#else
    (void)pid;
    (void)ucontextAddress;
    (void)thread;
    return false;
#endif
}
