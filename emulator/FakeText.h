// Text and memory: _wtol, wsprintfW, memcpy, memset, InterlockedCompareExchange.
// Honours: _wtol parses decimal after leading white space and a sign and
// stops at the first character that is not a digit; wsprintfW supports
// %s %d %i %u %x %X %c %% with flags, width and precision (so "%04d" writes
// at least four digits, zero-padded); memcpy and memset act on emulator memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace bench {

class FakeCoredll;

// The wsprintfW formatting, apart from emulator memory so that it can be
// checked on its own: `arg` yields the next variadic 32-bit argument and
// `text` reads a UTF-16 (wide) or 8-bit (narrow) string at an address.
std::u16string formatWide(const std::u16string& format, const std::function<uint32_t()>& arg,
                          const std::function<std::u16string(uint32_t address, bool wide)>& text);

int32_t parseWideLong(const std::u16string& text);

void defineText(FakeCoredll& fake);

}  // namespace bench
