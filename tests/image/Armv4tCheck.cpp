#include "tests/image/Armv4tCheck.h"

#include <regex>
#include <set>
#include <sstream>

namespace armv4t {
namespace {

const std::set<std::string> kConditions = {"eq", "ne", "cs", "hs", "cc", "lo", "mi", "pl",
                                           "vs", "vc", "hi", "ls", "ge", "lt", "gt", "le", "al"};

// Data processing and multiplies take an S suffix before the condition.
const std::set<std::string> kWithS = {"and", "eor", "sub", "rsb", "add", "adc", "sbc", "rsc", "orr", "mov",
                                      "bic", "mvn", "lsl", "lsr", "asr", "ror", "rrx", "mul", "mla", "umull",
                                      "umlal", "smull", "smlal"};
// Everything else ARMv4T has in ARM state, objdump's unified spelling.
const std::set<std::string> kPlain = {
    "tst", "teq", "cmp", "cmn", "adr",
    "ldr", "str", "ldrb", "strb", "ldrt", "strt", "ldrbt", "strbt", "ldrh", "strh", "ldrsb", "ldrsh",
    "push", "pop", "swp", "swpb", "b", "bl", "bx", "mrs", "msr", "svc", "swi",
    "cdp", "ldc", "ldcl", "stc", "stcl", "mcr", "mrc"};
const std::set<std::string> kBlockModes = {"", "ia", "ib", "da", "db", "fd", "fa", "ed", "ea"};

bool isCondition(const std::string& text) {
    return text.empty() || kConditions.count(text);
}

}  // namespace

bool isArmv4tMnemonic(const std::string& mnemonic) {
    for (size_t split = 1; split <= mnemonic.size(); ++split) {
        std::string base = mnemonic.substr(0, split), rest = mnemonic.substr(split);
        if (kPlain.count(base) && isCondition(rest)) return true;
        if (kWithS.count(base) && (isCondition(rest) || (rest[0] == 's' && isCondition(rest.substr(1)))))
            return true;
        if (base == "ldm" || base == "stm") {
            // ldm{mode}{cond}: the mode is two letters or absent.
            for (size_t modeLength : {0, 2})
                if (rest.size() >= modeLength && kBlockModes.count(rest.substr(0, modeLength)) &&
                    isCondition(rest.substr(modeLength)))
                    return true;
        }
    }
    return false;
}

namespace {

struct Instruction {
    std::string address, encoding, mnemonic, gap, operands;
};

// The instruction lines of `objdump -d` output that `keep` selects, each as
// "address: encoding mnemonic operands".
template <typename Keep>
std::vector<std::string> instructionsWhere(const std::string& disassembly, Keep keep) {
    // "10001000:\te59fc000 \tldr\tip, [pc]..." -- address, encoding, mnemonic.
    static const std::regex line(R"(^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*\t(\S+)(\s*)(.*)$)");
    std::vector<std::string> found;
    std::istringstream in(disassembly);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        Instruction i{m[1], m[2], m[3], m[4], m[5]};
        if (keep(i)) found.push_back(i.address + ": " + i.encoding + " " + i.mnemonic + i.gap + i.operands);
    }
    return found;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::vector<std::string> instructionsBeyondArmv4t(const std::string& disassembly) {
    return instructionsWhere(disassembly, [](const Instruction& i) {
        if (i.mnemonic[0] == '.') return false;  // .word and friends: data in a literal pool
        bool thumb = i.encoding.size() != 8;    // 16-bit encodings, or two halves of a 32-bit Thumb one
        // "nop" is mov r0, r0 on ARMv4T; the encoding 0xe320f000 is the ARMv6K hint.
        bool v4Nop = i.mnemonic == "nop" && i.encoding == "e1a00000";
        return thumb || (!v4Nop && !isArmv4tMnemonic(i.mnemonic));
    });
}

std::vector<std::string> returnsWithoutBx(const std::string& disassembly) {
    static const std::regex listWithPc(R"(\{[^}]*\bpc\})");
    return instructionsWhere(disassembly, [](const Instruction& i) {
        if (startsWith(i.mnemonic, "ldm") || startsWith(i.mnemonic, "pop"))
            return std::regex_search(i.operands, listWithPc);
        return (startsWith(i.mnemonic, "mov") && startsWith(i.operands, "pc, lr")) ||
               (startsWith(i.mnemonic, "ldr") && startsWith(i.operands, "pc, [sp], #4"));
    });
}

std::vector<std::string> thumbMappingSymbols(const std::string& symbolTable) {
    static const std::regex thumb(R"(\s(\$t(\.\S*)?)\s*$)");
    std::vector<std::string> found;
    std::istringstream in(symbolTable);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_search(text, m, thumb)) found.push_back(text);
    }
    return found;
}

}  // namespace armv4t
