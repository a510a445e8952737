#!/usr/bin/env python3
"""Runs a command so that its output doesn't depend on when it runs: the wall clock it reads is
fixed at one moment, and its addresses are not randomized.

    tools/reproducible_run.py SECONDS command [args...]

chmcmd stamps every .chm with the time it runs and reads the clock through system calls of its
own (its runtime library makes no libc calls for it, so LD_PRELOAD tricks don't reach it); and
the order in which it compresses the files follows heap addresses. This tracer stops the command
at the end of each time(), gettimeofday() and clock_gettime(CLOCK_REALTIME) call and writes
SECONDS (and zero fractions) into the answer, and starts it without address randomization.
x86_64 Linux only; the command must be single-threaded and not fork.
"""

import ctypes
import os
import sys

PTRACE_TRACEME, PTRACE_POKEDATA, PTRACE_GETREGS, PTRACE_SETREGS = 0, 5, 12, 13
PTRACE_SYSCALL, PTRACE_SETOPTIONS, PTRACE_O_TRACESYSGOOD = 24, 0x4200, 1
SYS_GETTIMEOFDAY, SYS_TIME, SYS_CLOCK_GETTIME = 96, 201, 228
ADDR_NO_RANDOMIZE = 0x0040000
CLOCK_REALTIME = 0


class Regs(ctypes.Structure):
    _fields_ = [(name, ctypes.c_ulonglong) for name in (
        "r15", "r14", "r13", "r12", "rbp", "rbx", "r11", "r10", "r9", "r8", "rax", "rcx", "rdx",
        "rsi", "rdi", "orig_rax", "rip", "cs", "eflags", "rsp", "ss", "fs_base", "gs_base", "ds",
        "es", "fs", "gs")]


libc = ctypes.CDLL(None, use_errno=True)
libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
libc.ptrace.restype = ctypes.c_long


def poke_pair(pid, address, first, second):
    """Writes two 64-bit words (a timeval or timespec) into the traced process."""
    for offset, value in ((0, first), (8, second)):
        libc.ptrace(PTRACE_POKEDATA, pid, ctypes.c_void_p(address + offset), ctypes.c_void_p(value))


def main():
    seconds, command = int(sys.argv[1]), sys.argv[2:]
    pid = os.fork()
    if pid == 0:
        libc.personality(ADDR_NO_RANDOMIZE)
        libc.ptrace(PTRACE_TRACEME, 0, None, None)
        os.execvp(command[0], command)
    os.waitpid(pid, 0)  # stopped at exec
    libc.ptrace(PTRACE_SETOPTIONS, pid, None, ctypes.c_void_p(PTRACE_O_TRACESYSGOOD))
    entering = True
    regs = Regs()
    while True:
        libc.ptrace(PTRACE_SYSCALL, pid, None, None)
        _, status = os.waitpid(pid, 0)
        if os.WIFEXITED(status):
            return os.WEXITSTATUS(status)
        if os.WIFSIGNALED(status):
            return 128 + os.WTERMSIG(status)
        if not (os.WIFSTOPPED(status) and os.WSTOPSIG(status) == 0x80 | 5):
            # A signal for the command itself: pass it on.
            libc.ptrace(PTRACE_SYSCALL, pid, None, ctypes.c_void_p(os.WSTOPSIG(status)))
            continue
        if not entering:
            libc.ptrace(PTRACE_GETREGS, pid, None, ctypes.byref(regs))
            number, result = regs.orig_rax, ctypes.c_longlong(regs.rax).value
            if number == SYS_TIME:
                if regs.rdi:
                    libc.ptrace(PTRACE_POKEDATA, pid, ctypes.c_void_p(regs.rdi), ctypes.c_void_p(seconds))
                regs.rax = seconds
                libc.ptrace(PTRACE_SETREGS, pid, None, ctypes.byref(regs))
            elif number == SYS_GETTIMEOFDAY and result == 0 and regs.rdi:
                poke_pair(pid, regs.rdi, seconds, 0)
            elif number == SYS_CLOCK_GETTIME and result == 0 and regs.rdi == CLOCK_REALTIME and regs.rsi:
                poke_pair(pid, regs.rsi, seconds, 0)
        entering = not entering


if __name__ == "__main__":
    sys.exit(main())
