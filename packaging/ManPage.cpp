#include "ManPage.h"

#include <cctype>
#include <sstream>

namespace quillon::manpage {

namespace {

std::vector<std::string> lines(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        out.emplace_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return out;
}

std::size_t indentOf(const std::string &line)
{
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? line.size() : first;
}

bool blank(const std::string &line)
{
    return indentOf(line) == line.size();
}

// Runs of blanks as one (a filled paragraph keeps the blanks it is given).
std::string squeezed(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool isPlaceholder(std::string_view word)
{
    bool letter = false;
    for (char c : word) {
        if (std::islower(static_cast<unsigned char>(c)))
            return false;
        letter = letter || std::isupper(static_cast<unsigned char>(c));
    }
    return letter;
}

// Where the term of an option line ends: the first run of two or more blanks after it.
std::size_t termEnd(const std::string &line, std::size_t from)
{
    const std::size_t gap = line.find("  ", from);
    return gap == std::string::npos ? line.size() : gap;
}

// A line indented by two blanks is a list item when it names an option or has a term set off
// by a gap; without either it is running prose ("  Each result gets a verdict by ...").
bool isItem(const std::string &line)
{
    return line.compare(2, 1, "-") == 0 || termEnd(line, 2) != line.size();
}

// The lines of the "Commands:" list: after that heading, up to the first line not indented.
std::vector<std::string> commandLines(std::string_view mainHelp)
{
    std::vector<std::string> out;
    bool inList = false;
    for (const std::string &line : lines(mainHelp)) {
        if (line == "Commands:") {
            inList = true;
            continue;
        }
        if (!inList)
            continue;
        if (blank(line) || indentOf(line) != 2)
            break;
        out.push_back(line);
    }
    return out;
}

// Backslashes and hyphens escaped; nothing else changes, so pieces can be joined.
std::string escaped(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

// A line that would start with '.' or '\'' (a request to roff) guarded by \&.
std::string guarded(std::string line)
{
    return !line.empty() && (line.front() == '.' || line.front() == '\'') ? "\\&" + line : line;
}

} // namespace

std::string roffText(std::string_view line)
{
    return guarded(escaped(line));
}

std::string roffTerm(std::string_view words)
{
    std::istringstream in{std::string(words)};
    std::string word, out;
    while (in >> word) {
        if (!out.empty())
            out += ' ';
        // Brackets and a trailing comma or "..." stay roman around the word they enclose.
        std::size_t begin = word.find_first_not_of("[(|");
        std::size_t end = word.find_last_not_of("]),.");
        if (begin == std::string::npos || end == std::string::npos || end < begin) {
            out += escaped(word);
            continue;
        }
        const std::string core = word.substr(begin, end - begin + 1);
        const char *font = core.front() == '-' ? "\\fB" : isPlaceholder(core) ? "\\fI" : nullptr;
        out += escaped(word.substr(0, begin));
        out += font != nullptr ? font + escaped(core) + "\\fR" : escaped(core);
        out += escaped(word.substr(end + 1));
    }
    return guarded(out);
}

std::vector<std::string> commandNames(std::string_view mainHelp)
{
    std::vector<std::string> names;
    for (const std::string &line : commandLines(mainHelp)) {
        const std::size_t end = line.find(' ', 2);
        names.push_back(line.substr(2, end == std::string::npos ? end : end - 2));
    }
    return names;
}

std::string commandList(std::string_view mainHelp)
{
    std::string out;
    for (const std::string &line : commandLines(mainHelp)) {
        const std::size_t end = termEnd(line, 2);
        out += ".TP\n" + roffTerm(line.substr(2, end - 2)) + "\n" +
               roffText(squeezed(line.substr(std::min(end, line.size())))) + "\n";
    }
    return out;
}

std::string mainNotes(std::string_view mainHelp)
{
    const std::vector<std::string> all = lines(mainHelp);
    std::size_t i = 0;
    while (i < all.size() && all[i] != "Commands:")
        ++i;
    while (i < all.size() && !blank(all[i]))
        ++i;
    std::string out;
    bool paragraph = false;
    for (; i < all.size(); ++i) {
        if (blank(all[i])) {
            paragraph = false;
            continue;
        }
        if (!paragraph)
            out += ".PP\n";
        paragraph = true;
        out += roffText(squeezed(all[i])) + "\n";
    }
    return out;
}

std::string commandSection(std::string_view name, std::string_view help)
{
    const std::vector<std::string> all = lines(help);
    std::string out;
    std::size_t i = 0;

    // The synopsis: "Usage: quillon-cli NAME ..." and the further forms indented below it.
    std::vector<std::string> synopsis;
    while (i < all.size() && (all[i].rfind("Usage: ", 0) == 0 ||
                              (!synopsis.empty() && indentOf(all[i]) > 2 && !blank(all[i])))) {
        synopsis.push_back(squeezed(all[i].substr(all[i].rfind("Usage: ", 0) == 0 ? 7 : 0)));
        ++i;
    }
    out += ".SS " + roffText(name) + "\n";
    for (std::size_t s = 0; s < synopsis.size(); ++s)
        out += (s == 0 ? "" : ".br\n") + roffTerm(synopsis[s]) + "\n";

    // The body. `state` says what the last line opened: nothing, a paragraph, or a list item.
    enum class State
    {
        None,
        Paragraph,
        Item
    } state = State::None;
    bool gap = !synopsis.empty();
    for (; i < all.size(); ++i) {
        const std::string &line = all[i];
        if (blank(line)) {
            gap = true;
            continue;
        }
        const std::size_t indent = indentOf(line);
        if (indent == 2 && isItem(line)) {
            const std::size_t end = termEnd(line, 2);
            out += ".TP\n" + roffTerm(line.substr(2, end - 2)) + "\n";
            const std::string rest = squeezed(line.substr(std::min(end, line.size())));
            if (!rest.empty())
                out += roffText(rest.substr(rest.find_first_not_of(' '))) + "\n";
            state = State::Item;
        } else if (indent > 2 && state == State::Item) {
            out += roffText(squeezed(line.substr(indent))) + "\n";
        } else {
            // Prose after a list or a blank line starts a new paragraph at the left margin;
            // indented prose too, level with the list's terms as in the help.
            if (state != State::Paragraph || gap)
                out += ".PP\n";
            out += roffText(squeezed(line.substr(indent))) + "\n";
            state = State::Paragraph;
        }
        gap = false;
    }
    return out;
}

std::string substitute(std::string text,
                       const std::vector<std::pair<std::string, std::string>> &values)
{
    for (const auto &[key, value] : values) {
        const std::string marker = "@" + key + "@";
        for (std::size_t at = text.find(marker); at != std::string::npos;
             at = text.find(marker, at + value.size()))
            text.replace(at, marker.size(), value);
    }
    return text;
}

} // namespace quillon::manpage
