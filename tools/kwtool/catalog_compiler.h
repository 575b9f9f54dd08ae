// Message catalogs as files: the compiler from source text, the reader that
// checks a catalog file before anything trusts it, and the dump back to
// source text.
//
// Source text: one message a line, beginning with its 7-character key (two
// upper-case letters or digits of application ID, then five decimal digits);
// the whole line is the message text, key included. Lines whose first
// character is '#' are comments; empty lines are skipped. Inside a message
// "\n", "\t" and "\\" stand for a line feed, a tab and a backslash. A CR
// before the line end and a UTF-8 byte-order mark are dropped.
#ifndef KWTOOL_CATALOG_COMPILER_H
#define KWTOOL_CATALOG_COMPILER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msg/specifier_syntax.h"

namespace kwtool::catalog {

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kMaxCatalog = 65535;
inline constexpr std::size_t kKeyLength = 7;
inline constexpr int kMaxSpecifiers = static_cast<int>(kw::msg::kMaxArgs);

inline constexpr unsigned char kEncodingAscii = 1;
inline constexpr unsigned char kEncodingEbcdic = 2;

// One argument specifier of a message text: %position!...conversion!
struct specifier {
    int position = 0;        // 1 to 9
    char conversion = 0;     // c s d o u x X
    bool long_size = false;  // the letter l before the conversion
    std::size_t column = 0;  // of its '%', from 0
    std::string text;        // the specifier as written, '%' to the closing '!'
};

// The specifiers of an ASCII message text, in text order. On the first
// specifier that the library would not format soundly, returns nullopt and
// sets why, and fault_at (when given) to the offending byte's index.
std::optional<std::vector<specifier>> scan_specifiers(std::string_view text, std::string &why,
                                                      std::size_t *fault_at = nullptr);

// True for the conversions that take a number.
bool numeric_conversion(char c);

// One fault of a source: its line and column (from 1) and the cause.
struct diagnostic {
    unsigned long line = 0;
    std::size_t column = 0;
    std::string cause;
};

// Compile source text into the bytes of a catalog file. Every faulty line
// adds one diagnostic to errors (in line order) and the result is nullopt.
// A source without any message throws kwtool::failure (exit status 2)
// naming name.
std::optional<std::string> compile(std::string_view source, const std::string &name, bool ebcdic,
                                   std::vector<diagnostic> &errors);

// A catalog file, checked and decoded.
struct message {
    std::uint16_t offset = 0;  // in the text area
    std::string text;          // translated to ASCII for an EBCDIC catalog
};
struct catalog_file {
    unsigned char encoding = kEncodingAscii;
    unsigned char unicode_high_low = 0;
    unsigned char is_c_file = 0;
    unsigned char flags = 0;
    std::uint16_t arraysize = 0;
    std::uint16_t txtsize = 0;
    std::size_t file_size = 0;
    std::vector<message> by_key;  // offset-array order: ascending keys; [0] is the not-found entry
};

// Check and decode the bytes of a catalog file; a file that is not a sound
// catalog throws kwtool::failure (exit status 2) naming the fault.
catalog_file read(std::string_view bytes, const std::string &name);

// The catalog as source text, messages in text-area order, so that
// compiling it again gives the same bytes.
std::string dump(const catalog_file &cat);

// The message with this key (7 ASCII characters), or nullptr.
const message *find(const catalog_file &cat, std::string_view key);

// The key "%c%c%05u" of an application ID and a number.
std::string make_key(std::string_view appid, unsigned number);

}  // namespace kwtool::catalog

#endif
