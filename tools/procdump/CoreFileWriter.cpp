#include "CoreFileWriter.h"

#include "ProcFs.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/user.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

#if defined(__x86_64__)
const Elf64_Half kMachine = EM_X86_64;
uint64_t stackPointer(const elf_gregset_t &registers)
{
    user_regs_struct regs;
    memcpy(&regs, &registers, sizeof(regs));
    return regs.rsp;
}
#elif defined(__aarch64__)
const Elf64_Half kMachine = EM_AARCH64;
uint64_t stackPointer(const elf_gregset_t &registers)
{
    user_regs_struct regs;
    memcpy(&regs, &registers, sizeof(regs));
    return regs.sp;
}
#else
#error "core files are written for x86-64 and AArch64 only"
#endif

// Bytes below the stack pointer that leaf functions may still use.
const uint64_t kRedZone = 128;
// Larger mappings are address-space reservations (sanitizer shadow, allocator arenas): they are
// described but their memory is left out.
const uint64_t kLargestContent = 4ull << 30;
// /proc/<pid>/pagemap entry bits.
const uint64_t kPagePresent = 1ull << 63;
const uint64_t kPageSwapped = 1ull << 62;

struct Segment
{
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t contentSize = 0; // bytes from `start` taken into the file
    Elf64_Word flags = 0;
    uint64_t fileOffset = 0;
};

void appendNote(std::string *notes, const char *name, Elf64_Word type, const void *data, size_t size)
{
    Elf64_Nhdr header;
    header.n_namesz = static_cast<Elf64_Word>(strlen(name) + 1);
    header.n_descsz = static_cast<Elf64_Word>(size);
    header.n_type = type;
    notes->append(reinterpret_cast<const char *>(&header), sizeof(header));
    notes->append(name, header.n_namesz);
    notes->append((4 - header.n_namesz % 4) % 4, '\0');
    notes->append(static_cast<const char *>(data), size);
    notes->append((4 - size % 4) % 4, '\0');
}

bool isPseudoFile(const std::string &path)
{
    return path.empty() || path[0] != '/' || path.compare(0, 5, "/dev/") == 0 ||
           path.find(" (deleted)") != std::string::npos;
}

bool allZero(const char *data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0)
            return false;
    return true;
}

bool writeAll(int fd, const char *data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

} // namespace

CoreFileWriter::CoreFileWriter(pid_t pid, int signal, const siginfo_t *info)
    : m_pid(pid), m_signal(signal), m_hasInfo(info != nullptr)
{
    memset(&m_info, 0, sizeof(m_info));
    if (info != nullptr)
        m_info = *info;
}

bool CoreFileWriter::write(const std::string &path, const std::vector<ThreadSnapshot> &threads,
                           std::string *error) const
{
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const std::vector<ProcFs::Mapping> maps = ProcFs::mappings(m_pid);
    if (maps.empty()) {
        *error = "cannot read the memory map of process " + std::to_string(m_pid);
        return false;
    }
    ProcFs::Status status;
    ProcFs::readStatus(m_pid, &status);

    // Which memory goes into the file.
    std::vector<Segment> segments;
    for (const ProcFs::Mapping &map : maps) {
        if (map.path == "[vvar]" || map.path == "[vsyscall]")
            continue;
        Segment segment;
        segment.start = map.start;
        segment.end = map.end;
        segment.flags = (map.readable ? PF_R : 0) | (map.writable ? PF_W : 0) | (map.executable ? PF_X : 0);
        uint64_t contentFrom = map.end;
        if (map.readable) {
            uint64_t lowestSp = map.end;
            for (const ThreadSnapshot &thread : threads) {
                const uint64_t sp = stackPointer(thread.registers);
                if (sp >= map.start && sp < map.end)
                    lowestSp = std::min(lowestSp, sp);
            }
            const bool fileBacked = !isPseudoFile(map.path) && map.inode != 0;
            if (lowestSp < map.end) {
                const uint64_t from = lowestSp > map.start + kRedZone ? lowestSp - kRedZone : map.start;
                contentFrom = from - from % page;
            } else if (map.path == "[vdso]" || map.path == "[stack]") {
                contentFrom = map.start;
            } else if (map.writable && (!map.shared || !fileBacked) && map.path.compare(0, 5, "/dev/") != 0) {
                contentFrom = map.start;
            } else if (!map.shared && map.anonymousBytes > 0) {
                // Pages the process changed, such as relocated data made read-only afterwards: the
                // loader's list of libraries lives there.
                contentFrom = map.start;
            } else if (fileBacked && map.offset == 0 && !map.shared) {
                // The ELF header page lets a debugger match the file by its build id.
                segments.push_back(segment);
                segments.back().contentSize = std::min(page, map.end - map.start);
                continue;
            }
        }
        if (contentFrom > map.start && contentFrom < map.end) {
            Segment lower = segment;
            lower.end = contentFrom;
            segments.push_back(lower);
            segment.start = contentFrom;
        }
        if (contentFrom < map.end && segment.end - segment.start <= kLargestContent)
            segment.contentSize = segment.end - segment.start;
        segments.push_back(segment);
    }

    // Notes: the first thread's status, then the process, then the other threads.
    std::string notes;
    std::string threadNotes;
    for (size_t i = 0; i < threads.size(); ++i) {
        const ThreadSnapshot &thread = threads[i];
        elf_prstatus prstatus;
        memset(&prstatus, 0, sizeof(prstatus));
        prstatus.pr_info.si_signo = m_signal;
        prstatus.pr_info.si_code = m_hasInfo ? m_info.si_code : 0;
        prstatus.pr_cursig = static_cast<short>(m_signal);
        prstatus.pr_pid = thread.tid;
        prstatus.pr_ppid = status.ppid;
        prstatus.pr_pgrp = status.pgrp;
        prstatus.pr_sid = status.session;
        memcpy(&prstatus.pr_reg, &thread.registers, sizeof(prstatus.pr_reg));
        prstatus.pr_fpvalid = thread.hasFpRegisters ? 1 : 0;
        std::string *target = i == 0 ? &notes : &threadNotes;
        appendNote(target, "CORE", NT_PRSTATUS, &prstatus, sizeof(prstatus));
        if (i == 0) {
            elf_prpsinfo psinfo;
            memset(&psinfo, 0, sizeof(psinfo));
            const char *states = "RSDTZW";
            const char *found = strchr(states, status.state);
            psinfo.pr_state = found != nullptr ? static_cast<char>(found - states) : 0;
            psinfo.pr_sname = status.state;
            psinfo.pr_zomb = status.state == 'Z';
            psinfo.pr_nice = static_cast<char>(status.nice);
            psinfo.pr_flag = status.flags;
            psinfo.pr_uid = status.uid;
            psinfo.pr_gid = status.gid;
            psinfo.pr_pid = m_pid;
            psinfo.pr_ppid = status.ppid;
            psinfo.pr_pgrp = status.pgrp;
            psinfo.pr_sid = status.session;
            strncpy(psinfo.pr_fname, status.name.c_str(), sizeof(psinfo.pr_fname) - 1);
            const std::string args = ProcFs::commandLine(m_pid);
            strncpy(psinfo.pr_psargs, args.c_str(), sizeof(psinfo.pr_psargs) - 1);
            appendNote(target, "CORE", NT_PRPSINFO, &psinfo, sizeof(psinfo));
            if (m_hasInfo)
                appendNote(target, "CORE", NT_SIGINFO, &m_info, sizeof(m_info));
            const std::string auxv = ProcFs::readFile("/proc/" + std::to_string(m_pid) + "/auxv");
            if (!auxv.empty())
                appendNote(target, "CORE", NT_AUXV, auxv.data(), auxv.size());
            std::string files;
            std::string names;
            uint64_t count = 0;
            for (const ProcFs::Mapping &map : maps) {
                if (isPseudoFile(map.path) || map.inode == 0)
                    continue;
                const uint64_t entry[3] = {map.start, map.end, map.offset / page};
                files.append(reinterpret_cast<const char *>(entry), sizeof(entry));
                names.append(map.path);
                names.push_back('\0');
                ++count;
            }
            const uint64_t head[2] = {count, page};
            std::string fileNote(reinterpret_cast<const char *>(head), sizeof(head));
            fileNote += files;
            fileNote += names;
            appendNote(target, "CORE", NT_FILE, fileNote.data(), fileNote.size());
        }
        if (thread.hasFpRegisters)
            appendNote(target, "CORE", NT_PRFPREG, &thread.fpRegisters, sizeof(thread.fpRegisters));
    }
    notes += threadNotes;

    // Layout: header, program headers, notes, then page-aligned memory.
    const size_t headerCount = 1 + segments.size();
    const uint64_t notesOffset = sizeof(Elf64_Ehdr) + headerCount * sizeof(Elf64_Phdr);
    uint64_t offset = notesOffset + notes.size();
    offset = (offset + page - 1) / page * page;
    for (Segment &segment : segments) {
        segment.fileOffset = offset;
        offset += segment.contentSize;
    }
    const uint64_t fileSize = offset;

    std::string head;
    Elf64_Ehdr ehdr;
    memset(&ehdr, 0, sizeof(ehdr));
    memcpy(ehdr.e_ident, ELFMAG, SELFMAG);
    ehdr.e_ident[EI_CLASS] = ELFCLASS64;
    ehdr.e_ident[EI_DATA] = ELFDATA2LSB;
    ehdr.e_ident[EI_VERSION] = EV_CURRENT;
    ehdr.e_ident[EI_OSABI] = ELFOSABI_NONE;
    ehdr.e_type = ET_CORE;
    ehdr.e_machine = kMachine;
    ehdr.e_version = EV_CURRENT;
    ehdr.e_phoff = sizeof(Elf64_Ehdr);
    ehdr.e_ehsize = sizeof(Elf64_Ehdr);
    ehdr.e_phentsize = sizeof(Elf64_Phdr);
    ehdr.e_phnum = static_cast<Elf64_Half>(std::min<size_t>(headerCount, PN_XNUM - 1));
    head.append(reinterpret_cast<const char *>(&ehdr), sizeof(ehdr));
    Elf64_Phdr note;
    memset(&note, 0, sizeof(note));
    note.p_type = PT_NOTE;
    note.p_offset = notesOffset;
    note.p_filesz = notes.size();
    note.p_align = 4;
    head.append(reinterpret_cast<const char *>(&note), sizeof(note));
    for (size_t i = 0; i + 1 < ehdr.e_phnum; ++i) {
        const Segment &segment = segments[i];
        Elf64_Phdr load;
        memset(&load, 0, sizeof(load));
        load.p_type = PT_LOAD;
        load.p_flags = segment.flags;
        load.p_offset = segment.fileOffset;
        load.p_vaddr = segment.start;
        load.p_filesz = segment.contentSize;
        load.p_memsz = segment.end - segment.start;
        load.p_align = page;
        head.append(reinterpret_cast<const char *>(&load), sizeof(load));
    }
    head += notes;

    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    fchmod(fd, 0600);
    bool ok = writeAll(fd, head.data(), head.size(), 0);

    const int mem = open(("/proc/" + std::to_string(m_pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    const int pagemap = open(("/proc/" + std::to_string(m_pid) + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
    const size_t chunkPages = 64;
    std::vector<char> buffer(page * chunkPages);
    uint64_t entries[chunkPages];
    for (const Segment &segment : segments) {
        for (uint64_t done = 0; ok && done < segment.contentSize; done += buffer.size()) {
            const size_t chunk =
                static_cast<size_t>(std::min<uint64_t>(buffer.size(), segment.contentSize - done));
            const uint64_t address = segment.start + done;
            // Pages never touched read as zeros: skip them without reading when the page map says so.
            if (pagemap >= 0) {
                const size_t count = (chunk + page - 1) / page;
                const ssize_t want = static_cast<ssize_t>(count * sizeof(uint64_t));
                if (pread(pagemap, entries, static_cast<size_t>(want),
                          static_cast<off_t>(address / page * 8)) == want) {
                    bool any = false;
                    for (size_t i = 0; i < count && !any; ++i)
                        any = (entries[i] & (kPagePresent | kPageSwapped)) != 0;
                    if (!any)
                        continue;
                }
            }
            ssize_t got = mem >= 0 ? pread(mem, buffer.data(), chunk, static_cast<off_t>(address)) : -1;
            if (got != static_cast<ssize_t>(chunk)) {
                // Part of the range cannot be read (e.g. a guard page): take it page by page.
                for (size_t at = 0; at < chunk; at += page) {
                    const size_t size = static_cast<size_t>(std::min<uint64_t>(page, chunk - at));
                    if (mem < 0 || pread(mem, buffer.data() + at, size, static_cast<off_t>(address + at)) !=
                                       static_cast<ssize_t>(size))
                        memset(buffer.data() + at, 0, size);
                }
            }
            // Pages that hold only zeros stay holes in the file.
            for (size_t at = 0; ok && at < chunk; at += page) {
                const size_t size = static_cast<size_t>(std::min<uint64_t>(page, chunk - at));
                if (!allZero(buffer.data() + at, size))
                    ok = writeAll(fd, buffer.data() + at, size,
                                  static_cast<off_t>(segment.fileOffset + done + at));
            }
        }
    }
    if (mem >= 0)
        close(mem);
    if (pagemap >= 0)
        close(pagemap);
    if (ok && ftruncate(fd, static_cast<off_t>(fileSize)) != 0)
        ok = false;
    if (close(fd) != 0)
        ok = false;
    if (!ok && error->empty())
        *error = "cannot write " + path + ": " + strerror(errno);
    return ok;
}
