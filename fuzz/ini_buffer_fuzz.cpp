// INI engine on a caller's buffer: open a fuzzed text in place, then run a
// fuzzed sequence of next, goto, find, insert, delete, replace and tokenize.
//
// Asserts, after every call: the status is one the call documents; the text,
// the line table and the published current line agree (ini_check.h); the
// lines and the position are those of a plain model (a refused edit changes
// nothing); a caller's buffer is never touched past bufsize, nor at all once
// the text has moved out (it is poisoned then); the tokenizer stays within
// the room it is documented to need; and close gives every block back.
//
// Input: flags, fail-at, spare (2), text length (2), text, then operations.
#include <algorithm>
#include <sanitizer/asan_interface.h>

#include "ini_check.h"

using kwfuzz::Ledger;
using kwfuzz::Reader;

namespace {

// A Textline from the input: up to 255 bytes, sometimes a few more.
std::string take_line(Reader &in) {
    std::size_t len = in.byte();
    if (len == 255) {
        len += in.byte() % 8;  // 255 to 262: the length limit
    }
    return in.bytes(len);
}

// A search pattern, or none.
bool take_pattern(Reader &in, std::string &out) {
    const std::uint8_t len = in.byte();
    if (len == 255) {
        return false;
    }
    // Mostly short names; now and then one longer than any stored line's 255.
    out = in.bytes(len == 254 ? 256 + in.byte() : len % 64);
    return true;
}

// What the engine does with a caller's text at open, by the split and then
// the classification of its lines: the status and the line it names.
struct OpenOutcome {
    std::uint32_t status;
    std::size_t line;  // index of the failing line
    std::size_t at;    // its offset
};

OpenOutcome expected_open(const std::string &text, std::uint8_t unicode) {
    std::vector<std::pair<std::size_t, std::string>> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        if (lines.size() == KW_INI_MAX_LINES) {
            return {INI_ERR_TEXT_FULL, 0, 0};
        }
        const std::size_t zero = text.find('\0', at);
        if (zero == std::string::npos) {
            return {INI_ERR_LINE, lines.size(), at};
        }
        lines.emplace_back(at, text.substr(at, zero - at));
        at = zero + 1;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const kwfuzz::Classified c = kwfuzz::classify(lines[i].second, unicode);
        if (c.status != 0) {
            return {c.status, i, lines[i].first};
        }
    }
    return {0, 0, 0};
}

// The tokens of a key line's value as units (one byte each here), each
// token followed by a zero unit. 16-bit text is read two bytes at a time,
// while a character's first byte lies before the line's zero.
std::string expected_tokens(const unsigned char *value, std::uint8_t unicode, std::uint16_t &count) {
    const std::size_t avail = std::strlen(reinterpret_cast<const char *>(value));
    const std::size_t step = unicode != 0 ? 2 : 1;
    std::string out;
    count = 1;
    for (std::size_t i = 0; i < avail; i += step) {
        unsigned c = value[i];
        if (unicode == KW_INI_UTF16_BE) {
            c = c << 8 | value[i + 1];
        } else if (unicode != 0) {
            c = static_cast<unsigned>(value[i + 1]) << 8 | c;
        }
        if (c == 0 || c == '\n') {
            break;
        }
        if (c == ',') {
            out.push_back('\0');
            ++count;
        } else {
            out.push_back(static_cast<char>(c & 0xFF));
        }
    }
    out.push_back('\0');
    return out;
}

bool one_of(std::uint32_t status, std::initializer_list<std::uint32_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), status) != allowed.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Reader in(data, size);
    const std::uint8_t flags = in.byte();
    const std::uint8_t fail_at = in.byte();
    const std::uint16_t spare_raw = in.u16();
    const std::uint16_t textlen = in.u16();
    const std::string text = in.bytes(textlen);

    const std::uint8_t unicode = flags & 3;
    const std::int32_t mode = (flags & 4) != 0 ? KW_INI_READ : KW_INI_READWRITE;
    const std::size_t spare = (flags & 8) != 0 ? spare_raw : spare_raw % 512u;
    const std::size_t bufsize = std::min<std::size_t>(text.size() + spare, 0xFFFF);
    if (text.size() > bufsize) {
        return 0;
    }
    // Exactly bufsize bytes on the heap: a byte touched past them is a finding.
    auto *caller = static_cast<unsigned char *>(std::malloc(bufsize == 0 ? 1 : bufsize));
    std::memcpy(caller, text.data(), text.size());
    std::memset(caller + text.size(), 0xA5, bufsize - text.size());

    Ledger::reset((flags & 0x10) != 0 ? fail_at % 3 : -1);
    KW_INI_STRUC ini;
    std::memset(&ini, 0, sizeof ini);
    ini.alloc_mem = &Ledger::alloc;
    ini.free_mem = &Ledger::release;
    ini.pBuf = caller;
    ini.bufsize = static_cast<std::uint16_t>(bufsize);
    ini.usesize = static_cast<std::uint16_t>(text.size());

    const std::uint32_t opened = KW_ini_open(&ini, nullptr, mode, unicode);
    if (opened != 0) {
        FUZZ_CHECK(Ledger::clean());
        FUZZ_CHECK(kw::ini::view(&ini)->signature != kw::ini::kSignature);
        FUZZ_CHECK(ini.pValue == nullptr);
        if (opened == 77) {
            FUZZ_CHECK(Ledger::get().fail_at == 0);
        } else {
            const OpenOutcome want = expected_open(text, unicode);
            FUZZ_CHECK(opened == want.status);
            if (opened == INI_ERR_LINE || opened == INI_ERR_LEADING_SPACE) {
                FUZZ_CHECK(ini.linenum == want.line + 1);
                FUZZ_CHECK(ini.pLine == caller + want.at);
            } else {
                FUZZ_CHECK(ini.linenum == 0 && ini.pLine == nullptr);
            }
        }
        FUZZ_CHECK(KW_ini_close(&ini) == INI_ERR_HANDLE);
        std::free(caller);
        return 0;
    }
    FUZZ_CHECK(expected_open(text, unicode).status == 0);
    Ledger::get().fail_at = -1;

    std::vector<std::string> model = kwfuzz::stored_lines(ini);
    std::size_t ix = 0;
    bool moved = false;
    kwfuzz::check_record(ini, unicode);

    for (int step = 0; step < 256 && !in.empty(); ++step) {
        const std::uint8_t op = in.byte();
        std::uint32_t st = 0;
        switch (op % 10) {
        case 0:
            st = KW_ini_next(&ini);
            FUZZ_CHECK(st == 0);
            ix = std::min(ix + 1, model.size());
            break;
        case 1: {
            const std::uint16_t n = static_cast<std::uint16_t>(in.u16() % (model.size() + 3));
            st = KW_ini_goto(&ini, n);
            if (n >= 1 && n <= model.size()) {
                FUZZ_CHECK(st == 0);
                ix = n - 1u;
            } else {
                FUZZ_CHECK(st == INI_ERR_LINE);
            }
            break;
        }
        case 2: {
            std::string sec, key;
            const bool has_sec = take_pattern(in, sec);
            const bool has_key = take_pattern(in, key);
            const std::string sec_before = sec, key_before = key;
            unsigned char found = 0xEE;
            st = KW_ini_find(&ini, has_sec ? kwfuzz::u(sec) : nullptr, has_key ? kwfuzz::u(key) : nullptr, &found);
            if (!has_sec && !has_key) {
                FUZZ_CHECK(st == INI_ERR_NO_NAME && found == 0xEE);
            } else {
                FUZZ_CHECK(st == 0 && (found == 0 || found == 1));
                const std::size_t now = kw::ini::view(&ini)->ix;
                FUZZ_CHECK(now >= ix);  // forward only
                ix = now;
                if (found == 1) {
                    FUZZ_CHECK(ini.linetype == (has_key ? INI_LINE_KEY : INI_LINE_SECTION));
                } else {
                    FUZZ_CHECK(ini.linetype == INI_LINE_NONE || ini.linetype == INI_LINE_SECTION);
                }
            }
            FUZZ_CHECK(sec == sec_before && key == key_before);  // patterns untouched
            break;
        }
        case 3:
        case 7: {
            const std::uint8_t where = in.byte() % 3;
            std::string line;
            if (op % 10 == 7 && ini.linetype != INI_LINE_NONE) {
                line = reinterpret_cast<const char *>(ini.pLine);
                st = KW_ini_insert(&ini, ini.pLine, where);  // a line of the text itself
            } else {
                line = take_line(in);
                st = KW_ini_insert(&ini, kwfuzz::u(line), where);
                line.resize(std::strlen(line.c_str()));
            }
            FUZZ_CHECK(one_of(st, {0, 22, 26, 27, 29, 30, 77}));
            if (st == 0) {
                FUZZ_CHECK(where <= 1 && mode == KW_INI_READWRITE && line.size() <= KW_INI_MAX_LINE);
                model.insert(model.begin() + static_cast<long>(ix + where), line);
                ix += where;
            }
            break;
        }
        case 4:
            st = KW_ini_delete(&ini);
            FUZZ_CHECK(one_of(st, {0, 22, 27}));
            FUZZ_CHECK((st == INI_ERR_LINE) == (mode == KW_INI_READWRITE && ix == model.size()));
            if (st == 0) {
                model.erase(model.begin() + static_cast<long>(ix));
            }
            break;
        case 5:
        case 8: {
            std::string line;
            if (op % 10 == 8 && ini.linetype != INI_LINE_NONE) {
                line = reinterpret_cast<const char *>(ini.pLine);
                st = KW_ini_replace(&ini, ini.pLine);
            } else {
                line = take_line(in);
                st = KW_ini_replace(&ini, kwfuzz::u(line));
                line.resize(std::strlen(line.c_str()));
            }
            FUZZ_CHECK(one_of(st, {0, 22, 26, 27, 30, 77}));
            if (st == 0) {
                model[ix] = line;
            }
            break;
        }
        case 6: {
            const unsigned char tflags = in.byte() & 1;
            const std::size_t unit = tflags != 0 ? 2 : 1;
            // The documented room: the value's length plus one unit.
            const std::size_t value = ini.pValue != nullptr ? std::strlen(reinterpret_cast<const char *>(ini.pValue)) : 0;
            const std::size_t room = (value + 1) * unit;
            auto *out = static_cast<unsigned char *>(std::malloc(room));
            std::uint16_t count = 0xEEEE, total = 0xEEEE;
            st = KW_ini_tokenize(&ini, out, tflags, &count, &total);
            if (ini.linetype == INI_LINE_NONE) {
                FUZZ_CHECK(st == INI_ERR_LINE);
            } else if (ini.linetype != INI_LINE_KEY) {
                FUZZ_CHECK(st == INI_ERR_NOT_KEY);
            } else {
                FUZZ_CHECK(st == 0 && count >= 1 && total >= count && total * unit <= room);
                std::uint16_t want_count = 0;
                const std::string want = expected_tokens(ini.pValue, unicode, want_count);
                FUZZ_CHECK(count == want_count && total == want.size());
                for (std::size_t k = 0; k < want.size(); ++k) {
                    if (unit == 1) {
                        FUZZ_CHECK(out[k] == static_cast<unsigned char>(want[k]));
                    } else {
                        // The character byte beside a zero byte, the zero first for high-byte-first text.
                        const bool zero_first = unicode == KW_INI_UTF16_BE;
                        FUZZ_CHECK(out[2 * k + (zero_first ? 1 : 0)] == static_cast<unsigned char>(want[k]));
                        FUZZ_CHECK(out[2 * k + (zero_first ? 0 : 1)] == 0);
                    }
                }
            }
            if (st != 0) {
                FUZZ_CHECK(count == 0xEEEE && total == 0xEEEE);
            }
            std::free(out);
            break;
        }
        case 9:
            // A text from a buffer is no file: nothing to write back.
            FUZZ_CHECK(KW_ini_write(&ini) == (mode == KW_INI_READ ? INI_ERR_MODE : INI_ERR_NO_FILE));
            // Refuse the edit's next memory request: it must change nothing.
            Ledger::get().fail_at = Ledger::get().requests;
            break;
        }
        if (op % 10 != 9) {
            Ledger::get().fail_at = -1;
        }

        kwfuzz::check_record(ini, unicode);
        FUZZ_CHECK(kwfuzz::same_lines(ini, model));
        FUZZ_CHECK(kw::ini::view(&ini)->ix == ix);
        const bool owned = (kw::ini::view(&ini)->owned & kw::ini::kOwnsText) != 0;
        if (ini.linetype != INI_LINE_NONE) {
            const bool inside = ini.pLine >= caller && ini.pLine < caller + bufsize;
            FUZZ_CHECK(inside == !owned);
        }
        if (owned && !moved) {
            // Out for good: from now on any touch of the caller's buffer is a finding.
            moved = true;
            ASAN_POISON_MEMORY_REGION(caller, bufsize);
        }
        FUZZ_CHECK(ini.pBuf == caller && ini.bufsize == bufsize && ini.usesize == text.size());
    }

    FUZZ_CHECK(KW_ini_close(&ini) == 0);
    FUZZ_CHECK(Ledger::clean());
    FUZZ_CHECK(KW_ini_close(&ini) == INI_ERR_HANDLE);
    FUZZ_CHECK(KW_ini_next(&ini) == INI_ERR_HANDLE);
    ASAN_UNPOISON_MEMORY_REGION(caller, bufsize);
    std::free(caller);
    return 0;
}
