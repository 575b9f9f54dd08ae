/*
 * kwutil.hpp -- a thin, header-only C++17 layer over kwutil.h.
 *
 * Owners that close what they opened (kw::ini_file, kw::catalog: movable,
 * not copyable), std::string_view in, std::string and std::optional out, and
 * every library status as a std::error_code of its family's category. The layer
 * adds no behaviour: each member calls the C function of the same purpose
 * and reports what it returned; kwutil.h documents the rules.
 *
 *   kw::ini_file ini;
 *   if (auto ec = ini.open("app.ini")) { ... ec.message() ... }
 *   auto [found, ec] = ini.find("database", "port");
 *   if (found) std::cout << *ini.value() << '\n';
 *
 * Nothing here throws except std::bad_alloc from the standard containers.
 */
#ifndef KWUTIL_HPP
#define KWUTIL_HPP

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "kwutil.h"

namespace kw {

/* ---------------------------------------------------------------------
 * Statuses
 *
 * Three families of numbers meet here: the INI engine's (21 to 35), the
 * catalog calls' (10, -1, -2) and the memory callbacks' own (1 for the
 * default allocator, any other for a caller's callback, passed on unchanged
 * by the INI engine). Each family has its own category, so a code from one
 * never compares equal to a code from another, nor prints its message, even
 * when the numbers agree.
 * --------------------------------------------------------------------- */

// Every status the library returns, by its number in kwutil.h; an error code
// made from one of these carries the category of its family.
enum class errc : int {
    out_of_memory = 1,        // memory: the default allocator failed
    catalog = KW_MSG_ERR,     // a catalog cannot be opened or read, or the handle is not open
    message_bad_handle = KW_MSG_BAD_HANDLE,  // formatting: the catalog handle is not open
    message_wrong_app = KW_MSG_WRONG_APP,    // formatting: the catalog is of another application
    // formatting: the text is 2,147,483,647 characters or longer, more than a
    // length the C calls can report; the layer's own, no C call returns it
    message_too_long = 100,
    ini_handle = INI_ERR_HANDLE,
    ini_mode = INI_ERR_MODE,
    ini_no_name = INI_ERR_NO_NAME,
    ini_leading_space = INI_ERR_LEADING_SPACE,
    ini_line = INI_ERR_LINE,
    ini_not_key = INI_ERR_NOT_KEY,
    ini_where = INI_ERR_WHERE,
    ini_text_full = INI_ERR_TEXT_FULL,
    ini_no_file = INI_ERR_NO_FILE,
    ini_open = INI_ERR_OPEN,
    ini_reopen = INI_ERR_REOPEN,
    ini_write = INI_ERR_WRITE,
};

namespace detail {

constexpr bool is_ini_status(int status) noexcept {
    switch (status) {
    case INI_ERR_HANDLE: case INI_ERR_MODE: case INI_ERR_NO_NAME: case INI_ERR_LEADING_SPACE:
    case INI_ERR_LINE: case INI_ERR_NOT_KEY: case INI_ERR_WHERE: case INI_ERR_TEXT_FULL:
    case INI_ERR_NO_FILE: case INI_ERR_OPEN: case INI_ERR_REOPEN: case INI_ERR_WRITE:
        return true;
    default:
        return false;
    }
}

constexpr bool is_catalog_status(int status) noexcept {
    return status == KW_MSG_ERR || status == KW_MSG_BAD_HANDLE || status == KW_MSG_WRONG_APP ||
           status == static_cast<int>(errc::message_too_long);
}

class ini_category_impl final : public std::error_category {
public:
    const char *name() const noexcept override { return "kwutil.ini"; }
    std::string message(int status) const override {
        switch (status) {
        case INI_ERR_HANDLE: return "the INI record is not open";
        case INI_ERR_MODE: return "bad mode, or an edit or write on a read-only INI handle";
        case INI_ERR_NO_NAME: return "neither a section nor a key to search for";
        case INI_ERR_LEADING_SPACE: return "a line begins with a space";
        case INI_ERR_LINE: return "malformed line, bad line number, or no current line";
        case INI_ERR_NOT_KEY: return "the current line is not a key line";
        case INI_ERR_WHERE: return "the insert position is neither before nor after";
        case INI_ERR_TEXT_FULL: return "the text does not fit the INI handle";
        case INI_ERR_NO_FILE: return "the INI handle was opened from a buffer, not a file";
        case INI_ERR_OPEN: return "the file could not be opened or read";
        case INI_ERR_REOPEN: return "the file could not be reopened for writing";
        case INI_ERR_WRITE: return "writing the file failed";
        default: return "unknown INI status " + std::to_string(status);
        }
    }
};

class catalog_category_impl final : public std::error_category {
public:
    const char *name() const noexcept override { return "kwutil.catalog"; }
    std::string message(int status) const override {
        switch (status) {
        case KW_MSG_ERR: return "the catalog cannot be opened or read, or the handle is not open";
        case KW_MSG_BAD_HANDLE: return "the catalog handle is not open";
        case KW_MSG_WRONG_APP: return "the catalog belongs to another application";
        case static_cast<int>(errc::message_too_long): return "the message is too long to be formatted";
        default: return "unknown catalog status " + std::to_string(status);
        }
    }
};

class memory_category_impl final : public std::error_category {
public:
    const char *name() const noexcept override { return "kwutil.memory"; }
    std::string message(int status) const override {
        if (status == 1) {
            return "out of memory";
        }
        return "the memory callback failed with status " + std::to_string(status);
    }
};

}  // namespace detail

// The INI engine's statuses (21 to 35).
inline const std::error_category &ini_category() noexcept {
    static const detail::ini_category_impl instance;
    return instance;
}

// The catalog calls' statuses: KW_MsgOpen and KW_MsgClose's 10, the
// formatting calls' negative results, and errc::message_too_long.
inline const std::error_category &catalog_category() noexcept {
    static const detail::catalog_category_impl instance;
    return instance;
}

// A memory callback's failing result as the INI engine passes it on; 1 is
// the default allocator's failure.
inline const std::error_category &memory_category() noexcept {
    static const detail::memory_category_impl instance;
    return instance;
}

inline std::error_code make_error_code(errc e) noexcept {
    const int v = static_cast<int>(e);
    if (detail::is_ini_status(v)) {
        return {v, ini_category()};
    }
    if (detail::is_catalog_status(v)) {
        return {v, catalog_category()};
    }
    return {v, memory_category()};
}

// A status of a KW_ini_* call: 0 is no error, 21 to 35 the engine's own,
// any other number the memory callback's. (A callback that fails with a
// number from 21 to 35 cannot be told from the engine at the C interface:
// give callbacks other numbers.)
inline std::error_code ini_status(std::uint32_t status) noexcept {
    if (status == 0) {
        return {};
    }
    const int v = static_cast<int>(status);
    return {v, detail::is_ini_status(v) ? ini_category() : memory_category()};
}

// A result of KW_MsgOpen or KW_MsgClose (0 is no error), or a negative
// result of a formatting call, as a code of catalog_category().
inline std::error_code catalog_status(std::int32_t status) noexcept {
    if (status == 0) {
        return {};
    }
    return {status, catalog_category()};
}

// The name older callers use for ini_status().
inline std::error_code status_code(std::uint32_t status) noexcept { return ini_status(status); }

// A value together with the error that may have kept it from being made:
//   auto [found, ec] = ini.find("net", "port");
template <class T>
struct result {
    T value{};
    std::error_code error;

    explicit operator bool() const noexcept { return !error; }
};

}  // namespace kw

namespace std {
template <>
struct is_error_code_enum<kw::errc> : true_type {};
}  // namespace std

namespace kw {

/* ---------------------------------------------------------------------
 * INI engine
 * --------------------------------------------------------------------- */

enum class line_type : std::uint8_t {
    none = INI_LINE_NONE,        // the end position
    comment = INI_LINE_COMMENT,  // comment or empty line
    section = INI_LINE_SECTION,
    key = INI_LINE_KEY,
};

enum class ini_mode : std::int32_t { read = KW_INI_READ, read_write = KW_INI_READWRITE };

// How a text is read: the engine's classic lines, or the common dialect of
// real files (kwutil.h, "Dialects").
enum class ini_dialect : std::int32_t { classic = 0, common = KW_INI_COMMON };

// Where KW_ini_insert puts a line, relative to the current one.
enum class where : unsigned char { before = 0, after = 1 };

// Owner of one open INI handle. The record lives on the heap so that moving
// the owner never moves a record the engine knows.
class ini_file {
public:
    ini_file() = default;
    // Memory callbacks for every block the engine obtains (KW_ALLOC_MEM).
    ini_file(KW_ALLOC_MEM alloc, KW_FREE_MEM release) noexcept : alloc_(alloc), free_(release) {}
    ~ini_file() { static_cast<void>(close()); }

    ini_file(ini_file &&other) noexcept { take(other); }
    ini_file &operator=(ini_file &&other) noexcept {
        if (this != &other) {
            static_cast<void>(close());
            take(other);
        }
        return *this;
    }
    ini_file(const ini_file &) = delete;
    ini_file &operator=(const ini_file &) = delete;

    // KW_ini_open on a file. An open handle is closed first. After a failure
    // the owner is closed; failed_line() gives the line a 26 or 27 names.
    [[nodiscard]] std::error_code open(std::string_view path, ini_mode mode = ini_mode::read,
                                       std::uint8_t unicode = KW_INI_8BIT) {
        return open(path, mode, ini_dialect::classic, unicode);
    }
    // The same in the dialect given: open(path, ini_mode::read, ini_dialect::common).
    [[nodiscard]] std::error_code open(std::string_view path, ini_mode mode, ini_dialect dialect,
                                       std::uint8_t unicode = KW_INI_8BIT) {
        static_cast<void>(close());
        auto rec = std::make_unique<KW_INI_STRUC>();
        rec->alloc_mem = alloc_;
        rec->free_mem = free_;
        const std::string name(path);
        const std::int32_t how = static_cast<std::int32_t>(mode) | static_cast<std::int32_t>(dialect);
        const std::uint32_t st = KW_ini_open(rec.get(), name.c_str(), how, unicode);
        failed_line_ = st == 0 ? 0 : rec->linenum;
        if (st == 0) {
            rec_ = std::move(rec);
        }
        return ini_status(st);
    }

    // KW_ini_close; closing a closed owner is no error.
    std::error_code close() noexcept {
        if (!rec_) {
            return {};
        }
        const std::uint32_t st = KW_ini_close(rec_.get());
        rec_.reset();
        return ini_status(st);
    }

    bool is_open() const noexcept { return rec_ != nullptr; }
    std::uint16_t failed_line() const noexcept { return failed_line_; }

    [[nodiscard]] std::error_code next() noexcept { return call(KW_ini_next); }
    [[nodiscard]] std::error_code go_to(std::uint16_t line) noexcept {
        return rec_ ? ini_status(KW_ini_goto(rec_.get(), line)) : make_error_code(errc::ini_handle);
    }

    // KW_ini_find from the current line; nullopt stands for a null pattern.
    [[nodiscard]] result<bool> find(std::optional<std::string_view> section, std::optional<std::string_view> key) {
        if (!rec_) {
            return {false, make_error_code(errc::ini_handle)};
        }
        const std::string s = section ? std::string(*section) : std::string();
        const std::string k = key ? std::string(*key) : std::string();
        unsigned char found = 0;
        const std::uint32_t st =
            KW_ini_find(rec_.get(), section ? bytes(s) : nullptr, key ? bytes(k) : nullptr, &found);
        return {st == 0 && found != 0, ini_status(st)};
    }

    // The current line (none of these is valid on a closed owner).
    std::uint16_t line_number() const noexcept { return rec_ ? rec_->linenum : 0; }
    line_type type() const noexcept { return rec_ ? static_cast<line_type>(rec_->linetype) : line_type::none; }
    // The stored text of the current line, its line end included; empty at
    // the end position, where pLine points just past the text and may be
    // the end of its block.
    std::string line() const {
        if (!rec_ || rec_->pLine == nullptr || rec_->linetype == INI_LINE_NONE) {
            return std::string();
        }
        return std::string(reinterpret_cast<const char *>(rec_->pLine));
    }
    // A key line's value as KW_ini_value gives it: without the line end and,
    // in the common dialect, without the blanks around it.
    std::optional<std::string> value() const {
        const unsigned char *v = nullptr;
        std::uint16_t len = 0;
        if (!rec_ || KW_ini_value(rec_.get(), &v, &len) != 0) {
            return std::nullopt;
        }
        return std::string(reinterpret_cast<const char *>(v), len);
    }

    [[nodiscard]] std::error_code insert(std::string_view text, where at) {
        const std::string t(text);
        return rec_ ? ini_status(KW_ini_insert(rec_.get(), bytes(t), static_cast<unsigned char>(at)))
                    : make_error_code(errc::ini_handle);
    }
    [[nodiscard]] std::error_code remove() noexcept { return call(KW_ini_delete); }
    [[nodiscard]] std::error_code replace(std::string_view text) {
        const std::string t(text);
        return rec_ ? ini_status(KW_ini_replace(rec_.get(), bytes(t))) : make_error_code(errc::ini_handle);
    }
    [[nodiscard]] std::error_code write() noexcept { return call(KW_ini_write); }

    // KW_ini_tokenize in 8-bit units: the current key line's value split at
    // its commas.
    [[nodiscard]] result<std::vector<std::string>> tokens() const {
        result<std::vector<std::string>> r;
        if (!rec_) {
            r.error = make_error_code(errc::ini_handle);
            return r;
        }
        // Room for the value and one terminator, whatever the value holds.
        const std::size_t room = rec_->pValue ? std::strlen(reinterpret_cast<const char *>(rec_->pValue)) + 1 : 1;
        std::vector<unsigned char> buf(room < 256 ? 256 : room);
        std::uint16_t count = 0;
        std::uint16_t units = 0;
        r.error = ini_status(KW_ini_tokenize(rec_.get(), buf.data(), 0, &count, &units));
        if (r.error) {
            return r;
        }
        const auto *p = reinterpret_cast<const char *>(buf.data());
        for (std::uint16_t i = 0; i < count; ++i) {
            r.value.emplace_back(p);
            p += r.value.back().size() + 1;
        }
        return r;
    }

    // The raw record, for what the layer does not cover.
    KW_INI_STRUC *record() noexcept { return rec_.get(); }
    const KW_INI_STRUC *record() const noexcept { return rec_.get(); }

private:
    static const unsigned char *bytes(const std::string &s) noexcept {
        return reinterpret_cast<const unsigned char *>(s.c_str());
    }
    std::error_code call(std::uint32_t (*fn)(KW_INI_STRUC *)) noexcept {
        return rec_ ? ini_status(fn(rec_.get())) : make_error_code(errc::ini_handle);
    }
    void take(ini_file &other) noexcept {
        rec_ = std::move(other.rec_);
        alloc_ = other.alloc_;
        free_ = other.free_;
        failed_line_ = other.failed_line_;
    }

    std::unique_ptr<KW_INI_STRUC> rec_;
    KW_ALLOC_MEM alloc_ = nullptr;
    KW_FREE_MEM free_ = nullptr;
    std::uint16_t failed_line_ = 0;
};

/* ---------------------------------------------------------------------
 * Message catalogs
 * --------------------------------------------------------------------- */

// A packed argument list for KW_MsgRSnprintf: 3 header bytes, then one field
// per argument in position order, a length byte and the value (a number as
// 4 bytes in the machine's order, a text as its bytes).
class packed_args {
public:
    packed_args() : bytes_(3, 0) {}

    void add_number(std::int32_t v) {
        unsigned char b[4];
        std::memcpy(b, &v, sizeof b);
        bytes_.push_back(4);
        bytes_.insert(bytes_.end(), b, b + 4);
    }
    // False, and nothing added, for a text over 255 bytes.
    [[nodiscard]] bool add_text(std::string_view text) {
        if (text.size() > 255) {
            return false;
        }
        bytes_.push_back(static_cast<unsigned char>(text.size()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return true;
    }

    const unsigned char *data() const noexcept { return bytes_.data(); }
    std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(bytes_.size()); }

private:
    std::vector<unsigned char> bytes_;
};

// Owner of one open catalog (KW_MsgOpen .. KW_MsgClose). The 32-byte handle
// lives on the heap so that moving the owner never moves it.
class catalog {
public:
    catalog() = default;
    // Memory callbacks for the catalog's block; release must pair with alloc.
    catalog(KW_ALLOC_MEM alloc, KW_FREE_MEM release) noexcept : alloc_(alloc), free_(release) {}
    ~catalog() { static_cast<void>(close()); }

    catalog(catalog &&other) noexcept { take(other); }
    catalog &operator=(catalog &&other) noexcept {
        if (this != &other) {
            static_cast<void>(close());
            take(other);
        }
        return *this;
    }
    catalog(const catalog &) = delete;
    catalog &operator=(const catalog &) = delete;

    // KW_MsgOpen on a catalog file (no built-in default). An open catalog is
    // closed first.
    [[nodiscard]] std::error_code open(std::string_view path) {
        static_cast<void>(close());
        auto h = std::make_unique<KW_MSG_CATALOG>();
        const std::string name(path);
        const std::uint32_t st = KW_MsgOpen(name.c_str(), nullptr, alloc_, free_, h.get());
        if (st == 0) {
            h_ = std::move(h);
        }
        return catalog_status(static_cast<std::int32_t>(st));
    }

    // KW_MsgClose; closing a closed owner is no error.
    std::error_code close() noexcept {
        if (!h_) {
            return {};
        }
        const std::uint32_t st = KW_MsgClose(h_.get(), free_);
        h_.reset();
        return catalog_status(static_cast<std::int32_t>(st));
    }

    bool is_open() const noexcept { return h_ != nullptr; }

    // KW_MsgRSnprintf: message number of application appid (nullopt: the
    // catalog's own) with a packed list. The text is in the catalog's
    // encoding. For a catalog of another application the error is
    // message_wrong_app and the value holds the library's fixed text; for a
    // text of INT32_MAX characters or more it is message_too_long and the
    // value is empty (never a cut text).
    [[nodiscard]] result<std::string> format(std::optional<std::string_view> appid, std::uint16_t number,
                                             const packed_args &args, unsigned char flags = 0) const {
        std::string id = appid ? std::string(*appid) : std::string();
        return run([&](char *buf, std::uint32_t size) {
            return KW_MsgRSnprintf(h_.get(), flags, buf, size, appid ? id.data() : nullptr, number, args.data(),
                                   args.size());
        });
    }

    // KW_MsgSnprintf with the arguments as they are: 32-bit integers for the
    // numeric conversions, const char * for s.
    template <class... Args>
    [[nodiscard]] result<std::string> format_args(std::string_view appid, std::uint16_t number, unsigned char flags,
                                                  Args... args) const {
        static_assert((((std::is_integral_v<Args> && sizeof(Args) <= 4) || std::is_same_v<Args, const char *> ||
                        std::is_same_v<Args, char *>) && ...),
                      "message arguments are 32-bit integers or C strings");
        std::string id(appid);
        return run([&](char *buf, std::uint32_t size) {
            return KW_MsgSnprintf(h_.get(), flags, buf, size, id.data(), number, vararg(args)...);
        });
    }

    PKW_MSG_CATALOG handle() const noexcept { return h_.get(); }

private:
    template <class T>
    static auto vararg(T v) noexcept {
        if constexpr (std::is_integral_v<T>) {
            return static_cast<std::int32_t>(v);
        } else {
            return v;
        }
    }

    // Call fn(buffer, size) until the text fits; fn returns the whole
    // text's length, or a negative KW_MSG_ result. The C calls stop counting
    // at INT32_MAX, so that length may stand for a longer text: it is
    // reported, not formatted into a buffer that could only hold a cut text.
    template <class Fn>
    result<std::string> run(Fn &&fn) const {
        result<std::string> r;
        if (!h_) {
            r.error = make_error_code(errc::message_bad_handle);
            return r;
        }
        std::string buf(256, '\0');
        for (;;) {
            const std::int32_t n = fn(buf.data(), static_cast<std::uint32_t>(buf.size()));
            if (n < 0) {
                r.error = catalog_status(n);
                r.value = buf.c_str();
                return r;
            }
            if (n == INT32_MAX || static_cast<std::size_t>(n) >= buf.max_size()) {
                r.error = make_error_code(errc::message_too_long);
                return r;
            }
            if (static_cast<std::size_t>(n) < buf.size()) {
                buf.resize(static_cast<std::size_t>(n));
                r.value = std::move(buf);
                return r;
            }
            buf.assign(static_cast<std::size_t>(n) + 1, '\0');
        }
    }

    void take(catalog &other) noexcept {
        h_ = std::move(other.h_);
        alloc_ = other.alloc_;
        free_ = other.free_;
    }

    std::unique_ptr<KW_MSG_CATALOG> h_;
    KW_ALLOC_MEM alloc_ = nullptr;
    KW_FREE_MEM free_ = nullptr;
};

}  // namespace kw

#endif /* KWUTIL_HPP */
