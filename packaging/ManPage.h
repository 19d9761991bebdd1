#pragma once

#include <string>
#include <string_view>
#include <vector>

// quillon-cli(1) is made at build time from the program's own --help texts, so that every
// command and option the CLI knows is in the manual page without a second copy to keep.
// These functions turn that plain text into man(7) markup.
namespace quillon::manpage {

// One line of text as roff: a backslash as \e, every '-' as \- (so that options print as
// typed and are never hyphenated), and a line that would start with '.' or '\'' (a request
// to roff) guarded by \&.
std::string roffText(std::string_view line);

// A term of an option list or synopsis: words starting with '-' in bold, placeholders in
// capitals (FILE, MHZ, DB) in italics, the rest as it stands.
std::string roffTerm(std::string_view words);

// The command names of the main help's "Commands:" list (its lines indented by two blanks),
// in their order; empty when the list is missing.
std::vector<std::string> commandNames(std::string_view mainHelp);

// One command's --help text as a subsection: the "Usage:" lines as the synopsis, prose as
// filled paragraphs, indented lines ("  --time MS   capture time ...", with deeper-indented
// continuation lines) as a tagged list. A term ends at the first two blanks, so a help text
// sets its descriptions off by at least two; a line indented by two blanks that neither
// starts with '-' nor has such a gap is prose, one paragraph with the lines that follow it.
std::string commandSection(std::string_view name, std::string_view help);

// The main help's command list as a tagged list (name and arguments, then the summary).
std::string commandList(std::string_view mainHelp);

// The main help after the command list (the options every command takes, the exit statuses,
// the settings file) as paragraphs.
std::string mainNotes(std::string_view mainHelp);

// `text` with every "@KEY@" replaced by its value; a key without a value stays as it is.
std::string substitute(std::string text,
                       const std::vector<std::pair<std::string, std::string>> &values);

} // namespace quillon::manpage
