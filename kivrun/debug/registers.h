// gdb's i386 core registers, in its numbering: one table for the stub (the
// target description and the register packets) and for the target (which
// emulator register each number is). Only the emulator's register names
// come in here, not the emulator.
#pragma once

#include <unicorn/x86.h>

#include <cstdint>
#include <iterator>

namespace kiv {

struct RegisterInfo {
    const char *name;
    uint32_t bits;
    const char *type;
    int emulator;  // the emulator's id of the register
};

inline constexpr RegisterInfo kRegisters[] = {
    {"eax", 32, "int32", UC_X86_REG_EAX},    {"ecx", 32, "int32", UC_X86_REG_ECX},
    {"edx", 32, "int32", UC_X86_REG_EDX},    {"ebx", 32, "int32", UC_X86_REG_EBX},
    {"esp", 32, "data_ptr", UC_X86_REG_ESP}, {"ebp", 32, "data_ptr", UC_X86_REG_EBP},
    {"esi", 32, "int32", UC_X86_REG_ESI},    {"edi", 32, "int32", UC_X86_REG_EDI},
    {"eip", 32, "code_ptr", UC_X86_REG_EIP}, {"eflags", 32, "i386_eflags", UC_X86_REG_EFLAGS},
    {"cs", 32, "int32", UC_X86_REG_CS},      {"ss", 32, "int32", UC_X86_REG_SS},
    {"ds", 32, "int32", UC_X86_REG_DS},      {"es", 32, "int32", UC_X86_REG_ES},
    {"fs", 32, "int32", UC_X86_REG_FS},      {"gs", 32, "int32", UC_X86_REG_GS},
    {"st0", 80, "i387_ext", UC_X86_REG_ST0}, {"st1", 80, "i387_ext", UC_X86_REG_ST1},
    {"st2", 80, "i387_ext", UC_X86_REG_ST2}, {"st3", 80, "i387_ext", UC_X86_REG_ST3},
    {"st4", 80, "i387_ext", UC_X86_REG_ST4}, {"st5", 80, "i387_ext", UC_X86_REG_ST5},
    {"st6", 80, "i387_ext", UC_X86_REG_ST6}, {"st7", 80, "i387_ext", UC_X86_REG_ST7},
    {"fctrl", 32, "int", UC_X86_REG_FPCW},   {"fstat", 32, "int", UC_X86_REG_FPSW},
    {"ftag", 32, "int", UC_X86_REG_FPTAG},   {"fiseg", 32, "int", UC_X86_REG_FCS},
    {"fioff", 32, "int", UC_X86_REG_FIP},    {"foseg", 32, "int", UC_X86_REG_FDS},
    {"fooff", 32, "int", UC_X86_REG_FDP},    {"fop", 32, "int", UC_X86_REG_FOP},
};
inline constexpr uint32_t kRegisterCount = std::size(kRegisters);

}  // namespace kiv
