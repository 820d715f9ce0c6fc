// Writes the manual page of a program from a page template and the program's own
// texts, so the page's options can never drift from the parser's:
//   the synopsis     from the usage message the program prints when it is run
//                    without arguments (the lines from "usage:" to "(--help");
//   the description  from the first paragraph of its --help;
//   the options      from the option lines of its --help (an option, its value's
//                    type, two or more spaces or a new line, its description);
//                    a value is named as the synopsis names it, else by its type.
// The template is groff with lines @SYNOPSIS@, @DESCRIPTION@ and @OPTIONS@ that are
// replaced; each KEY=VALUE given replaces @KEY@ anywhere (@VERSION@, @DATE@, paths).
//
//   make_manpage PROGRAM TEMPLATE OUTPUT [KEY=VALUE...]
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Option {
  std::string names;  // "--mask" or "-h,--help"
  bool takesValue = false;
  std::string type;  // CLI11's "TEXT:COUNT" or "TEXT"
  std::string text;
};

// Runs a shell command line, its standard error joined to its standard output;
// false when it could not be run or did not exit.
bool Capture(const std::string& command, std::string* out, int* status) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return false;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
  const int raw = ::pclose(pipe);
  if (raw == -1 || !WIFEXITED(raw)) return false;
  *status = WEXITSTATUS(raw);
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::size_t Indent(const std::string& s) {
  const std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? s.size() : b;
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> words;
  std::istringstream in(s);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// groff text: backslashes printed, no control character at the start of a line.
std::string Roman(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\\' ? std::string("\\e") : std::string(1, c);
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

// An option name as typed: every hyphen a minus sign, in bold.
std::string Typed(const std::string& name) {
  std::string out = "\\fB";
  for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out + "\\fR";
}

// A value: a placeholder (F, N, DIR, MANIFEST.csv) in italics, literal choices
// (transport|membrane, 1|2) in bold.
std::string Value(const std::string& value) {
  bool placeholder = false;
  for (char c : value) placeholder = placeholder || std::isupper(static_cast<unsigned char>(c));
  if (placeholder) return "\\fI" + Roman(value) + "\\fR";
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = value.find('|', start);
    out += "\\fB" + Roman(value.substr(start, bar - start)) + "\\fR";
    if (bar == std::string::npos) return out;
    out += "|";
    start = bar + 1;
  }
}

bool IsOptionName(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word.back()));
}

// Prose with the option names in it typed as options.
std::string Prose(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const bool atWord = i == 0 || text[i - 1] == ' ' || text[i - 1] == '(';
    if (atWord && text.compare(i, 2, "--") == 0 && i + 2 < text.size() &&
        std::isalpha(static_cast<unsigned char>(text[i + 2]))) {
      std::size_t end = i + 2;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-'))
        ++end;
      out += Typed(text.substr(i, end - i));
      i = end;
    } else {
      out += text[i] == '\\' ? std::string("\\e") : std::string(1, text[i]);
      ++i;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

struct Synopsis {
  std::vector<std::string> forms;             // one per way of calling the program
  std::map<std::string, std::string> values;  // option -> its value's name
};

// "usage: prog --a F [--b N]\n       [--c]\n       prog --d ...\n(--help ...)"
bool ReadSynopsis(const std::string& message, const std::string& program, Synopsis* synopsis,
                  std::string* why) {
  const std::vector<std::string> lines = Lines(message);
  std::size_t i = 0;
  while (i < lines.size() && lines[i].rfind("usage: ", 0) != 0) ++i;
  if (i == lines.size()) {
    *why = "no line starting with 'usage: ' in what the program printed without arguments";
    return false;
  }
  std::vector<std::vector<std::string>> forms;
  for (bool first = true; i < lines.size(); ++i, first = false) {
    std::string line = lines[i];
    if (first) line = line.substr(7);
    if (Trim(line).rfind("(--help", 0) == 0 || Trim(line).empty()) break;
    std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    if (words[0] == program) {
      forms.emplace_back(words.begin() + 1, words.end());
    } else if (!forms.empty()) {
      forms.back().insert(forms.back().end(), words.begin(), words.end());
    } else {
      *why = "the usage message does not start with the program's name '" + program + "'";
      return false;
    }
  }
  for (const std::vector<std::string>& words : forms) {
    std::string form;
    bool valueMayFollow = false;
    std::string lastOption;
    for (const std::string& word : words) {
      std::size_t open = 0, close = word.size();
      while (open < close && word[open] == '[') ++open;
      while (close > open && word[close - 1] == ']') --close;
      const std::string core = word.substr(open, close - open);
      std::string shown;
      bool valueJoined = false;
      if (IsOptionName(core)) {
        shown = Typed(core);
        lastOption = core;
        valueMayFollow = close == word.size();
      } else if (valueMayFollow && open == 0) {
        shown = Value(core);
        valueJoined = true;
        synopsis->values.emplace(lastOption, core);
        valueMayFollow = false;
      } else {
        shown = "\\fI" + Roman(core) + "\\fR";
        valueMayFollow = false;
      }
      // An option and its value stay on one line.
      if (!form.empty()) form += valueJoined ? "\\~" : " ";
      form += word.substr(0, open) + shown + word.substr(close);
    }
    synopsis->forms.push_back(form);
  }
  if (synopsis->forms.empty()) {
    *why = "the usage message names no way of calling the program";
    return false;
  }
  return true;
}

// CLI11's help: a description, "Usage: ...", "Options:", then option lines.
bool ReadHelp(const std::string& help, std::string* description, std::vector<Option>* options,
              std::string* why) {
  const std::vector<std::string> lines = Lines(help);
  std::size_t i = 0;
  for (; i < lines.size() && lines[i].rfind("Usage:", 0) != 0; ++i) {
    if (!description->empty()) *description += ' ';
    *description += Trim(lines[i]);
  }
  while (i < lines.size() && Trim(lines[i]) != "Options:") ++i;
  if (i == lines.size()) {
    *why = "no 'Options:' line in the --help text";
    return false;
  }
  std::size_t optionIndent = 0;
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string trimmed = Trim(line);
    if (trimmed.empty()) continue;
    if (trimmed[0] == '-' && (options->empty() || Indent(line) <= optionIndent)) {
      optionIndent = Indent(line);
      Option o;
      std::size_t end = optionIndent;
      while (end < line.size() && line[end] != ' ') ++end;
      o.names = line.substr(optionIndent, end - optionIndent);
      // One space before the value's type, two or more before the description.
      std::size_t rest = end;
      if (rest + 1 < line.size() && line[rest] == ' ' && line[rest + 1] != ' ') {
        std::size_t typeEnd = rest + 1;
        while (typeEnd < line.size() && line[typeEnd] != ' ') ++typeEnd;
        o.takesValue = true;
        o.type = line.substr(rest + 1, typeEnd - rest - 1);
        rest = typeEnd;
      }
      o.text = Trim(line.substr(rest));
      options->push_back(o);
    } else if (!options->empty() && Indent(line) > optionIndent) {
      Option& o = options->back();
      o.text += (o.text.empty() ? "" : " ") + trimmed;
    } else {
      *why = "cannot read the --help line '" + line + "'";
      return false;
    }
  }
  if (options->empty()) {
    *why = "the --help text lists no options";
    return false;
  }
  return true;
}

std::string OptionEntries(const std::vector<Option>& options, const Synopsis& synopsis) {
  std::string out;
  for (const Option& o : options) {
    std::string head;
    std::size_t start = 0;
    std::string last;
    for (;;) {
      const std::size_t comma = o.names.find(',', start);
      last = o.names.substr(start, comma - start);
      head += (head.empty() ? "" : ", ") + Typed(last);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (o.takesValue) {
      const auto named = synopsis.values.find(last);
      std::string value;
      if (named != synopsis.values.end()) {
        value = named->second;
      } else {
        // "TEXT:COUNT" names the value by its check, a bare "TEXT" by nothing better.
        const std::size_t colon = o.type.find(':');
        value = colon == std::string::npos ? "VALUE" : o.type.substr(colon + 1);
      }
      head += " " + Value(value);
    }
    out += ".TP\n" + head + "\n" + Prose(o.text) + "\n";
  }
  return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// "@NAME@" with capitals and underscores between the two signs.
bool KeepsPlaceholder(const std::string& line) {
  for (std::size_t at = line.find('@'); at != std::string::npos; at = line.find('@', at + 1)) {
    std::size_t end = at + 1;
    while (end < line.size() &&
           (std::isupper(static_cast<unsigned char>(line[end])) || line[end] == '_'))
      ++end;
    if (end > at + 1 && end < line.size() && line[end] == '@') return true;
  }
  return false;
}

std::string Quoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Fail(const std::string& message) {
  std::cerr << "make_manpage: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Fail("usage: make_manpage PROGRAM TEMPLATE OUTPUT [KEY=VALUE...]");
  const std::string program = argv[1], templatePath = argv[2], outputPath = argv[3];
  std::vector<std::pair<std::string, std::string>> values;
  for (int k = 4; k < argc; ++k) {
    const std::string pair = argv[k];
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) return Fail("not KEY=VALUE: '" + pair + "'");
    values.emplace_back("@" + pair.substr(0, equals) + "@", pair.substr(equals + 1));
  }
  std::string name = program.substr(program.find_last_of('/') + 1);

  std::string help, usage, why;
  int status = 0;
  if (!Capture(Quoted(program) + " --help", &help, &status) || status != 0)
    return Fail(program + " --help did not run and exit with status 0");
  if (!Capture(Quoted(program) + " </dev/null", &usage, &status) || status != 2)
    return Fail(program + " without arguments did not exit with the usage status 2");

  Synopsis synopsis;
  std::string description;
  std::vector<Option> options;
  if (!ReadSynopsis(usage, name, &synopsis, &why)) return Fail(why);
  if (!ReadHelp(help, &description, &options, &why)) return Fail(why);

  std::ifstream in(templatePath);
  if (!in) return Fail("cannot read " + templatePath);
  std::string page;
  for (std::string line; std::getline(in, line);) {
    if (line == "@SYNOPSIS@") {
      for (std::size_t k = 0; k < synopsis.forms.size(); ++k) {
        if (k > 0) page += ".br\n";
        page += ".SY " + Replace(Roman(name), "-", "\\-") + "\n" + synopsis.forms[k] + "\n.YS\n";
      }
    } else if (line == "@DESCRIPTION@") {
      page += Prose(description) + "\n";
    } else if (line == "@OPTIONS@") {
      page += OptionEntries(options, synopsis);
    } else {
      for (const auto& [key, value] : values) line = Replace(line, key, value);
      if (KeepsPlaceholder(line))
        return Fail(templatePath + ": no value for the placeholder in '" + line + "'");
      page += line + "\n";
    }
  }
  const std::string partial = outputPath + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << page;
    if (!out.flush()) return Fail("cannot write " + partial);
  }
  if (std::rename(partial.c_str(), outputPath.c_str()) != 0)
    return Fail("cannot rename " + partial + " to " + outputPath);
  return 0;
}
