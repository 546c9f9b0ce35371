#include "emulator/FakeText.h"

#include "emulator/Fake.h"
#include "emulator/Utf16.h"

namespace bench {
namespace {

constexpr size_t kWsprintfLimit = 1024;  // units, terminator included, as on the device

bool isSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string digits(uint32_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), char16_t(set[value % base]));
        value /= base;
    } while (value);
    return out;
}

}  // namespace

int32_t parseWideLong(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) value = value * 10 + uint32_t(text[i] - u'0');
    return int32_t(negative ? 0u - value : value);
}

std::u16string formatWide(const std::u16string& format, const std::function<uint32_t()>& arg,
                          const std::function<std::u16string(uint32_t, bool)>& text) {
    std::u16string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            out.push_back(format[i]);
            continue;
        }
        size_t start = i++;
        bool left = false, zero = false, plus = false, space = false, alternate = false;
        for (; i < format.size(); ++i) {
            char16_t f = format[i];
            if (f == u'-') left = true;
            else if (f == u'0') zero = true;
            else if (f == u'+') plus = true;
            else if (f == u' ') space = true;
            else if (f == u'#') alternate = true;
            else break;
        }
        size_t width = 0;
        for (; i < format.size() && format[i] >= u'0' && format[i] <= u'9'; ++i) width = width * 10 + (format[i] - u'0');
        std::optional<size_t> precision;
        if (i < format.size() && format[i] == u'.') {
            precision = 0;
            for (++i; i < format.size() && format[i] >= u'0' && format[i] <= u'9'; ++i)
                *precision = *precision * 10 + (format[i] - u'0');
        }
        int size = 0;  // -1 h, 1 l
        if (i < format.size() && (format[i] == u'h' || format[i] == u'l' || format[i] == u'w')) size = format[i++] == u'h' ? -1 : 1;
        if (i >= format.size()) {
            out += format.substr(start);
            break;
        }
        char16_t type = format[i];
        std::u16string body, sign;
        bool numeric = false;
        switch (type) {
        case u'%':
            out.push_back(u'%');
            continue;
        case u'c':
        case u'C':
            body.push_back(char16_t(arg() & (size < 0 || type == u'C' ? 0xFF : 0xFFFF)));
            break;
        case u's':
        case u'S': {
            // In the wide function %s is a wide string and %S a narrow one;
            // h and l force narrow and wide.
            bool wide = size == 0 ? type == u's' : size > 0;
            uint32_t address = arg();
            body = address ? text(address, wide) : u"(null)";
            if (precision && body.size() > *precision) body.resize(*precision);
            break;
        }
        case u'd':
        case u'i': {
            int32_t v = int32_t(arg());
            numeric = true;
            body = digits(v < 0 ? 0u - uint32_t(v) : uint32_t(v), 10, false);
            sign = v < 0 ? u"-" : plus ? u"+" : space ? u" " : u"";
            break;
        }
        case u'u':
            numeric = true;
            body = digits(arg(), 10, false);
            break;
        case u'x':
        case u'X': {
            uint32_t v = arg();
            numeric = true;
            body = digits(v, 16, type == u'X');
            if (alternate && v) sign = type == u'X' ? u"0X" : u"0x";
            break;
        }
        default:
            // Unknown conversions are copied as they stand.
            out += format.substr(start, i - start + 1);
            continue;
        }
        if (numeric && precision) {
            if (*precision == 0 && body == u"0") body.clear();
            if (body.size() < *precision) body.insert(0, *precision - body.size(), u'0');
        }
        size_t length = sign.size() + body.size();
        if (length < width) {
            if (left) body.append(width - length, u' ');
            else if (zero && numeric && !precision) body.insert(0, width - length, u'0');
            else sign.insert(0, width - length, u' ');
        }
        out += sign + body;
    }
    return out;
}

void defineText(FakeCoredll& fake) {
    Memory& memory = fake.memory();

    // _wtol(str)
    fake.define("_wtol", 1, Outcome::returns(0), [&memory](CallContext& call) -> uint32_t {
        return uint32_t(parseWideLong(memory.readWString(call.arg(0))));
    });

    // wsprintfW(lpOut, lpFmt, ...): at most 1024 units including the terminator.
    fake.define("wsprintfW", -1, Outcome::returns(0), [&memory](CallContext& call) -> uint32_t {
        unsigned next = 2;
        std::u16string out = formatWide(
            memory.readWString(call.arg(1)), [&call, &next] { return call.arg(next++); },
            [&memory](uint32_t address, bool wide) {
                return wide ? memory.readWString(address) : widen(memory.readAString(address));
            });
        if (out.size() > kWsprintfLimit - 1) out.resize(kWsprintfLimit - 1);
        memory.writeWString(call.arg(0), out);
        return uint32_t(out.size());
    });

    // memcpy(dest, src, count): overlapping ranges copy as memmove would.
    fake.define("memcpy", 3, Outcome::returns(0), [&memory](CallContext& call) -> uint32_t {
        memory.writeBytes(call.arg(0), memory.readBytes(call.arg(1), call.arg(2)));
        return call.arg(0);
    });

    // memset(dest, c, count)
    fake.define("memset", 3, Outcome::returns(0), [&memory](CallContext& call) -> uint32_t {
        memory.writeBytes(call.arg(0), std::vector<uint8_t>(call.arg(2), uint8_t(call.arg(1))));
        return call.arg(0);
    });

    // InterlockedCompareExchange(Target, Exchange, Comparand): the value
    // before; the target must be word-aligned, as the device's interlocked
    // operations require.
    fake.define("InterlockedCompareExchange", 3, Outcome::returns(0), [&memory](CallContext& call) -> uint32_t {
        uint32_t target = call.arg(0);
        if (target % 4) throw MemoryFault("misaligned interlocked target " + hex(target), target);
        uint32_t before = memory.read32(target);
        if (before == call.arg(2)) memory.write32(target, call.arg(1));
        return before;
    });
}

}  // namespace bench
