#!/usr/bin/env python3
"""keyreport.exe's own machine code through the report cases on an emulated processor
(Unicorn), the test being its loader and its Windows: see docs/windows.md."""

import functools
import os
import struct
import subprocess
import sys
import tempfile

from cases import (HELD_READING, HELD_WRITING, IMPORTS, CaseFailure, ansi_text, case_folder,
                   expect, expect_run, parse_arguments, read_expected, run_cases, shown)

try:
    import pefile
    import unicorn
    from unicorn import x86_const as x86
except ImportError as missing:
    sys.exit("%s: install the Debian packages python3-pefile and python3-unicorn" % missing)

PAGE = 0x1000

# Where the test puts things. The image goes elsewhere than where it asks to be, as ASLR
# puts it on Windows; the 64-bit one above 4 GiB, where the dump shows the address's low half.
LAYOUT = {
    "win32": dict(mode=unicorn.UC_MODE_32, pointer=4, image=0x01230000, stubs=0x7F000000,
                  stack_top=0x00300000, heap=0x02000000, heap_alignment=8),
    "win64": dict(mode=unicorn.UC_MODE_64, pointer=8, image=0x7FF745600000,
                  stubs=0x7FFF0000000, stack_top=0x8A40000000,
                  heap=0x000002A000000000, heap_alignment=16),
}
HEAP_SIZE = 0x100000
STUB_SIZE = 16
# Room above the entry's stack pointer: what Windows' thread start leaves there.
STACK_ABOVE_ENTRY = 0x200
# What the served calls leave in the registers a call may change: the general and vector
# registers, the x87 ones (mantissa, then sign and exponent), the status flags turned over.
CLOBBER = 0xDEADBEEFC0FFEE11
CLOBBER_X87 = (CLOBBER, 0x7ABC)
STATUS_FLAGS = 0x8D5  # OF SF ZF AF PF CF
DIRECTION_FLAG = 0x400

# Windows' numbers for what the calls take and give, and the handles the test gives out.
GENERIC_READ, GENERIC_WRITE = 0x80000000, 0x40000000
FILE_SHARE_READ, FILE_SHARE_WRITE = 0x1, 0x2
OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL = 3, 0x80
STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE = 0xFFFFFFF6, 0xFFFFFFF5, 0xFFFFFFF4
CP_UTF8, MB_ERR_INVALID_CHARS, HEAP_ZERO_MEMORY = 65001, 0x8, 0x8
MB_OK, IDOK = 0, 1
HANDLES = {STD_INPUT_HANDLE: 0x50, STD_OUTPUT_HANDLE: 0x54, STD_ERROR_HANDLE: 0x58}
FILE_HANDLE = 0x74
HEAP_HANDLE = 0x00A80000

# Another program's open handle on Test.txt: its access and its share mode.
HOLDERS = {HELD_READING: (GENERIC_READ, FILE_SHARE_READ),
           HELD_WRITING: (GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)}

# The keys "pressed": one before the run starts and one in each box, which the key wait must
# discard, and the one given once the run waits, which must end it.
EARLY_KEY, KEY_IN_BOX, FINAL_KEY = ord("a"), ord("x"), ord("y")
# How many times _kbhit finds no key before the final key is given.
EMPTY_POLLS = 25
# A run that has not ended after this long on the emulated processor is stuck.
RUN_TIMEOUT_SECONDS = 20


def sharing_allows(access, share, holder):
    """Whether an open with this access and share mode succeeds while another handle, of
    holder's access and share mode, is open: each must share what the other asks for."""
    rights = ((GENERIC_READ, FILE_SHARE_READ), (GENERIC_WRITE, FILE_SHARE_WRITE))
    return all(shared & bit for asked, shared in ((access, holder[1]), (holder[0], share))
               for right, bit in rights if asked & right)


class Machine:
    """One run of the program: the emulated processor, its memory and the served calls."""

    def __init__(self, pe, build, contents, extras, libraries):
        self.libraries = libraries
        self.layout = LAYOUT[build]
        self.wide = self.layout["pointer"] == 8
        self.r = "R" if self.wide else "E"  # RSP or ESP, and the like
        self.contents = contents
        self.holder = next((HOLDERS[e] for e in extras if e in HOLDERS), None)
        self.uc = unicorn.Uc(unicorn.UC_ARCH_X86, self.layout["mode"])
        # waiting_output: the output when the final key was given.
        self.failure = self.waiting_output = self.got_key = self.exit_code = None
        self.text_address = self.file_handle = None
        self.calls = []  # (name, arguments), in order
        self.output = bytearray()
        self.boxes = []  # (text, output when the box opened)
        self.keys = [EARLY_KEY]
        self.empty_polls = 0
        self.slept_since_poll = True
        self.heap_next = self.layout["heap"]
        self.heap_blocks = []  # (start, size)
        self.load(pe)
        self.map_stack(pe)
        self.uc.mem_map(self.layout["heap"], HEAP_SIZE,
                        unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        self.uc.mem_write(self.layout["heap"], b"\xa5" * HEAP_SIZE)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_READ | unicorn.UC_HOOK_MEM_WRITE, self.on_heap,
                         begin=self.layout["heap"], end=self.layout["heap"] + HEAP_SIZE - 1)

    def load(self, pe):
        relocatable = not pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED and hasattr(
            pe, "DIRECTORY_ENTRY_BASERELOC")
        base = self.base = self.layout["image"] if relocatable else pe.OPTIONAL_HEADER.ImageBase
        # The image as the loader lays it out, relocated to base.
        image = pe.get_memory_mapped_image(ImageBase=base)
        size = (pe.OPTIONAL_HEADER.SizeOfImage + PAGE - 1) & ~(PAGE - 1)
        self.uc.mem_map(base, size, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        self.uc.mem_write(base, bytes(image[:size]).ljust(size, b"\0"))
        self.bind_imports(pe)
        # The headers read-only, then each section as its characteristics say.
        self.uc.mem_protect(base, PAGE, unicorn.UC_PROT_READ)
        for section in pe.sections:
            flags = section.Characteristics
            protection = ((unicorn.UC_PROT_READ if flags & 0x40000000 else 0)
                          | (unicorn.UC_PROT_WRITE if flags & 0x80000000 else 0)
                          | (unicorn.UC_PROT_EXEC if flags & 0x20000000 else 0))
            length = (max(section.Misc_VirtualSize, 1) + PAGE - 1) & ~(PAGE - 1)
            self.uc.mem_protect(base + section.VirtualAddress, length, protection)
        self.entry = base + pe.OPTIONAL_HEADER.AddressOfEntryPoint

    def bind_imports(self, pe):
        """Points each import's address slot at a stub that returns once its hook has served it."""
        self.stubs = {}
        stubs = bytearray()
        for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = entry.dll.decode("ascii").lower()
            for imported in entry.imports:
                name = imported.name.decode("ascii") if imported.name else "#%d" % imported.ordinal
                # Windows refuses to start a program that imports what its DLL lacks.
                exports = dll_exports(self.libraries, dll)
                if exports is None or name not in exports:
                    self.fail("%s does not export %s: Windows would not load the program%s"
                              % (dll, name, "" if exports else " (no import library for it)"))
                served = SERVED[name] if name in IMPORTS.get(dll, ()) else None
                address = self.layout["stubs"] + len(stubs)
                self.stubs[address] = (dll, name, served)
                pop = 0 if self.wide or served is None else 4 * len(served[1])
                # ret, or ret n for a 32-bit call that takes its arguments off the stack.
                code = b"\xc2" + pop.to_bytes(2, "little") if pop else b"\xc3"
                stubs += code.ljust(STUB_SIZE, b"\xcc")
                # pefile gives the slot's address at the image base it was mapped at.
                slot = self.base + imported.address - pe.OPTIONAL_HEADER.ImageBase
                self.uc.mem_write(slot, address.to_bytes(self.layout["pointer"], "little"))
        # A stub the entry point returns to, should it return.
        self.returned = self.layout["stubs"] + len(stubs)
        stubs += b"\xcc" * STUB_SIZE
        size = (len(stubs) + PAGE - 1) & ~(PAGE - 1)
        self.uc.mem_map(self.layout["stubs"], size, unicorn.UC_PROT_READ | unicorn.UC_PROT_EXEC)
        self.uc.mem_write(self.layout["stubs"], bytes(stubs))
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self.on_stub, begin=self.layout["stubs"],
                         end=self.layout["stubs"] + size - 1)

    def map_stack(self, pe):
        top = self.layout["stack_top"]
        reserve = (pe.OPTIONAL_HEADER.SizeOfStackReserve + PAGE - 1) & ~(PAGE - 1)
        commit = max(PAGE, (pe.OPTIONAL_HEADER.SizeOfStackCommit + PAGE - 1) & ~(PAGE - 1))
        self.stack_bottom = top - reserve
        self.committed = top - commit
        self.uc.mem_map(self.stack_bottom, reserve, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        # The entry's return address: only 4-byte aligned on 32-bit Windows, 8 below a multiple of
        # 16 on 64-bit Windows, under the 32 bytes of home space a 64-bit callee is given.
        sp = top - STACK_ABOVE_ENTRY - (32 + 8 if self.wide else 4 + 8)
        self.entry_sp = self.deepest = sp
        self.uc.mem_write(sp, self.returned.to_bytes(self.layout["pointer"], "little"))
        self.register(self.r + "SP", sp)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_READ | unicorn.UC_HOOK_MEM_WRITE, self.on_stack,
                         begin=self.stack_bottom, end=top - 1)

    def on_stack(self, uc, access, address, size, value, data):
        """Windows commits the stack a page at a time as the guard page below the committed
        part is touched; a touch below the guard page is an access violation."""
        self.deepest = min(self.deepest, address)
        if address >= self.committed:
            return
        if address >= self.committed - PAGE:
            self.committed -= PAGE
            return
        self.fail("the stack was touched at %#x, below the guard page at %#x: a frame stepped "
                  "more than a page without probing the stack" % (address, self.committed - PAGE))

    def on_heap(self, uc, access, address, size, value, data):
        """Heap memory is touched only inside a block: a write within the bytes asked for, a
        read within them rounded up to the heap's granularity."""
        granularity = self.layout["heap_alignment"]
        for start, length in self.heap_blocks:
            if access != unicorn.UC_MEM_WRITE:
                length = (length + granularity - 1) // granularity * granularity
            if start <= address and address + size <= start + length:
                return
        self.fail("%s of %d bytes at %#x, outside every heap block %s"
                  % ("write" if access == unicorn.UC_MEM_WRITE else "read", size, address,
                     [(hex(s), n) for s, n in self.heap_blocks]))

    def fail(self, message):
        if self.failure is None:
            self.failure = message
        self.uc.emu_stop()

    def write(self, address, data, what):
        """A served call's store into the program's memory, which must be writable there."""
        last = address + len(data) - 1
        if data and not any(begin <= address and last <= end and protection & unicorn.UC_PROT_WRITE
                            for begin, end, protection in self.uc.mem_regions()):
            raise CaseFailure("%s at %#x (%d bytes) is not writable memory"
                              % (what, address, len(data)))
        self.uc.mem_write(address, bytes(data))

    def read(self, address, size):
        try:
            return bytes(self.uc.mem_read(address, size))
        except unicorn.UcError:
            raise CaseFailure("a call's argument points at unmapped memory: %#x (%d bytes)"
                              % (address, size))

    def read_text(self, address, unit=1, limit=65536):
        """A zero-terminated text of bytes, or of 16-bit units, without its zero."""
        text = bytearray()
        while len(text) < limit:
            piece = self.read(address + len(text), unit)
            if piece == b"\0" * unit:
                return bytes(text)
            text += piece
        raise CaseFailure("no terminating zero within %d bytes at %#x" % (limit, address))

    def put_count(self, address, value, what):
        """A 32-bit count that the call stores through a pointer it is given."""
        expect(address != 0, "%s: a null pointer where the call stores its result" % what)
        self.write(address, value.to_bytes(4, "little"), what)

    def arguments(self, signature):
        """The call's arguments, one for each letter of its signature: p a pointer or handle,
        d a 32-bit number (the upper half of a 64-bit slot means nothing). On the stack on
        32-bit Windows; in RCX, RDX, R8 and R9, then above the home space, on 64-bit Windows."""
        size = self.layout["pointer"]
        sp = self.register(self.r + "SP")
        values = [int.from_bytes(self.read(sp + size * (i + 1), size), "little")
                  for i in range(len(signature))]
        if self.wide:
            values[:4] = [self.register(r) for r in ("RCX", "RDX", "R8", "R9")[:len(values)]]
        return [v & 0xFFFFFFFF if kind == "d" else v for v, kind in zip(values, signature)]

    def on_stub(self, uc, address, size, data):
        if address == self.returned:
            return self.fail("the entry point returned instead of ending the process")
        dll, name, served = self.stubs[address]
        if served is None:
            return self.fail("the program called %s!%s, which it has no business calling"
                             % (dll, name))
        function, signature, result_kind = served
        sp = self.register(self.r + "SP")
        if sp % (16 if self.wide else 4) != (8 if self.wide else 0):
            return self.fail("%s called with the stack pointer at %#x, misaligned for the call"
                             % (name, sp))
        if self.register("EFLAGS") & DIRECTION_FLAG:
            return self.fail("%s called with the direction flag set" % name)
        args = self.arguments(signature)
        self.calls.append((name, args))
        try:
            result = function(self, *args)
        except CaseFailure as failure:
            return self.fail("%s(%s): %s" % (name, ", ".join(hex(a) for a in args), failure))
        if name == "ExitProcess":
            uc.emu_stop()
            return
        self.leave(result, result_kind)

    def leave(self, result, kind):
        """The result in EAX or RAX, of the kind given (p, d with garbage in RAX's upper half, or
        none); garbage in every other register a call may change; the direction flag clear."""
        if self.wide:
            volatile = ("RCX", "RDX", "R8", "R9", "R10", "R11") + tuple(
                "XMM%d" % n for n in range(6))
            # The callee may use its home space as it likes.
            self.write(self.register("RSP") + 8, b"\xee" * 32, "the home space")
        else:
            volatile = ("ECX", "EDX") + tuple("XMM%d" % n for n in range(8))
            for n in range(8):
                self.register("FP%d" % n, CLOBBER_X87)
            self.register("FPTAG", 0xFFFF)  # the x87 stack empty
        for register in volatile:
            self.register(register, CLOBBER)
        size = 8 * self.layout["pointer"]
        kept = 2 ** {"p": size, "d": 32, "": 0}[kind] - 1
        self.register(self.r + "AX", (CLOBBER & ~kept | result & kept) & (2 ** size - 1))
        self.register("EFLAGS", (self.register("EFLAGS") ^ STATUS_FLAGS) & ~DIRECTION_FLAG)

    def register(self, name, value=None):
        """Reads the register of that name, or writes value to it."""
        number = getattr(x86, "UC_X86_REG_" + name)
        return self.uc.reg_read(number) if value is None else self.uc.reg_write(number, value)

    def invalid_handle(self):
        return 2 ** (8 * self.layout["pointer"]) - 1

    def run(self):
        if self.failure is not None:  # refused at load
            return
        try:
            self.uc.emu_start(self.entry, 0, timeout=RUN_TIMEOUT_SECONDS * 1000000)
        except unicorn.UcError as error:
            pc = self.register(self.r + "IP")
            self.fail("the processor stopped at %#x (image offset %#x): %s"
                      % (pc, pc - self.base, error))
        if self.failure is None and self.exit_code is None:
            self.fail("the run did not end within %d s" % RUN_TIMEOUT_SECONDS)


# The served calls: each takes the arguments as unsigned numbers and returns its result.

def create_file_a(m, name, access, share, security, disposition, flags, template):
    expect(m.read_text(name) == b"Test.txt", "file name %s" % shown(m.read_text(name)))
    expect(access == GENERIC_READ, "desired access %#x, not GENERIC_READ" % access)
    expect(share == FILE_SHARE_READ | FILE_SHARE_WRITE,
           "share mode %#x, not FILE_SHARE_READ | FILE_SHARE_WRITE" % share)
    expect(security == 0 and template == 0, "security attributes or a template file given")
    expect(disposition == OPEN_EXISTING, "creation disposition %d, not OPEN_EXISTING"
           % disposition)
    expect(flags == FILE_ATTRIBUTE_NORMAL, "attributes %#x, not FILE_ATTRIBUTE_NORMAL" % flags)
    expect(m.file_handle is None, "Test.txt opened a second time")
    if m.contents is None or (m.holder and not sharing_allows(access, share, m.holder)):
        m.file_handle = m.invalid_handle()
    else:
        m.file_handle = FILE_HANDLE
    return m.file_handle


def read_file(m, file, buffer, count, read, overlapped):
    expect(m.file_handle is not None and file == m.file_handle,
           "handle %#x, not the one CreateFileA gave" % file)
    expect(count == 500, "%d bytes asked for, not 500" % count)
    expect(overlapped == 0, "an OVERLAPPED record given to a synchronous read")
    expect(m.text_address is None, "Test.txt read a second time")
    m.text_address = buffer
    # ReadFile sets the count to zero before anything else.
    m.put_count(read, 0, "the count of bytes read")
    if file != FILE_HANDLE:
        return 0
    data = m.contents[:count]
    m.write(buffer, data, "the buffer read into")
    m.put_count(read, len(data), "the count of bytes read")
    return 1


def write_file(m, file, buffer, count, written, overlapped):
    expect(file == HANDLES[STD_OUTPUT_HANDLE], "handle %#x, not standard output" % file)
    expect(overlapped == 0, "an OVERLAPPED record given to a console write")
    # The count written may be left out only for an overlapped write.
    m.put_count(written, 0, "the count written")
    m.output += m.read(buffer, count)
    m.put_count(written, count, "the count written")
    return 1


def lstrcpy_a(m, destination, source):
    m.write(destination, m.read_text(source) + b"\0", "the copy's destination")
    return destination


def flush_console_input_buffer(m, console):
    expect(console == HANDLES[STD_INPUT_HANDLE], "handle %#x, not the console input" % console)
    m.keys.clear()
    return 1


def sleep(m, milliseconds):
    expect(milliseconds != 0xFFFFFFFF, "Sleep(INFINITE) never returns")
    # Sleep(0) gives up the rest of the time slice alone: a loop of it keeps a core busy.
    if milliseconds > 0:
        m.slept_since_poll = True
    return 0


def press_final_key(m):
    m.waiting_output = bytes(m.output)
    m.keys.append(FINAL_KEY)


def kbhit(m):
    expect(m.slept_since_poll, "_kbhit polled again without a Sleep of a millisecond or more "
           "since the last poll")
    m.slept_since_poll = False
    if m.keys:
        return 1
    m.empty_polls += 1
    if m.empty_polls == EMPTY_POLLS:  # the run has waited long enough
        press_final_key(m)
    return 0


def getch(m):
    if not m.keys:  # _getch waits for the key
        press_final_key(m)
    expect(m.got_key is None, "a second key read")
    m.got_key = m.keys.pop(0)
    return m.got_key


def heap_alloc(m, heap, flags, size):
    expect(heap == HEAP_HANDLE, "heap %#x, not the one GetProcessHeap gave" % heap)
    expect(flags & ~HEAP_ZERO_MEMORY == 0, "flags %#x" % flags)
    alignment = m.layout["heap_alignment"]
    start = m.heap_next
    if start + size + alignment > m.layout["heap"] + HEAP_SIZE:
        return 0
    m.heap_next = start + (size + 2 * alignment - 1) // alignment * alignment
    m.heap_blocks.append((start, size))
    if flags & HEAP_ZERO_MEMORY:
        m.uc.mem_write(start, b"\0" * size)
    return start


def multi_byte_to_wide_char(m, code_page, flags, source, size, wide, wide_size):
    """The UTF-8 conversion: with MB_ERR_INVALID_CHARS, invalid UTF-8 (overlong forms and
    surrogates included) fails, as does a buffer too small for the whole result; without it,
    each invalid sequence becomes U+FFFD. A size of -1 takes the text with its zero."""
    expect(code_page == CP_UTF8, "code page %d, of which only UTF-8 is served" % code_page)
    size, wide_size = (v - 2 ** 32 if v >= 2 ** 31 else v for v in (size, wide_size))
    if flags & ~MB_ERR_INVALID_CHARS or size == 0 or size < -1 or wide_size < 0 or source == 0:
        return 0  # ERROR_INVALID_FLAGS or ERROR_INVALID_PARAMETER
    data = m.read_text(source) + b"\0" if size == -1 else m.read(source, size)
    try:
        text = data.decode("utf-8", "strict" if flags & MB_ERR_INVALID_CHARS else "replace")
    except UnicodeDecodeError:
        return 0  # ERROR_NO_UNICODE_TRANSLATION
    units = text.encode("utf-16-le")
    if wide_size == 0:
        return len(units) // 2
    if len(units) // 2 > wide_size:
        return 0  # ERROR_INSUFFICIENT_BUFFER
    m.write(wide, units, "the wide text's buffer")
    return len(units) // 2


def message_box(m, owner, text, caption, style, unit):
    expect(owner == 0, "owner window %#x, not none" % owner)
    expect(caption == 0, "a caption given, not the default one")
    expect(style == MB_OK, "style %#x, not MB_OK" % style)
    raw = m.read_text(text, unit)
    m.boxes.append((raw.decode("utf-16-le") if unit == 2 else ansi_text(raw), bytes(m.output)))
    m.keys.append(KEY_IN_BOX)  # pressed while the box is open
    return IDOK


# Each import of cases.IMPORTS: the function serving it, its signature (Machine.arguments) and
# its result's kind.
SERVED = {
    "CreateFileA": (create_file_a, "pddpddp", "p"),
    "ReadFile": (read_file, "ppdpp", "d"),
    "WriteFile": (write_file, "ppdpp", "d"),
    "lstrcpyA": (lstrcpy_a, "pp", "p"),
    "GetStdHandle": (lambda m, which: HANDLES.get(which, m.invalid_handle()), "d", "p"),
    "FlushConsoleInputBuffer": (flush_console_input_buffer, "p", "d"),
    "Sleep": (sleep, "d", ""),
    "GetProcessHeap": (lambda m: HEAP_HANDLE, "", "p"),
    "HeapAlloc": (heap_alloc, "pdp", "p"),
    "MultiByteToWideChar": (multi_byte_to_wide_char, "ddpdpd", "d"),
    "ExitProcess": (lambda m, code: setattr(m, "exit_code", code), "d", ""),
    "MessageBoxA": (lambda m, *a: message_box(m, *a, unit=1), "pppd", "d"),
    "MessageBoxW": (lambda m, *a: message_box(m, *a, unit=2), "pppd", "d"),
    "_kbhit": (kbhit, "", "d"),
    "_getch": (getch, "", "d"),
}


@functools.lru_cache(maxsize=None)
def dll_exports(libraries, dll):
    """The names a DLL exports, from its import library in mingw-w64's folder libraries
    (kernel32.dll's is libkernel32.a): the name in each import stub's .idata$6 section, the
    name a program importing it names, read from the archive's COFF members."""
    path = os.path.join(libraries, "lib%s.a" % os.path.splitext(dll)[0])
    if not os.path.exists(path):
        return None
    names = set()
    with open(path, "rb") as archive:
        data = archive.read()
    offset = 8  # past "!<arch>\n"; then each member: a 60-byte header, its data, padding
    while offset + 60 <= len(data):
        size = int(data[offset + 48:offset + 58])
        member = data[offset + 60:offset + 60 + size]
        offset += 60 + size + size % 2
        if len(member) < 20 or struct.unpack_from("<H", member)[0] not in (0x14C, 0x8664):
            continue
        sections, = struct.unpack_from("<H", member, 2)
        table = 20 + struct.unpack_from("<H", member, 16)[0]
        for index in range(sections):
            name, length, start = struct.unpack_from("<8s8xII", member, table + 40 * index)
            if name == b".idata$6" and length > 2:  # a 16-bit hint, then the name
                names.add(member[start + 2:start + length].split(b"\0")[0].decode("ascii"))
    return frozenset(names)


def run_case(args, pe, root, number, contents, notes):
    """Runs one case against the reference model, given where ReadFile put Test.txt."""
    m = Machine(pefile.PE(data=pe), args.build, contents, notes, args.import_libraries)
    m.run()
    expect(m.failure is None, m.failure)
    expect(m.text_address is not None, "Test.txt was never read")
    folder = case_folder(root, number, contents)
    expected = read_expected(subprocess.run(
        [args.reference, os.path.join(folder, "Test.txt"), os.devnull,
         "%x" % (m.text_address & 0xFFFFFFFF)], stdout=subprocess.PIPE, check=True).stdout)
    expect(m.waiting_output is not None,
           "the run did not wait for a key: it read %s, pressed before the key wait"
           % ("the key pressed in a box" if m.got_key == KEY_IN_BOX else "a key")
           if m.got_key is not None else "the run never read a key")
    expect_run(expected, [text for text, _ in m.boxes], [output for _, output in m.boxes],
               m.waiting_output, bytes(m.output), m.exit_code)
    expect(m.got_key == FINAL_KEY, "the run ended on a key pressed before the key wait")
    depth = m.entry_sp - m.deepest
    args.deepest = max(args.deepest, depth)
    calls = ("; calls: " + ", ".join(sorted({c for c, _ in m.calls}))) if args.only else ""
    return "%d boxes, %d calls, stack %d bytes%s" % (len(m.boxes), len(m.calls), depth, calls)


def main():
    args = parse_arguments(__doc__, LAYOUT, {
        "exe": "keyreport.exe", "reference": "reference_run built for this machine",
        "import-libraries": "mingw-w64's folder of import libraries for the build"}, {})
    args.deepest = 0
    with open(args.exe, "rb") as exe:
        pe = exe.read()
    with tempfile.TemporaryDirectory(prefix="keyreport-emulated-") as root:
        return run_cases(args.only, functools.partial(run_case, args, pe, root),
                         lambda: "; the deepest stack %d bytes below the entry" % args.deepest)


if __name__ == "__main__":
    sys.exit(main())
