#include "prepare/participants_table.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using testsupport::ScopedTempDir;
using testsupport::writeFile;

std::string readError(const std::string &name, const std::string &text) {
  writeFile(name, text);
  ParticipantsTable table;
  return readParticipantsTable(name, table);
}

TEST(ParticipantsTable, QuotedFieldsKeepSeparatorsQuotesAndLineBreaks) {
  ScopedTempDir dir;
  writeFile("p.csv", "id,note,score\r\n"
                     "1,\"left, frontal\",3\r\n"
                     "2,\"said \"\"no\"\"\",4\r\n"
                     "3,\"two\nlines\",5\r\n"
                     "4, plain ,6\r\n");
  ParticipantsTable table;
  ASSERT_EQ(readParticipantsTable("p.csv", table), "");
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(table.rows[0].fields[1], "left, frontal");
  EXPECT_EQ(table.rows[1].fields[1], "said \"no\"");
  EXPECT_EQ(table.rows[2].fields[1], "two\nlines");
  // CR of CRLF is dropped, blanks around unquoted fields too.
  EXPECT_EQ(table.rows[3].fields[1], "plain");
  EXPECT_EQ(table.rows[3].fields[2], "6");
  // Rows are named by the line they start on: the quoted line break moves row 4 to line 6.
  EXPECT_EQ(table.rows[2].line, 4);
  EXPECT_EQ(table.rows[3].line, 6);
}

TEST(ParticipantsTable, TsvWithByteOrderMarkMissingValuesAndBlankLines) {
  ScopedTempDir dir;
  writeFile("p.tsv", "\xEF\xBB\xBFparticipant_id\tage\trankin\n"
                     "sub-01\t61\tn/a\n"
                     "\n"
                     "sub-02\t\t3\n");
  ParticipantsTable table;
  ASSERT_EQ(readParticipantsTable("p.tsv", table), "");
  EXPECT_EQ(table.separator, '\t');
  EXPECT_EQ(columnOf(table, "participant_id"), 0);
  EXPECT_EQ(columnOf(table, "rankin"), 2);
  EXPECT_EQ(columnOf(table, "missing"), -1);
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0].fields[2], "n/a");
  EXPECT_EQ(table.rows[1].fields[1], "");
  EXPECT_EQ(table.rows[1].line, 4);
}

TEST(ParticipantsTable, SeparatorComesFromTheHeaderWhenTheNameDoesNotSay) {
  ScopedTempDir dir;
  writeFile("p.txt", "id\tscore\n1\t0\n");
  ParticipantsTable table;
  ASSERT_EQ(readParticipantsTable("p.txt", table), "");
  EXPECT_EQ(table.separator, '\t');
  ASSERT_EQ(table.rows[0].fields.size(), 2u);
}

TEST(ParticipantsTable, RefusesTablesItCannotRead) {
  ScopedTempDir dir;
  EXPECT_EQ(readError("tabs.csv", "id\tscore\n1\t0\n"),
            "table tabs.csv: its name asks for commas between columns, but the header line "
            "holds tabs");
  EXPECT_EQ(readError("commas.tsv", "id,score\n1,0\n"),
            "table commas.tsv: its name asks for tabs between columns, but the header line "
            "holds commas");
  EXPECT_EQ(readError("empty.csv", ""), "table empty.csv is empty: it has no header line");
  EXPECT_EQ(readError("header.csv", "id,score\r\n\r\n"),
            "table header.csv is empty: it has a header line but no rows");
  EXPECT_EQ(readError("short.csv", "id,score\n1,0\n2\n"),
            "table short.csv: line 3 has 1 fields; the header names 2 columns");
  EXPECT_EQ(readError("open.csv", "id,score\n1,\"0\n2,1\n"),
            "table open.csv: a quoted field that starts on line 2 is never closed");
  ParticipantsTable table;
  EXPECT_EQ(readParticipantsTable("absent.csv", table), "cannot open the table absent.csv");
}

} // namespace
