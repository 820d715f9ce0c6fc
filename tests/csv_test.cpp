// The CSV reader: the forms of RFC 4180 it must take, and the malformed texts it
// must refuse with the line of the fault.
#include "cli/csv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

std::vector<Fields> Records(const std::string& text) {
  const CsvResult r = ParseCsv(text);
  EXPECT_TRUE(r.ok) << r.error;
  std::vector<Fields> out;
  for (const CsvRecord& rec : r.records) out.push_back(rec.fields);
  return out;
}

std::string Error(const std::string& text) {
  const CsvResult r = ParseCsv(text);
  EXPECT_FALSE(r.ok) << text;
  EXPECT_TRUE(r.records.empty());
  return r.error;
}

TEST(Csv, RecordsEndWithLfOrCrlfAndTheLastMayHaveNoLineEnd) {
  const std::vector<Fields> want = {{"a", "b"}, {"1", "2"}};
  EXPECT_EQ(Records("a,b\n1,2\n"), want);
  EXPECT_EQ(Records("a,b\r\n1,2\r\n"), want);
  EXPECT_EQ(Records("a,b\r\n1,2"), want);
  EXPECT_EQ(Records("a,b\n1,2\r\n"), want);
  EXPECT_TRUE(Records("").empty());
}

TEST(Csv, EmptyFieldsAndBlankLinesAreKept) {
  EXPECT_EQ(Records("a,,c\n"), (std::vector<Fields>{{"a", "", "c"}}));
  EXPECT_EQ(Records(",\n"), (std::vector<Fields>{{"", ""}}));
  EXPECT_EQ(Records("a,b,\n"), (std::vector<Fields>{{"a", "b", ""}}));
  // A blank line is a record of one empty field (the manifest skips it).
  EXPECT_EQ(Records("a\n\nb\n"), (std::vector<Fields>{{"a"}, {""}, {"b"}}));
  // Blanks are part of a field.
  EXPECT_EQ(Records(" a , b\n"), (std::vector<Fields>{{" a ", " b"}}));
}

TEST(Csv, QuotedFieldsHoldCommasQuotesAndLineEnds) {
  EXPECT_EQ(Records("\"a,b\",c\n"), (std::vector<Fields>{{"a,b", "c"}}));
  EXPECT_EQ(Records("\"say \"\"hi\"\"\"\n"), (std::vector<Fields>{{"say \"hi\""}}));
  EXPECT_EQ(Records("\"\"\n"), (std::vector<Fields>{{""}}));
  EXPECT_EQ(Records("\"\"\"\"\n"), (std::vector<Fields>{{"\""}}));
  EXPECT_EQ(Records("\"two\r\nlines\",x\r\n"), (std::vector<Fields>{{"two\r\nlines", "x"}}));
  EXPECT_EQ(Records("\"at end\""), (std::vector<Fields>{{"at end"}}));
}

TEST(Csv, RecordsKnowTheLineTheyStartOn) {
  const CsvResult r = ParseCsv("h1,h2\n\"multi\nline\",x\r\nlast,y\n");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[0].line, 1);
  EXPECT_EQ(r.records[1].line, 2);
  EXPECT_EQ(r.records[2].line, 4);
}

TEST(Csv, AByteOrderMarkIsSkipped) {
  EXPECT_EQ(Records("\xEF\xBB\xBF"
                    "damaged,mask\n"),
            (std::vector<Fields>{{"damaged", "mask"}}));
  // Only at the start.
  EXPECT_EQ(Records("a\n\xEF\xBB\xBF"
                    "b\n"),
            (std::vector<Fields>{{"a"},
                                 {"\xEF\xBB\xBF"
                                  "b"}}));
}

TEST(Csv, MalformedTextIsRefusedWithItsLine) {
  EXPECT_EQ(Error("a\n\"open,b\nc\n"), "line 2, field 1: the quoted field is not closed");
  EXPECT_EQ(Error("a,\"b\"c\n"), "line 1, field 2: text after the closing quote");
  EXPECT_EQ(Error("a\nb\"c\n"),
            "line 2, field 1: a quote inside an unquoted field (quote the whole field and double "
            "the quote)");
  EXPECT_EQ(Error("a,b\rc\n"), "line 1: a carriage return that is not followed by a line feed");
  EXPECT_EQ(Error("a,b\r"), "line 1: a carriage return that is not followed by a line feed");
  EXPECT_EQ(Error(std::string("a\nb\0c\n", 6)), "line 2: NUL byte");
  EXPECT_EQ(Error(std::string("\"x\0\"\n", 5)), "line 1: NUL byte");
  // A closed quote followed by blanks is text after it, too.
  EXPECT_EQ(Error("\"a\" ,b\n"), "line 1, field 1: text after the closing quote");
}

}  // namespace
