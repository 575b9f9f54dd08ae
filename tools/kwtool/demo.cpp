// kwtool demo: one pass over every family on the bundled samples, printing
// what each step did and checking its result. It works on copies in a
// temporary folder, so the samples themselves are never changed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "cli.h"

#include "commands.h"
#include "file_io.h"
#include "ini_ops.h"
#include "kwutil.hpp"
#include "msg_ops.h"
#include "pack_cmd.h"
#include "stream_ops.h"

namespace kwtool {

namespace {

namespace fs = std::filesystem;

// A temporary folder removed with its contents when the object goes.
class work_folder {
public:
    work_folder() {
        std::random_device rd;
        for (int attempt = 0; attempt < 16; ++attempt) {
            path_ = fs::temp_directory_path() / ("kwtool-demo-" + std::to_string(rd()));
            std::error_code ec;
            if (fs::create_directory(path_, ec)) {
                return;
            }
        }
        fail(kExitBadInput, "cannot create a temporary folder in " + fs::temp_directory_path().string());
    }
    ~work_folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    work_folder(const work_folder &) = delete;
    work_folder &operator=(const work_folder &) = delete;

    std::string file(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

// The running binary's own path, empty when the system does not tell.
fs::path self_path() {
#ifdef _WIN32
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return {};
        }
        if (n < buf.size()) {
            return fs::path(std::wstring(buf.data(), n));
        }
        if (buf.size() >= 32768) {  // the longest path Windows has
            return {};
        }
        buf.resize(buf.size() * 2);
    }
#else
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : p;
#endif
}

std::string default_samples() {
    std::vector<fs::path> candidates;
    std::error_code ec;
    // Beside an installed binary first, wherever the tree was installed to.
    const fs::path self = self_path();
    if (!self.empty()) {
        candidates.push_back(self.parent_path().parent_path() / KWTOOL_DATADIR / "kwutil" / "samples");
    }
    candidates.emplace_back(KWTOOL_INSTALLED_SAMPLES);
    candidates.emplace_back(KWTOOL_SOURCE_SAMPLES);
    for (const auto &c : candidates) {
        if (fs::is_regular_file(c / "app.ini", ec)) {
            return c.string();
        }
    }
    fail(kExitBadInput, "cannot find the samples folder (give --samples DIR)");
}

void step(const std::string &what) { std::printf("  %s\n", what.c_str()); }
void section(const std::string &title) { std::printf("\n== %s\n", title.c_str()); }

std::string in_quotes(const std::string &s) { return "\"" + s + "\""; }

std::string hex(const std::string &bytes, std::size_t max) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(bytes[i]));
        out += (i ? " " : "") + std::string(b);
    }
    return bytes.size() > max ? out + " ..." : out;
}

void check(bool ok, const std::string &what) {
    if (!ok) {
        fail(kExitBadInput, "demo check failed: " + what);
    }
}

std::string read_all(const std::string &path) { return read_small_file(path, 64u << 20); }

// A text file as the INI engine reads it: in text mode, so that on Windows
// the CR LF that KW_ini_write puts there reads as one line feed.
std::string read_text(const std::string &path) {
    std::string text;
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        fail(kExitBadInput, located(path, 0, "cannot open"));
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        fail(kExitBadInput, located(path, 0, "read error"));
    }
    return text;
}

// Lines of a text, line ends kept.
std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
        out.push_back(text.substr(pos, stop - pos));
        pos = stop;
    }
    return out;
}

void ini_demo(const work_folder &w) {
    section("INI engine: app.ini");
    const std::string path = w.file("app.ini");
    const std::string original = read_text(path);
    std::error_code ec;
    const auto original_bytes = fs::file_size(path, ec);
    {
        auto f = ini_ops::open_for_reading(path);
        const auto lines = ini_ops::list(f);
        step("ini list app.ini: " + std::to_string(lines.size()) + " lines");
        for (const auto &l : lines) {
            std::printf("    %3u %-7s %s\n", static_cast<unsigned>(l.number), l.type.c_str(), l.text.c_str());
        }
        const std::string port = ini_ops::get(f, path, "Database", "Port");
        step("ini get app.ini Database Port -> " + port);
        check(port == "5432", "Database/Port");
        step("ini get app.ini database PO* -> " + ini_ops::get(f, path, "database", "PO*") +
             "   (case-blind, '*' ends the pattern)");
        std::string shown;
        for (const auto &t : ini_ops::tokens(f, path, "Database", "Replicas")) {
            shown += (shown.empty() ? "" : " ") + in_quotes(t);
        }
        step("ini tokens app.ini Database Replicas -> " + shown);
        bool exact = true;
        try {
            ini_ops::get(f, path, "Network", "Retry");
        } catch (const failure &) {
            exact = false;
        }
        check(!exact, "'Retry' must not match the key 'Retry '");
        step("ini get app.ini Network Retry -> not found: the key is 'Retry ' (names are not trimmed); "
             "'Retry*' finds it: " + in_quotes(ini_ops::get(f, path, "Network", "Retry*")));
    }
    {
        auto f = ini_ops::open_for_editing(path);
        ini_ops::set(f, path, "Network", "Timeout", "60");
        step("ini set app.ini Network Timeout 60 -> line replaced in place");
        ini_ops::set(f, path, "Network", "Proxy", "none");
        step("ini set app.ini Network Proxy none -> inserted after the section's last key");
        ini_ops::set(f, path, "Cache", "Size", "64");
        step("ini set app.ini Cache Size 64 -> section [Cache] appended");
        const auto gone = ini_ops::del(f, path, "Logging", "Level");
        step("ini del app.ini Logging Level -> line " + std::to_string(gone) + " deleted");
        ini_ops::write_back(f, path);
    }
    const std::string edited = read_text(path);
    const auto edited_bytes = fs::file_size(path, ec);
    const auto before = lines_of(original);
    const auto after = lines_of(edited);
    std::size_t kept = 0;
    for (const auto &l : before) {
        if (std::find(after.begin(), after.end(), l) != after.end()) {
            ++kept;
        }
    }
    step("written back with KW_ini_write: " + std::to_string(original_bytes) + " -> " +
         std::to_string(edited_bytes) + " bytes; " + std::to_string(kept) + " of " + std::to_string(before.size()) +
         " original lines kept unchanged (the others were edited)");
    check(kept + 2 == before.size(), "untouched lines kept");
    std::printf("%s", edited.c_str());
}

void msg_demo(const work_folder &w, const std::string &samples) {
    section("Message catalogs: messages.txt");
    const std::string src = w.file("messages.txt");
    const std::string cat = w.file("messages.cat");
    const auto c = msg_ops::compile_file(src, cat, false);
    step("msg compile messages.txt -o messages.cat -> " + std::to_string(c.messages) + " messages, " +
         std::to_string(c.bytes) + " bytes, ASCII");
    step("  header: " + hex(read_all(cat), 16));
    auto r = msg_ops::format(cat, "ab", 42, {"C:", "17"}, false, false);
    step("msg format messages.cat ab 42 C: 17 -> " + in_quotes(r.text));
    check(r.text == "AB00042E - Disk C: has 17 blocks free.", "message 42");
    r = msg_ops::format(cat, "AB", 42, {"C:", "17"}, true, false);
    step("  with --strip-key -> " + in_quotes(r.text));
    r = msg_ops::format(cat, "AB", 123, {}, false, false);
    step("msg format messages.cat AB 123 -> " + in_quotes(r.text) + "   (not in the catalog: the not-found entry)");
    check(!r.found && r.text == "AB00000E - Message 00123 not found.", "not-found entry");

    const std::string dumped = w.file("dumped.txt");
    {
        output out(dumped);
        const std::string text = msg_ops::dump_file(cat);
        out.write(text.data(), text.size());
        out.commit();
    }
    msg_ops::compile_file(dumped, w.file("again.cat"), false);
    const bool same = read_all(cat) == read_all(w.file("again.cat"));
    step(std::string("msg dump, then compile the dump -> ") + (same ? "byte-identical catalog" : "DIFFERENT"));
    check(same, "compile -> dump -> compile");

    const std::string ecat = w.file("messages.ebcdic.cat");
    const auto e = msg_ops::compile_file(src, ecat, true);
    const bool twin = read_all(ecat) == read_all((fs::path(samples) / "messages.ebcdic.cat").string());
    step("msg compile --ebcdic -> " + std::to_string(e.bytes) + " bytes, " +
         (twin ? "identical to the bundled messages.ebcdic.cat" : "NOT the bundled twin"));
    check(twin, "EBCDIC twin");
    auto raw = msg_ops::format(ecat, "AB", 42, {"C:", "17"}, false, true);
    step("msg format --raw on the EBCDIC catalog -> " + hex(raw.text, 12));
    auto back = msg_ops::format(ecat, "AB", 42, {"C:", "17"}, false, false);
    step("  translated for the screen -> " + in_quotes(back.text));
    check(back.text == "AB00042E - Disk C: has 17 blocks free.", "EBCDIC message 42");
}

void xlate_demo(const work_folder &w) {
    section("Character translation");
    std::string text = "Hello, [kwutil] 42!";
    std::string ebc = text;
    KW_memxlt(reinterpret_cast<unsigned char *>(ebc.data()), KW_xlate_ASC_EBC, static_cast<std::uint32_t>(ebc.size()));
    step(in_quotes(text) + " in EBCDIC: " + hex(ebc, 19));
    stream_ops::translate(w.file("app.ini"), w.file("app.ebc"), true);
    stream_ops::translate(w.file("app.ebc"), w.file("app.back"), false);
    const bool same = read_all(w.file("app.ini")) == read_all(w.file("app.back"));
    step(std::string("xlate --to ebcdic app.ini, then --to ascii -> ") + (same ? "identical" : "DIFFERENT"));
    check(same, "xlate round trip");
}

void utilities_demo(const work_folder &w) {
    section("Utilities: story.txt");
    const std::string story = w.file("story.txt");
    const std::string text = read_all(story);
    pack_stream(story, w.file("story.kwp"), 2);
    const auto packed = read_all(w.file("story.kwp")).size();
    step("pack story.txt -> " + std::to_string(text.size()) + " bytes packed into " + std::to_string(packed) + " (" +
         std::to_string(packed * 100 / std::max<std::size_t>(1, text.size())) + "%)");
    unpack_stream(w.file("story.kwp"), w.file("story.out"), 2);
    const bool restored = read_all(w.file("story.out")) == text;
    step(std::string("unpack -> ") + (restored ? "identical to story.txt, checksum verified" : "DIFFERENT"));
    check(restored, "pack round trip");

    stream_ops::scramble(story, w.file("story.scr"), false);
    const std::string scr = read_all(w.file("story.scr"));
    std::size_t changed = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != scr[i]) {
            ++changed;
        }
    }
    stream_ops::scramble(w.file("story.scr"), w.file("story.unscr"), true);
    const bool unscrambled = read_all(w.file("story.unscr")) == text;
    step("scramble -> " + std::to_string(changed) + " of " + std::to_string(text.size()) +
         " bytes changed; unscramble -> " + (unscrambled ? "identical" : "DIFFERENT"));
    check(unscrambled, "scramble round trip");

    const auto n = stream_ops::count("the", story);
    step("count the story.txt -> " + std::to_string(n) + " occurrences");
    const auto aa = stream_ops::count("aa", w.file("story.txt"));
    step("count aa story.txt -> " + std::to_string(aa) + " (overlapping ones count: 'aaa' holds two)");

    const unsigned char pattern[] = "KW_*";
    const unsigned char name[] = "KW_ini_open";
    step(std::string("wildcard match 'KW_*' against 'KW_ini_open' -> ") +
         (KW_strcmp_wildcards(name, pattern) ? "match" : "no match"));
    step("readline: kwtool readline reads a line at the console with echo and Backspace (not run here)");
}

void run_demo(const std::string &samples_arg) {
    const std::string samples = samples_arg.empty() ? default_samples() : samples_arg;
    work_folder w;
    for (const char *name : {"app.ini", "messages.txt", "story.txt"}) {
        std::error_code ec;
        fs::copy_file(fs::path(samples) / name, w.path() / name, ec);
        if (ec) {
            fail(kExitBadInput, located((fs::path(samples) / name).string(), 0, "cannot copy: " + ec.message()));
        }
    }
    std::printf("kwtool demo: samples from %s, worked on as copies in %s\n", samples.c_str(), w.path().string().c_str());
    ini_demo(w);
    msg_demo(w, samples);
    xlate_demo(w);
    utilities_demo(w);
    std::printf("\nEvery step checked; the samples are unchanged.\n");
}

}  // namespace

void add_demo_command(CLI::App &app) {
    auto samples = std::make_shared<std::string>();
    auto *demo = app.add_subcommand("demo", "Walk through every family on the bundled samples");
    demo->add_option("--samples", *samples, "folder of the samples (default: the installed ones)");
    demo->footer("Works on copies in a temporary folder; the samples are never changed.");
    demo->callback([samples] { run_demo(*samples); });
}

}  // namespace kwtool
