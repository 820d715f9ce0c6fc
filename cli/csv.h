// A reader of CSV text (RFC 4180): fields separated by commas, records by CRLF or
// LF, a field in double quotes may hold commas, line ends and quotes (doubled).
// The last record may end without a line end. Strict where a mistake would change
// the meaning: a quote inside an unquoted field, text after a closing quote, an
// unclosed quote, a carriage return without its line feed and a NUL byte are
// errors naming the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CsvRecord {
  int line = 0;  // the line it starts on, from 1
  std::vector<std::string> fields;
};

struct CsvResult {
  bool ok = false;
  std::string error;  // "line 3: ..."
  std::vector<CsvRecord> records;
};

// Every record of `text`, the header among them. A UTF-8 byte order mark at the
// start is skipped.
CsvResult ParseCsv(std::string_view text);
