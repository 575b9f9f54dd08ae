// The manual page and the completion walk the same tree the parser uses:
// every visible subcommand with its positions and options. What cannot be
// derived (exit statuses, examples) is written here once.
#include "docgen.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"

#include "file_io.h"

namespace kwtool {

namespace {

struct command {
    std::string path;  // "msg compile"
    const CLI::App *app;
};

// Visible subcommands, depth first, parents before their children.
void collect(const CLI::App *app, const std::string &prefix, std::vector<command> &out) {
    for (const CLI::App *sub : app->get_subcommands([](const CLI::App *s) { return !s->get_group().empty(); })) {
        const std::string path = prefix.empty() ? sub->get_name() : prefix + " " + sub->get_name();
        out.push_back({path, sub});
        collect(sub, path, out);
    }
}

bool visible(const CLI::Option *o) { return !o->get_group().empty(); }

// Flags are options that expect no value.
bool takes_value(const CLI::Option *o) { return o->get_expected_max() != 0; }

// The value an option takes, as its help shows it ("OUT", "UINT"), without
// the validators' descriptions.
std::string value_name(const CLI::Option *o) {
    std::string t = o->get_type_name();
    const auto colon = t.find(':');
    return colon == std::string::npos ? t : t.substr(0, colon);
}

// The words of a set validator ("{ebcdic,ascii}"), for the completion.
std::vector<std::string> choices(const CLI::Option *o) {
    const std::string t = o->get_type_name();
    const auto open = t.find('{');
    const auto close = t.find('}', open == std::string::npos ? 0 : open);
    std::vector<std::string> words;
    if (open == std::string::npos || close == std::string::npos) {
        return words;
    }
    std::string w;
    for (std::size_t i = open + 1; i < close; ++i) {
        if (t[i] == ',') {
            words.push_back(w);
            w.clear();
        } else if (t[i] != ' ') {
            w += t[i];
        }
    }
    words.push_back(w);
    return words;
}

std::vector<std::string> dashed_names(const CLI::Option *o) {
    std::vector<std::string> names;
    for (const auto &s : o->get_snames()) {
        names.push_back("-" + s);
    }
    for (const auto &l : o->get_lnames()) {
        names.push_back("--" + l);
    }
    return names;
}

// Text for roff: backslashes and minus signs escaped, no line beginning
// with a control character.
std::string roff(const std::string &text) {
    std::string out;
    bool line_start = true;
    for (const char c : text) {
        if (line_start && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        line_start = c == '\n';
    }
    return out;
}

std::string synopsis(const command &c) {
    std::string s = "\\fBkwtool " + roff(c.path) + "\\fR";
    bool has_options = false;
    for (const CLI::Option *o : c.app->get_options(visible)) {
        if (o->nonpositional()) {
            has_options = true;
        }
    }
    if (has_options) {
        s += " [\\fIOPTIONS\\fR]";
    }
    for (const CLI::Option *o : c.app->get_options(visible)) {
        if (o->nonpositional()) {
            continue;
        }
        std::string p = "\\fI" + roff(o->get_name(true)) + "\\fR";
        if (o->get_items_expected_max() > 1) {
            p += "...";
        }
        s += o->get_required() ? " " + p : " [" + p + "]";
    }
    if (!c.app->get_subcommands({}).empty()) {
        s += " \\fICOMMAND\\fR";
    }
    return s;
}

void option_entry(std::string &out, const CLI::Option *o) {
    out += ".TP\n";
    if (o->nonpositional()) {
        std::string names;
        for (const auto &n : dashed_names(o)) {
            names += (names.empty() ? "" : ", ") + std::string("\\fB") + roff(n) + "\\fR";
        }
        if (takes_value(o)) {
            names += " \\fI" + roff(value_name(o)) + "\\fR";
        }
        out += names + "\n";
    } else {
        out += "\\fI" + roff(o->get_name(true)) + "\\fR\n";
    }
    std::string text = o->get_description();
    const auto set = choices(o);
    if (!set.empty()) {
        std::string list;
        for (const auto &w : set) {
            list += (list.empty() ? "" : ", ") + w;
        }
        text += " (one of: " + list + ")";
    }
    if (!o->get_default_str().empty() && takes_value(o)) {
        text += " [default: " + o->get_default_str() + "]";
    }
    out += roff(text) + "\n";
}

// A footer as a roff paragraph: its lines are cut for an 80-column
// terminal, the page fills its own.
void paragraph(std::string &out, const std::string &text) {
    if (text.empty()) {
        return;
    }
    std::string flowed = text;
    for (char &c : flowed) {
        if (c == '\n') {
            c = ' ';
        }
    }
    out += ".PP\n" + roff(flowed) + "\n";
}

constexpr const char *kExitStatus =
    ".TP\n.B 0\nsuccess\n"
    ".TP\n.B 1\nnot found: \\fBini get\\fR, \\fBini del\\fR or \\fBini tokens\\fR without a match, \\fBmsg format\\fR of a "
    "number the catalog does not hold (the not\\-found entry is printed) or against another application's catalog, "
    "\\fBcount\\fR of 0\n"
    ".TP\n.B 2\nusage or input error: bad arguments, an output that exists (without \\fB\\-f\\fR), unreadable or "
    "malformed files, damaged pack files, refused catalog sources, a full disk, an interrupted write\n"
    ".PP\nFor statuses 1 and 2 one line on standard error names the file and the cause; \\fBmsg compile\\fR "
    "prints one line for each error in the source, as \\fIFILE\\fR:\\fILINE\\fR:\\fICOLUMN\\fR: cause, then their "
    "number.\n";

constexpr const char *kOutputs =
    ".PP\nA named output that exists is refused unless \\fB\\-f\\fR is given, and an output that is the input "
    "is always refused. A device, a FIFO or a socket given as the output is written into, never replaced; a "
    "symbolic link is followed and its target written, the link stays. A regular file is written under a "
    "temporary name beside it and renamed over it only when the command succeeded: a failure, a full disk or an "
    "interrupt (SIGINT, SIGTERM, SIGHUP) leaves the old file as it was and no temporary file. A replaced file "
    "keeps its mode, owner and group (where a rename could not keep them, the finished content is copied into "
    "it in place); a new file takes the mode of the input, and \\fBpack\\fR and \\fBunpack\\fR also carry its "
    "times. Binary output to a terminal is refused unless \\fB\\-f\\fR.\n";

constexpr const char *kExamples =
    ".PP\nPack a file into \\fIreport.txt.kwp\\fR, keeping mode and times, then restore it:\n"
    ".PP\n.nf\n.RS\nkwtool pack report.txt\nkwtool unpack \\-f report.txt.kwp\n.RE\n.fi\n"
    ".PP\nCheck a packed file without writing anything:\n"
    ".PP\n.nf\n.RS\nkwtool unpack \\-t backup.kwp\n.RE\n.fi\n"
    ".PP\nPack a stream, smallest output, with a summary:\n"
    ".PP\n.nf\n.RS\ntar cf \\- dir | kwtool pack \\-9 \\-v > dir.tar.kwp\n.RE\n.fi\n"
    ".PP\nCompile a message catalog, checking the source first:\n"
    ".PP\n.nf\n.RS\nkwtool msg compile \\-\\-check messages.txt\n"
    "kwtool msg compile messages.txt \\-o messages.cat\n"
    "kwtool msg format messages.cat AB 42 disk0 17\n.RE\n.fi\n"
    ".PP\nRead and set an INI key:\n"
    ".PP\n.nf\n.RS\nkwtool ini get app.ini Network Retry\nkwtool ini set app.ini Network Retry 5\n.RE\n.fi\n";

std::string man_page(const CLI::App &app) {
    std::vector<command> cmds;
    collect(&app, "", cmds);
    std::string out;
    out += ".\\\" Generated by kwtool --generate man from its own option definitions.\n";
    out += ".TH KWTOOL 1 \"\" \"kwtool " KWTOOL_VERSION "\" \"User Commands\"\n";
    out += ".SH NAME\nkwtool \\- the kwutil library at the shell\n";
    out += ".SH SYNOPSIS\n";
    out += "\\fBkwtool\\fR [\\fB\\-h\\fR] [\\fB\\-V\\fR] \\fICOMMAND\\fR [\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]\n";
    for (const auto &c : cmds) {
        out += ".br\n" + synopsis(c) + "\n";
    }
    out += ".SH DESCRIPTION\n" + roff(app.get_description()) + "\n";
    out += ".PP\nA missing IN or OUT, or \\fB\\-\\fR, stands for standard input or output.\n";
    out += ".SH OPTIONS\n";
    for (const CLI::Option *o : app.get_options(visible)) {
        option_entry(out, o);
    }
    out += ".SH COMMANDS\n";
    for (const auto &c : cmds) {
        out += ".SS \"kwtool " + roff(c.path) + "\"\n";
        out += roff(c.app->get_description()) + "\n";
        out += ".PP\n" + synopsis(c) + "\n";
        for (const CLI::Option *o : c.app->get_options(visible)) {
            if (o != c.app->get_help_ptr()) {  // once, under OPTIONS
                option_entry(out, o);
            }
        }
        paragraph(out, c.app->get_footer());
    }
    out += ".SH OUTPUTS\n";
    out += kOutputs;
    out += ".SH EXIT STATUS\n";
    out += kExitStatus;
    out += ".SH EXAMPLES\n";
    out += kExamples;
    out += ".SH FILES\n.TP\n.I " KWTOOL_DATADIR "/kwutil/samples\nthe samples that \\fBkwtool demo\\fR uses\n";
    out += ".TP\n.I " KWTOOL_DOCDIR "\nthe documents: kwtool.md, pack\\-format.md, platforms.md, reliability.md\n";
    out += ".SH SEE ALSO\n\\fBgzip\\fR(1), \\fBzstd\\fR(1)\n";
    return out;
}

std::string shell_words(const std::vector<std::string> &words) {
    std::string s;
    for (const auto &w : words) {
        s += (s.empty() ? "" : " ") + w;
    }
    return s;
}

std::string completion(const CLI::App &app) {
    std::vector<command> cmds;
    cmds.push_back({"", &app});
    collect(&app, "", cmds);

    std::string paths;  // the case pattern of every subcommand path
    std::string per_command;
    std::string values;
    for (const auto &c : cmds) {
        std::string key = c.path;
        for (char &ch : key) {
            if (ch == ' ') {
                ch = '/';
            }
        }
        key = c.path.empty() ? "" : "/" + key;
        if (!c.path.empty()) {
            paths += (paths.empty() ? "" : "|") + key;
        }
        std::vector<std::string> opts;
        bool positionals = false;
        for (const CLI::Option *o : c.app->get_options(visible)) {
            if (!o->nonpositional()) {
                positionals = true;
                continue;
            }
            const auto names = dashed_names(o);
            opts.insert(opts.end(), names.begin(), names.end());
            if (takes_value(o)) {
                const auto set = choices(o);
                std::string pattern;
                for (const auto &n : names) {
                    pattern += (pattern.empty() ? "" : "|") + std::string("\"") + key + ":" + n + "\"";
                }
                if (!set.empty()) {
                    values += "        " + pattern + ") COMPREPLY=($(compgen -W \"" + shell_words(set) +
                              "\" -- \"$cur\")); return ;;\n";
                } else if (value_name(o) == "OUT" || value_name(o) == "DIR") {
                    values += "        " + pattern + ") COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames "
                              "2>/dev/null; return ;;\n";
                } else {
                    values += "        " + pattern + ") COMPREPLY=(); return ;;\n";
                }
            }
        }
        std::vector<std::string> subs;
        for (const CLI::App *s : c.app->get_subcommands([](const CLI::App *x) { return !x->get_group().empty(); })) {
            subs.push_back(s->get_name());
        }
        per_command += "        \"" + key + "\") opts=\"" + shell_words(opts) + "\"; subs=\"" + shell_words(subs) +
                       "\"; files=" + (positionals ? "1" : "0") + " ;;\n";
    }

    std::string out;
    out += "# bash completion for kwtool. Generated by kwtool --generate bash from its own option definitions.\n";
    out += "_kwtool() {\n";
    out += "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n";
    out += "    local path=\"\" i w opts=\"\" subs=\"\" files=0\n";
    out += "    for ((i = 1; i < COMP_CWORD; i++)); do\n";
    out += "        w=\"${COMP_WORDS[i]}\"\n";
    out += "        case \"$path/$w\" in\n";
    out += "            " + paths + ") path=\"$path/$w\" ;;\n";
    out += "        esac\n";
    out += "    done\n";
    out += "    case \"$path:$prev\" in\n";
    out += values;
    out += "    esac\n";
    out += "    case \"$path\" in\n";
    out += per_command;
    out += "    esac\n";
    out += "    if [[ \"$cur\" == -* ]]; then\n";
    out += "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n";
    out += "    elif [[ -n \"$subs\" ]]; then\n";
    out += "        COMPREPLY=($(compgen -W \"$subs\" -- \"$cur\"))\n";
    out += "    elif ((files)); then\n";
    out += "        COMPREPLY=($(compgen -f -- \"$cur\"))\n";
    out += "        compopt -o filenames 2>/dev/null\n";
    out += "    fi\n";
    out += "}\n";
    out += "complete -F _kwtool kwtool\n";
    return out;
}

}  // namespace

int generate_docs(const CLI::App &app, const std::string &what) {
    std::string text;
    if (what == "man") {
        text = man_page(app);
    } else if (what == "bash") {
        text = completion(app);
    } else {
        std::fprintf(stderr, "kwtool: --generate takes man or bash, not '%s'\n", what.c_str());
        return kExitBadInput;
    }
    binary_stdout();  // the same bytes on every platform
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitBadInput;
}

}  // namespace kwtool
