// kwtool msg: compile catalog sources, dump catalogs back to source, and
// format one message through the library's bounded packed-list formatter.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

#include "catalog_compiler.h"
#include "commands.h"
#include "file_io.h"
#include "kwutil.hpp"
#include "msg_ops.h"

namespace kwtool {

namespace msg_ops {

namespace {

constexpr std::size_t kMaxSource = 16u << 20;

std::string upper(std::string s) {
    for (char &c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

// One command-line argument as the packed-list field its specifier takes.
void add_argument(kw::packed_args &list, const catalog::specifier &sp, const std::string &arg, const std::string &key) {
    const std::string what = "message " + key + ", argument " + std::to_string(sp.position) + " (" + sp.text + ")";
    if (sp.conversion == 's') {
        if (!list.add_text(arg)) {
            fail(kExitBadInput, what + ": a text argument is at most 255 bytes");
        }
        return;
    }
    if (sp.conversion == 'c' && arg.size() == 1) {
        list.add_number(static_cast<unsigned char>(arg[0]));
        return;
    }
    const auto v = parse_integer(arg);
    if (!v || *v < INT32_MIN || *v > static_cast<std::int64_t>(UINT32_MAX)) {
        fail(kExitBadInput, what + ": '" + arg + "' is not a 32-bit number");
    }
    list.add_number(static_cast<std::int32_t>(static_cast<std::uint32_t>(*v)));
}

}  // namespace

compiled compile_file(const std::string &source, const std::string &catalog_path, bool ebcdic,
                      const write_options &opts, bool check_only) {
    input in(source);
    std::string text(kMaxSource + 1, '\0');
    text.resize(in.read_full(reinterpret_cast<unsigned char *>(text.data()), text.size()));
    if (text.size() > kMaxSource) {
        fail(kExitBadInput, located(in.name(), 0, "longer than " + std::to_string(kMaxSource) + " bytes"));
    }
    std::vector<catalog::diagnostic> errors;
    const auto bytes = catalog::compile(text, in.name(), ebcdic, errors);
    if (!bytes) {
        std::fflush(stdout);
        for (const auto &e : errors) {
            std::fprintf(stderr, "%s:%lu:%zu: %s\n", in.name().c_str(), e.line, e.column, e.cause.c_str());
        }
        fail(kExitBadInput, located(in.name(), 0,
                                    std::to_string(errors.size()) + (errors.size() == 1 ? " error" : " errors") +
                                        ", no catalog written"));
    }
    compiled c;
    c.bytes = bytes->size();
    c.messages = (static_cast<std::size_t>(static_cast<unsigned char>((*bytes)[8])) << 8) |
                 static_cast<unsigned char>((*bytes)[9]);
    if (check_only) {
        return c;
    }
    write_options w = opts;
    w.binary = true;
    output out(catalog_path, w, &in);
    out.write(bytes->data(), bytes->size());
    out.commit();
    return c;
}

std::string dump_file(const std::string &catalog_path) {
    const std::string bytes = read_small_file(catalog_path, catalog::kMaxCatalog);
    return catalog::dump(catalog::read(bytes, display_name(catalog_path, false)));
}

formatted format(const std::string &catalog_path, const std::string &appid, std::uint16_t number,
                 const std::vector<std::string> &args, bool strip_key, bool raw) {
    const std::string name = display_name(catalog_path, false);
    const catalog::catalog_file cat = catalog::read(read_small_file(catalog_path, catalog::kMaxCatalog), name);
    if (appid.size() != 2) {
        fail(kExitBadInput, "the application ID is 2 characters, not '" + appid + "'");
    }
    const std::string own = cat.by_key.front().text.substr(0, 2);
    if (upper(appid) != own) {
        fail(kExitNotFound, located(name, 0, "holds the messages of application " + own + ", not " + upper(appid)));
    }

    formatted r;
    r.key = catalog::make_key(upper(appid), number);
    r.ebcdic = cat.encoding == catalog::kEncodingEbcdic;
    const catalog::message *m = catalog::find(cat, r.key);
    r.found = m != nullptr;

    // The not-found entry takes the number itself, whether it stands in for
    // a missing message or was asked for by its own number.
    kw::packed_args list;
    if (m != nullptr && m != &cat.by_key.front()) {
        std::string why;
        auto specs = catalog::scan_specifiers(m->text, why);
        if (!specs) {
            fail(kExitBadInput, located(name, 0, "message " + r.key + ": " + why));
        }
        std::sort(specs->begin(), specs->end(),
                  [](const catalog::specifier &a, const catalog::specifier &b) { return a.position < b.position; });
        if (specs->size() != args.size()) {
            std::string list_text;
            for (const auto &sp : *specs) {
                list_text += (list_text.empty() ? "" : " ") + sp.text;
            }
            fail(kExitBadInput, "message " + r.key + " takes " + std::to_string(specs->size()) + " argument" +
                                    (specs->size() == 1 ? "" : "s") + (specs->empty() ? "" : " (" + list_text + ")") +
                                    ", " + std::to_string(args.size()) + " given");
        }
        for (std::size_t i = 0; i < specs->size(); ++i) {
            add_argument(list, (*specs)[i], args[i], r.key);
        }
    }

    kw::catalog handle;
    if (const auto ec = handle.open(catalog_path)) {
        fail(kExitBadInput, located(name, 0, "cannot open the catalog: " + ec.message()));
    }
    auto res = handle.format(appid, number, list, strip_key ? KW_MSG_STRIP_KEY : 0);
    if (res.error) {
        fail(kExitBadInput, located(name, 0, "cannot format " + r.key + ": " + res.error.message()));
    }
    r.text = std::move(res.value);
    if (r.ebcdic && !raw) {
        KW_memxlt(reinterpret_cast<unsigned char *>(r.text.data()), KW_xlate_EBC_ASC,
                  static_cast<std::uint32_t>(r.text.size()));
    }
    return r;
}

}  // namespace msg_ops

void add_msg_commands(CLI::App &app) {
    struct args {
        std::string source;
        std::string catalog;
        std::string catalog_opt;
        std::string to = "ascii";
        bool ebcdic = false;
        bool force = false;
        bool check = false;
        std::string appid;
        std::uint64_t number = 0;
        std::vector<std::string> values;
        bool strip = false;
        bool raw = false;
    };
    auto a = std::make_shared<args>();

    auto *msg = app.add_subcommand("msg", "Compile, dump and format message catalogs");
    msg->require_subcommand(1);

    auto *compile = msg->add_subcommand("compile", "Compile a catalog source into a catalog file");
    compile->add_option("SOURCE", a->source, "source text, - for standard input")->required();
    compile->add_option("CATALOG", a->catalog, "the catalog file to write, - for standard output");
    compile->add_option("-o,--output", a->catalog_opt, "the catalog, as CATALOG")->type_name("OUT");
    compile->add_option("--to", a->to, "the encoding of the catalog's texts and keys")
        ->check(CLI::IsMember({"ascii", "ebcdic"}))
        ->capture_default_str();
    // The spelling before --to took its place, still accepted.
    compile->add_flag("--ebcdic", a->ebcdic)->group("");
    compile->add_flag("-f,--force", a->force, "replace an existing catalog; write it to a terminal");
    compile->add_flag("--check", a->check, "check the source and write nothing");
    compile->footer(
        "Source: one message a line, beginning with its key (application ID of two upper-case letters or\n"
        "digits, then five digits, 00000 to 65535), e.g.  AB00042E - Disk %1!s! has %2!d! blocks free.\n"
        "'#' at the start of a line is a comment; \\n \\t \\\\ are escapes. Specifiers: %position!-0width.precision\n"
        "l conversion!, positions 1..9 without gaps, conversions c s d o u x X, %% for a percent sign.\n"
        "The message with the smallest key is the not-found entry: it takes the number as %1! (numeric).\n"
        "Every faulty line is reported, as FILE:LINE:COLUMN: cause, then their number.");
    compile->callback([a] {
        if (!a->catalog.empty() && !a->catalog_opt.empty()) {
            fail(kExitBadInput, "the catalog is given twice (CATALOG and -o name one output)");
        }
        const std::string out = a->catalog.empty() ? a->catalog_opt : a->catalog;
        if (out.empty() && !a->check) {
            fail(kExitBadInput, "give the catalog to write (CATALOG or -o), or --check");
        }
        if (!out.empty() && a->check) {
            fail(kExitBadInput, "--check writes nothing: give no catalog");
        }
        write_options w;
        w.force = a->force;
        msg_ops::compile_file(a->source, out, a->ebcdic || a->to == "ebcdic", w, a->check);
    });

    auto *dump = msg->add_subcommand("dump", "Print a catalog's header and messages as source text");
    dump->add_option("CATALOG", a->catalog, "catalog file")->required();
    dump->callback([a] {
        const std::string text = msg_ops::dump_file(a->catalog);
        std::fwrite(text.data(), 1, text.size(), stdout);
    });

    auto *format = msg->add_subcommand("format", "Format one message with its arguments");
    format->add_option("CATALOG", a->catalog, "catalog file")->required();
    format->add_option("APPID", a->appid, "application ID, 2 characters (case-blind)")->required();
    format->add_option("NUMBER", a->number, "message number, 0 to 65535")->required();
    format->add_option("ARG", a->values, "arguments in position order");
    format->add_flag("--strip-key", a->strip, "drop the first 11 characters (the key and what follows it)");
    format->add_flag("--raw", a->raw, "print an EBCDIC catalog's text as EBCDIC bytes, untranslated, then a line "
                                   "feed (no CR on Windows either)");
    format->footer("Each argument is a text for %s and a number for the other conversions (decimal, or 0x\n"
                   "hexadecimal); for %c a single character stands for itself. A number the catalog does not\n"
                   "hold prints the not-found entry and exits with status 1. Put -- before the arguments when a\n"
                   "text begins with '-':  kwtool msg format CAT AB 7 -- -x");
    format->callback([a] {
        if (a->number > 65535) {
            fail(kExitBadInput, "message number " + std::to_string(a->number) +
                                    " is above 65,535, the largest a catalog can hold");
        }
        const auto r = msg_ops::format(a->catalog, a->appid, static_cast<std::uint16_t>(a->number), a->values,
                                       a->strip, a->raw);
        if (a->raw) {
            // EBCDIC bytes are not text to this platform: a text-mode stream
            // would put a CR before each 0x0A among them.
            binary_stdout();
        }
        std::fwrite(r.text.data(), 1, r.text.size(), stdout);
        std::fputc('\n', stdout);
        if (!r.found) {
            std::fflush(stdout);
            std::fprintf(stderr, "kwtool: %s: no message %s; the not-found entry stands in\n",
                         display_name(a->catalog, false).c_str(), r.key.c_str());
            exit_status() = kExitNotFound;
        }
    });
}

}  // namespace kwtool
