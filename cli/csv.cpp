// CSV reader: one pass over the text, a field at a time.
#include "cli/csv.h"

namespace {
std::string Where(int line, std::size_t field) {
  return "line " + std::to_string(line) + ", field " + std::to_string(field + 1);
}
}  // namespace

CsvResult ParseCsv(std::string_view text) {
  CsvResult result;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::size_t n = text.size();
  std::size_t i = 0;
  int line = 1;
  const auto fail = [&](std::string why) {
    result.error = std::move(why);
    result.records.clear();
    return result;
  };
  while (i < n) {
    CsvRecord record;
    record.line = line;
    for (;;) {  // one field
      std::string field;
      const std::size_t index = record.fields.size();
      if (i < n && text[i] == '"') {
        const int opened = line;
        ++i;
        for (;;) {
          if (i >= n) return fail(Where(opened, index) + ": the quoted field is not closed");
          const char c = text[i];
          if (c == '"') {
            if (i + 1 < n && text[i + 1] == '"') {
              field += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (c == '\0') return fail("line " + std::to_string(line) + ": NUL byte");
          if (c == '\n') ++line;
          field += c;
          ++i;
        }
        if (i < n && text[i] != ',' && text[i] != '\n' && text[i] != '\r')
          return fail(Where(line, index) + ": text after the closing quote");
      } else {
        while (i < n && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
          if (text[i] == '"')
            return fail(Where(line, index) +
                        ": a quote inside an unquoted field (quote the whole field and double "
                        "the quote)");
          if (text[i] == '\0') return fail("line " + std::to_string(line) + ": NUL byte");
          field += text[i++];
        }
      }
      record.fields.push_back(std::move(field));
      if (i < n && text[i] == ',') {
        ++i;
        continue;
      }
      break;
    }
    // The record ends here: at the end of the text or at a line end.
    if (i < n && text[i] == '\r') {
      if (i + 1 >= n || text[i + 1] != '\n')
        return fail("line " + std::to_string(line) +
                    ": a carriage return that is not followed by a line feed");
      ++i;
    }
    if (i < n && text[i] == '\n') {
      ++i;
      ++line;
    }
    result.records.push_back(std::move(record));
  }
  result.ok = true;
  return result;
}
