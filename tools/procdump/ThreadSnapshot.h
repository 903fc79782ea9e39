#pragma once

#include <sys/procfs.h>
#include <sys/types.h>

// Registers of one stopped thread, in the layout of the core-file notes.
struct ThreadSnapshot
{
    pid_t tid = 0;
    elf_gregset_t registers;
    elf_fpregset_t fpRegisters;
    bool hasFpRegisters = false;
};
