#include "formats/pe/ArmFrames.h"

#include <cstdio>

namespace pe::arm {
namespace {

constexpr uint32_t kAlways = 0xE;
constexpr int kSp = 13, kLr = 14, kPc = 15;

uint32_t cond(uint32_t w) { return w >> 28; }
uint32_t body(uint32_t w) { return w & 0x0FFFFFFF; }

bool isPush(uint32_t w) { return (w & 0x0FFF0000) == 0x092D0000; }           // stmdb sp!, {list}
bool isPushLr(uint32_t w) { return body(w) == 0x052DE004; }                   // str lr, [sp, #-4]!
bool isMovR12Sp(uint32_t w) { return body(w) == 0x01A0C00D; }                 // mov r12, sp
bool isFramePointer(uint32_t w) {                                             // add r11, sp / sub r11, r12
    return (w & 0x0FFFF000) == 0x028DB000 || (w & 0x0FFFF000) == 0x024CB000;
}
bool isSubSpImm(uint32_t w) { return (w & 0x0FFFF000) == 0x024DD000; }
bool isAddSpImm(uint32_t w) { return (w & 0x0FFFF000) == 0x028DD000; }
bool isLoadR12Literal(uint32_t w) { return (w & 0x0F7FF000) == 0x051FC000; }  // ldr r12, [pc, #±n]
bool isMovR12Imm(uint32_t w) { return (w & 0x0FFFF000) == 0x03A0C000; }
bool isMvnR12Imm(uint32_t w) { return (w & 0x0FFFF000) == 0x03E0C000; }
bool isAddSpR12(uint32_t w) { return body(w) == 0x008DD00C; }
bool isSubSpR12(uint32_t w) { return body(w) == 0x004DD00C; }
bool isPop(uint32_t w) { return (w & 0x0FFF0000) == 0x08BD0000; }            // ldmia sp!, {list}
bool isPopOne(uint32_t w) { return (w & 0x0FFF0FFF) == 0x049D0004; }          // ldr rX, [sp], #4
bool isBranch(uint32_t w) { return (w & 0x0F000000) == 0x0A000000; }          // b label
bool isBxScratch(uint32_t w) { return (w & 0x0FFFFFF0) == 0x012FFF10 && (w & 0xF) <= 12; }  // bx r0-r12
bool isReturnLr(uint32_t w) { return body(w) == 0x012FFF1E || body(w) == 0x01A0F00E; }  // bx lr / mov pc, lr

int popCount(uint32_t list) { return __builtin_popcount(list & 0xFFFF); }

// Whether an instruction writes sp or lr (bl included). Coprocessor and
// undefined encodings write neither.
void writes(uint32_t w, bool& sp, bool& lr) {
    sp = lr = false;
    auto dest = [&](uint32_t reg) {
        sp = sp || reg == kSp;
        lr = lr || reg == kLr;
    };
    uint32_t rn = (w >> 16) & 0xF, rd = (w >> 12) & 0xF;
    switch ((w >> 25) & 7) {
    case 0:
        if ((w & 0x0FFFFFF0) == 0x012FFF10) return;       // bx
        if ((w & 0x0E0000F0) == 0x00000090) {             // multiply: Rd in 19-16, long also 15-12
            dest(rn);
            if (w & 0x00800000) dest(rd);
            return;
        }
        if ((w & 0x0E000090) == 0x00000090) {             // halfword and signed loads/stores
            bool load = w & 0x00100000, writeback = !(w & 0x01000000) || (w & 0x00200000);
            if (writeback) dest(rn);
            if (load) dest(rd);
            return;
        }
        [[fallthrough]];
    case 1: {
        uint32_t opcode = (w >> 21) & 0xF;
        if (opcode >= 8 && opcode <= 11) return;          // tst/teq/cmp/cmn, mrs/msr
        dest(rd);
        return;
    }
    case 2:
    case 3: {
        bool load = w & 0x00100000, writeback = !(w & 0x01000000) || (w & 0x00200000);
        if (writeback) dest(rn);
        if (load) dest(rd);
        return;
    }
    case 4:
        if (w & 0x00200000) dest(rn);
        if (w & 0x00100000) {
            if (w & (1u << kSp)) dest(kSp);
            if (w & (1u << kLr)) dest(kLr);
        }
        return;
    case 5:
        if (w & 0x01000000) dest(kLr);                    // bl
        return;
    default:
        return;
    }
}

std::string registerList(uint32_t list) {
    static const char* names[16] = {"r0", "r1", "r2", "r3", "r4",  "r5", "r6", "r7",
                                    "r8", "r9", "r10", "r11", "r12", "sp", "lr", "pc"};
    std::string text;
    for (int r = 0; r < 16; ++r)
        if (list & (1u << r)) text += (text.empty() ? "" : ", ") + std::string(names[r]);
    return "{" + text + "}";
}

}  // namespace

uint32_t immediate(uint32_t w) {
    uint32_t value = w & 0xFF, rotate = 2 * ((w >> 8) & 0xF);
    return rotate ? (value >> rotate) | (value << (32 - rotate)) : value;
}

bool changesSpOrLr(uint32_t word) {
    bool sp = false, lr = false;
    writes(word, sp, lr);
    return sp || lr;
}

uint32_t RuntimeFunction::packedLengths() const {
    return (prologLength & 0xFF) | (functionLength & 0x3FFFFF) << 8 | uint32_t(is32Bit) << 30 |
           uint32_t(hasHandler) << 31;
}

RuntimeFunction RuntimeFunction::unpack(uint32_t start, uint32_t lengths) {
    RuntimeFunction f;
    f.start = start;
    f.prologLength = lengths & 0xFF;
    f.functionLength = (lengths >> 8) & 0x3FFFFF;
    f.is32Bit = lengths & (1u << 30);
    f.hasHandler = lengths & (1u << 31);
    return f;
}

std::string describeInstruction(uint32_t w) {
    char text[64];
    if (cond(w) == kAlways) {
        if (isPush(w)) return "stmdb sp!, " + registerList(w);
        if (isPop(w)) return "ldmia sp!, " + registerList(w);
        if (isPushLr(w)) return "str lr, [sp, #-4]!";
        if (isMovR12Sp(w)) return "mov r12, sp";
        if (isSubSpR12(w)) return "sub sp, sp, r12";
        if (isAddSpR12(w)) return "add sp, sp, r12";
        if (isReturnLr(w)) return (w & 0x01000000) ? "bx lr" : "mov pc, lr";
        const char* form = isSubSpImm(w) ? "sub sp, sp, #%u"
                           : isAddSpImm(w) ? "add sp, sp, #%u"
                           : (w & 0x0FFFF000) == 0x028DB000 ? "add r11, sp, #%u"
                           : (w & 0x0FFFF000) == 0x024CB000 ? "sub r11, r12, #%u"
                           : isMovR12Imm(w) ? "mov r12, #%u"
                           : isMvnR12Imm(w) ? "mvn r12, #%u"
                                            : nullptr;
        if (form) {
            std::snprintf(text, sizeof text, form, immediate(w));
            return text;
        }
    }
    std::snprintf(text, sizeof text, "instruction 0x%08X", w);
    return text;
}

FrameShape decodeProlog(const std::vector<uint32_t>& code) {
    FrameShape shape;
    size_t i = 0;
    auto at = [&](size_t k) { return k < code.size() && cond(code[k]) == kAlways ? code[k] : 0u; };
    auto take = [&](uint32_t bytes) {
        shape.prolog += (shape.prolog.empty() ? "" : "; ") + describeInstruction(code[i]);
        shape.savesLr = shape.savesLr || isPushLr(code[i]) || (isPush(code[i]) && (code[i] & (1u << kLr)));
        shape.frameBytes += bytes;
        ++i;
    };
    if (isMovR12Sp(at(0))) {
        if (!isPush(at(1))) return {};
        take(0);
        take(4 * popCount(at(i)));
        if (isPush(at(i))) take(4 * popCount(at(i)));
        if (isFramePointer(at(i))) take(0);
    } else if (isPush(at(0))) {
        take(4 * popCount(at(0)));
    } else if (isPushLr(at(0))) {
        take(4);
    } else {
        return {};
    }
    if (isSubSpImm(at(i))) {
        take(immediate(at(i)));
    } else if ((isMovR12Imm(at(i)) || isMvnR12Imm(at(i)) || isLoadR12Literal(at(i))) &&
               (isAddSpR12(at(i + 1)) || isSubSpR12(at(i + 1)))) {
        uint32_t w = at(i), constant = 0;
        if (isLoadR12Literal(w)) {
            int64_t literal = int64_t(i) + 2 + ((w & 0x00800000) ? 1 : -1) * int64_t((w & 0xFFF) / 4);
            if ((w & 3) || literal < 0 || size_t(literal) >= code.size()) return {};
            constant = code[size_t(literal)];
        } else {
            constant = isMvnR12Imm(w) ? ~immediate(w) : immediate(w);
        }
        take(0);
        take(isSubSpR12(at(i)) ? constant : 0u - constant);
    }
    shape.prologLength = uint32_t(i);
    return shape;
}

std::optional<FrameShape> checkFunction(const std::vector<uint32_t>& code, const std::vector<bool>& isData,
                                        std::string& problem) {
    FrameShape shape = decodeProlog(code);
    char where[48];
    for (size_t i = shape.prologLength; i < code.size(); ++i) {
        if (i < isData.size() && isData[i]) continue;
        bool sp = false, lr = false;
        writes(code[i], sp, lr);
        if (!sp && !lr) continue;
        std::snprintf(where, sizeof where, "instruction %zu (", i);
        std::string at = where + describeInstruction(code[i]) + ")";
        if (shape.prologLength == 0) {
            problem = at + " changes " + (sp ? "sp" : "lr") +
                      ", but the function does not start with a prolog of a documented form";
            return std::nullopt;
        }
        if (!sp) {
            if (shape.savesLr) continue;  // calls and scratch use of lr once it is saved
            problem = at + " changes lr, which the prolog (" + shape.prolog + ") does not save";
            return std::nullopt;
        }
        // An epilog: [add sp, sp, #n] then ldmia sp! or ldr rX, [sp], #4,
        // returning through pc or through lr with bx lr / mov pc, lr.
        uint32_t c = cond(code[i]), given = 0;
        size_t j = i;
        auto same = [&](size_t k) { return k < code.size() && cond(code[k]) == c; };
        if (same(j) && isAddSpImm(code[j])) given += immediate(code[j++]);
        bool returns = false, restoresLr = false;
        if (same(j) && isPop(code[j])) {
            given += 4 * popCount(code[j]);
            returns = code[j] & (1u << kPc);
            restoresLr = code[j] & (1u << kLr);
            ++j;
        } else if (same(j) && isPopOne(code[j])) {
            given += 4;
            returns = ((code[j] >> 12) & 0xF) == uint32_t(kPc);
            restoresLr = ((code[j] >> 12) & 0xF) == uint32_t(kLr);
            ++j;
        } else {
            problem = at + " changes sp outside the prolog and is not the start of an epilog of a documented form";
            return std::nullopt;
        }
        // bx lr / mov pc, lr, or a tail call: a branch to another function
        // once the frame is gone.
        if (!returns && restoresLr && same(j) && (isReturnLr(code[j]) || isBranch(code[j]) || isBxScratch(code[j]))) {
            returns = true;
            ++j;
        }
        if (!returns) {
            problem = at + " starts an epilog that does not return in one contiguous sequence";
            return std::nullopt;
        }
        if (given != shape.frameBytes) {
            problem = at + " starts an epilog that gives back " + std::to_string(given) + " bytes of stack, but the prolog (" +
                      shape.prolog + ") takes " + std::to_string(shape.frameBytes);
            return std::nullopt;
        }
        i = j - 1;
    }
    return shape;
}

}  // namespace pe::arm
