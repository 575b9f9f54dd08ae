// INI engine on a file: write the input to a file, open it read-only and for
// writing, write it back and open it again.
//
// Asserts: open gives exactly the status, the lines and the failing line
// number that the reading rules give (255-byte pieces, a zero ends the stored
// line, mode 1 drops comments and empty lines, 57,344 bytes and 4,095 lines
// at most); the record's invariants hold (ini_check.h); every block comes
// back, also when a memory request is refused; the written file is the
// stored lines back to back, byte for byte the input when it holds no zero;
// and reopening it gives the same lines. On Windows the file is read and
// written in text mode, and the model reads and writes it so too.
//
// Input: flags (UnicodeFlag, a refused request), then the file's bytes.
#include "ini_check.h"

using kwfuzz::Ledger;

namespace {

// What a read sees of a file's bytes: on Windows the file is read in text
// mode, where CR LF reads as LF and 0x1A ends the file; elsewhere the bytes
// as they are.
std::string as_read(const std::string &raw) {
#if defined(_WIN32)
    std::string out;
    for (std::size_t i = 0; i < raw.size() && raw[i] != '\x1A'; ++i) {
        if (raw[i] != '\r' || i + 1 == raw.size() || raw[i + 1] != '\n') {
            out += raw[i];
        }
    }
    return out;
#else
    return raw;
#endif
}

// What a write in text mode puts on disk: on Windows each LF goes out as
// CR LF.
std::string as_written(const std::string &text) {
#if defined(_WIN32)
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
#else
    return text;
#endif
}

// The lines as read from a file: fgets pieces of at most 255 bytes, each
// stored up to its first zero. Mode 1 drops comment and empty lines.
std::vector<std::string> read_pieces(const std::string &file, std::int32_t mode) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t end = at;
        while (end < file.size() && end - at < KW_INI_MAX_LINE) {
            if (file[end++] == '\n') {
                break;
            }
        }
        const std::string piece = file.substr(at, end - at);
        at = end;
        if (mode == KW_INI_READ && (piece[0] == ';' || piece[0] == '\n')) {
            continue;
        }
        lines.push_back(piece.substr(0, piece.find('\0')));
    }
    return lines;
}

struct Outcome {
    std::uint32_t status;
    std::size_t line;  // the failing line's index for 26 and 27
};

Outcome expected_open(const std::vector<std::string> &lines, std::uint8_t unicode) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == KW_INI_MAX_LINES) {
            return {INI_ERR_TEXT_FULL, 0};
        }
        bytes += lines[i].size() + 1;
        if (bytes > KW_INI_MAX_TEXT) {
            return {INI_ERR_TEXT_FULL, 0};
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const kwfuzz::Classified c = kwfuzz::classify(lines[i], unicode);
        if (c.status != 0) {
            return {c.status, i};
        }
    }
    return {0, 0};
}

KW_INI_STRUC fresh() {
    KW_INI_STRUC ini;
    std::memset(&ini, 0, sizeof ini);
    ini.alloc_mem = &Ledger::alloc;
    ini.free_mem = &Ledger::release;
    return ini;
}

// Open path in mode; check the outcome against the reading rules. Returns
// whether the record is open.
bool open_and_check(KW_INI_STRUC &ini, const std::string &path, const std::string &file, std::int32_t mode,
                    std::uint8_t unicode) {
    const std::vector<std::string> lines = read_pieces(as_read(file), mode);
    const Outcome want = expected_open(lines, unicode);
    const std::uint32_t st = KW_ini_open(&ini, path.c_str(), mode, unicode);
    if (st == 77) {
        FUZZ_CHECK(Ledger::get().fail_at >= 0);
    } else {
        FUZZ_CHECK(st == want.status);
    }
    if (st != 0) {
        FUZZ_CHECK(Ledger::clean());
        FUZZ_CHECK(ini.pLine == nullptr && ini.pValue == nullptr);
        if (st == INI_ERR_LINE || st == INI_ERR_LEADING_SPACE) {
            FUZZ_CHECK(ini.linenum == want.line + 1);
        } else {
            FUZZ_CHECK(ini.linenum == 0);
        }
        FUZZ_CHECK(KW_ini_close(&ini) == INI_ERR_HANDLE);
        return false;
    }
    kwfuzz::check_record(ini, unicode);
    FUZZ_CHECK(kwfuzz::stored_lines(ini) == lines);
    FUZZ_CHECK(ini.linenum == 1);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    kwfuzz::Reader in(data, size);
    const std::uint8_t flags = in.byte();
    const std::uint8_t unicode = flags & 3;
    const long fail_at = (flags & 4) != 0 ? (flags >> 3) % 8 : -1;
    const std::string file = in.rest();
    const std::string path = kwfuzz::scratch_file("fuzz.ini");
    kwfuzz::write_file(path, file);

    for (const std::int32_t mode : {KW_INI_READ, KW_INI_READWRITE}) {
        Ledger::reset(fail_at);
        KW_INI_STRUC ini = fresh();
        if (!open_and_check(ini, path, file, mode, unicode)) {
            continue;
        }
        if (mode == KW_INI_READ) {
            FUZZ_CHECK(KW_ini_write(&ini) == INI_ERR_MODE);
            FUZZ_CHECK(kwfuzz::read_file(path) == file);
        } else {
            const std::vector<std::string> lines = kwfuzz::stored_lines(ini);
            std::string joined;
            for (const std::string &l : lines) {
                joined += l;
            }
            FUZZ_CHECK(KW_ini_write(&ini) == 0);
            kwfuzz::check_record(ini, unicode);
            FUZZ_CHECK(kwfuzz::stored_lines(ini) == lines);  // the write changes nothing in memory
            const std::string written = kwfuzz::read_file(path);
            FUZZ_CHECK(written == as_written(joined));
            if (file.find('\0') == std::string::npos) {
                FUZZ_CHECK(written == as_written(as_read(file)));
            }
            FUZZ_CHECK(KW_ini_close(&ini) == 0);
            FUZZ_CHECK(Ledger::clean());

            Ledger::reset();
            KW_INI_STRUC again = fresh();
            // Lines cut short by a zero may join on disk into a line that is
            // read differently; without zeros the file reads back the same.
            const bool reopened = open_and_check(again, path, written, KW_INI_READWRITE, unicode);
            if (file.find('\0') == std::string::npos) {
                FUZZ_CHECK(reopened && kwfuzz::stored_lines(again) == lines);
            }
            if (reopened) {
                FUZZ_CHECK(KW_ini_close(&again) == 0);
            }
            FUZZ_CHECK(Ledger::clean());
            kwfuzz::write_file(path, file);
            continue;
        }
        FUZZ_CHECK(KW_ini_close(&ini) == 0);
        FUZZ_CHECK(Ledger::clean());
    }
    return 0;
}
