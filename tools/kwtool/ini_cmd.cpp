// kwtool ini: read and edit configuration files through the INI engine.
// Edits go through KW_ini_insert/replace/delete and KW_ini_write, so every
// line that is not edited is written back exactly as it was read.
#include <cstdio>
#include <memory>
#include <string>

#include "cli.h"

#include "commands.h"
#include "ini_ops.h"
#include "io.h"

namespace kwtool {

namespace {

struct ini_args {
    std::string file;
    std::string section;
    std::string key;
    std::string value;
};

void print_line(const std::string &text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace

void add_ini_commands(CLI::App &app) {
    auto *ini = app.add_subcommand("ini", "Read and edit INI configuration files");
    ini->require_subcommand(1);
    ini->footer("SECTION and KEY are patterns: case-blind, '?' is one character, '*' ends the pattern.\n"
                "Names are not trimmed: 'Retry = 3' has the key 'Retry ' (match it with 'Retry*').");

    auto a = std::make_shared<ini_args>();

    auto *get = ini->add_subcommand("get", "Print the value of a key (exit 1 when it is not there)");
    get->add_option("FILE", a->file, "INI file")->required();
    get->add_option("SECTION", a->section, "section pattern")->required();
    get->add_option("KEY", a->key, "key pattern")->required();
    get->callback([a] {
        auto f = ini_ops::open_for_reading(a->file);
        print_line(ini_ops::get(f, a->file, a->section, a->key));
    });

    auto *set = ini->add_subcommand("set", "Set a key: replace its line, else add it at the end of its section, "
                                           "else append the section; the file is rewritten in place");
    set->add_option("FILE", a->file, "INI file")->required();
    set->add_option("SECTION", a->section, "section pattern (a plain name when it must be created)")->required();
    set->add_option("KEY", a->key, "key pattern (a plain name when it must be created)")->required();
    set->add_option("VALUE", a->value, "the new value")->required();
    set->callback([a] {
        auto f = ini_ops::open_for_editing(a->file);
        ini_ops::set(f, a->file, a->section, a->key, a->value);
        ini_ops::write_back(f, a->file);
    });

    auto *del = ini->add_subcommand("del", "Delete the first key line that matches (exit 1 when there is none)");
    del->add_option("FILE", a->file, "INI file")->required();
    del->add_option("SECTION", a->section, "section pattern")->required();
    del->add_option("KEY", a->key, "key pattern")->required();
    del->callback([a] {
        auto f = ini_ops::open_for_editing(a->file);
        ini_ops::del(f, a->file, a->section, a->key);
        ini_ops::write_back(f, a->file);
    });

    auto *list = ini->add_subcommand("list", "Print every line with its number and type");
    list->add_option("FILE", a->file, "INI file")->required();
    list->callback([a] {
        auto f = ini_ops::open_for_reading(a->file);
        for (const auto &l : ini_ops::list(f)) {
            std::printf("%5u  %-7s  ", static_cast<unsigned>(l.number), l.type.c_str());
            print_line(l.text);
        }
    });

    auto *tokens = ini->add_subcommand("tokens", "Print a key's value split at its commas, one token a line");
    tokens->add_option("FILE", a->file, "INI file")->required();
    tokens->add_option("SECTION", a->section, "section pattern")->required();
    tokens->add_option("KEY", a->key, "key pattern")->required();
    tokens->callback([a] {
        auto f = ini_ops::open_for_reading(a->file);
        for (const auto &t : ini_ops::tokens(f, a->file, a->section, a->key)) {
            print_line(t);
        }
    });
}

}  // namespace kwtool
