// kwtool ini: read and edit configuration files through the INI engine.
// Edits go through KW_ini_insert/replace/delete and KW_ini_write, so every
// line that is not edited is written back exactly as it was read.
#include <cstdio>
#include <memory>
#include <string>

#include "cli.h"

#include "commands.h"
#include "file_io.h"
#include "ini_ops.h"

namespace kwtool {

namespace {

struct ini_args {
    std::string file;
    std::string section;
    std::string key;
    std::string value;
    bool strict = false;
    bool all = false;
};

void print_line(const std::string &text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

void warn(const std::string &warning) {
    if (!warning.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "kwtool: %s\n", warning.c_str());
    }
}

ini_ops::dialect dialect_of(const ini_args &a) {
    return a.strict ? ini_ops::dialect::strict : ini_ops::dialect::common;
}

void add_strict(CLI::App *cmd, ini_args &a) {
    cmd->add_flag("--strict", a.strict,
                  "Read the file in the INI engine's own dialect: only ';' starts a comment, nothing is trimmed, a "
                  "line may not begin with a space and is read in pieces of 255 bytes");
}

void add_file(CLI::App *cmd, ini_args &a, bool reading) {
    cmd->add_option("FILE", a.file, reading ? "INI file, or - for standard input" : "INI file")->required();
}

void add_section(CLI::App *cmd, ini_args &a, const char *help) {
    cmd->add_option("SECTION", a.section, help)->required();
}

}  // namespace

void add_ini_commands(CLI::App &app) {
    auto *ini = app.add_subcommand("ini", "Read and edit INI configuration files");
    ini->require_subcommand(1);
    ini->footer(
        "SECTION and KEY are patterns: case-blind, '?' is one character, '*' ends the pattern. SECTION \"\" stands\n"
        "for the keys before the first section header. Files are read in the dialect real files are written in:\n"
        "';' and '#' start comments, blanks may indent a line, and names and values are read without the blanks\n"
        "around them ('Retry = 3' is the key 'Retry' with the value '3'); a line is read whole, whatever its\n"
        "length. --strict reads the INI engine's own dialect instead, where nothing is trimmed ('Retry = 3' has\n"
        "the key 'Retry ', found by 'Retry*'). Messages name the file's own line numbers.");

    auto a = std::make_shared<ini_args>();

    auto *get = ini->add_subcommand("get", "Print the value of a key, without the blanks around it and its line "
                                           "end (exit 1 when it is not there)");
    add_file(get, *a, true);
    add_section(get, *a, "section pattern");
    get->add_option("KEY", a->key, "key pattern")->required();
    add_strict(get, *a);
    get->footer("A key set more than once in its section: the first value is printed and the other lines are "
                "named on standard error.");
    get->callback([a] {
        auto f = ini_ops::open_for_reading(a->file, dialect_of(*a));
        std::string warning;
        const std::string value = ini_ops::get(f, a->file, a->section, a->key, &warning);
        warn(warning);
        print_line(value);
    });

    auto *set = ini->add_subcommand(
        "set", "Set a key: change the value of its line, else add a line after the section's last key, else "
               "append the section; the file is rewritten through the INI engine");
    add_file(set, *a, false);
    add_section(set, *a, "section pattern (a plain name when it must be created)");
    set->add_option("KEY", a->key, "key pattern (a plain name when it must be created)")->required();
    set->add_option("VALUE", a->value, "the new value")->required();
    set->add_flag("--all", a->all, "Set every line of a key that is set more than once in its section");
    add_strict(set, *a);
    set->footer("Only the value changes: the key as the file spells it, the blanks around '=' and the line end\n"
                "(CR LF stays CR LF) are kept. A new key takes the indentation and the separator of the key line\n"
                "it follows (in the strict dialect always KEY=VALUE) and the file's line end. A key set more than\n"
                "once in its section is refused (exit 2) unless --all.");
    set->callback([a] {
        auto f = ini_ops::open_for_editing(a->file, dialect_of(*a));
        ini_ops::set(f, a->file, a->section, a->key, a->value, a->all);
        ini_ops::write_back(f, a->file);
    });

    auto *del = ini->add_subcommand("del", "Delete a key's line, or without KEY a whole section (exit 1 when "
                                           "there is none)");
    add_file(del, *a, false);
    add_section(del, *a, "section pattern");
    del->add_option("KEY", a->key, "key pattern; without it the section's header and every line up to the next "
                                   "header go");
    del->add_flag("--all", a->all, "Delete every line of a key set more than once, or every matching section");
    add_strict(del, *a);
    del->footer("A key set more than once in its section, or a SECTION that matches several sections, is\n"
                "refused (exit 2) unless --all. SECTION \"\" without KEY deletes every line before the first header.");
    del->callback([a, del] {
        auto f = ini_ops::open_for_editing(a->file, dialect_of(*a));
        if (del->count("KEY") != 0) {
            ini_ops::del(f, a->file, a->section, a->key, a->all);
        } else {
            ini_ops::del_section(f, a->file, a->section, a->all);
        }
        ini_ops::write_back(f, a->file);
    });

    auto *list = ini->add_subcommand("list", "Print every line with the file's line number and its type");
    add_file(list, *a, true);
    add_strict(list, *a);
    list->callback([a] {
        auto f = ini_ops::open_for_reading(a->file, dialect_of(*a));
        for (const auto &l : ini_ops::list(f)) {
            std::printf("%5lu  %-7s  ", l.number, l.type.c_str());
            print_line(l.text);
        }
    });

    auto *tokens = ini->add_subcommand("tokens", "Print a key's value split at its commas, one token a line");
    add_file(tokens, *a, true);
    add_section(tokens, *a, "section pattern");
    tokens->add_option("KEY", a->key, "key pattern")->required();
    add_strict(tokens, *a);
    tokens->callback([a] {
        auto f = ini_ops::open_for_reading(a->file, dialect_of(*a));
        std::string warning;
        const auto parts = ini_ops::tokens(f, a->file, a->section, a->key, &warning);
        warn(warning);
        for (const auto &t : parts) {
            print_line(t);
        }
    });
}

}  // namespace kwtool
