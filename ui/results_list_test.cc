#include "ui/results_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Checks every line of `list` against `expected`, in order.
void ExpectLines(const std::vector<std::string>& expected,
                 const ResultsList& list) {
  ASSERT_EQ(expected.size(), list.size());
  size_t bytes = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], list[i]) << "line " << i;
    bytes += expected[i].size();
  }
  EXPECT_EQ(bytes, list.text_bytes());
}

// A line of `size` bytes that differs from its neighbours.
std::string MakeLine(size_t number, size_t size) {
  std::string line = std::to_string(number) + ":";
  while (line.size() < size) line += static_cast<char>('a' + line.size() % 26);
  line.resize(size);
  return line;
}

TEST(ResultsList, LinesCrossManyChunksAndIndexBlocksUnchanged) {
  ResultsList list;
  std::vector<std::string> expected;
  // Sizes chosen so that lines end exactly at, just before and just past a
  // chunk's end, with empty lines in between.
  const size_t sizes[] = {0, 1, 97, 4096, 250, 0, 65535, 65536, 3};
  for (size_t i = 0; expected.size() < 2 * ResultsList::kLinesPerBlock + 5;
       ++i) {
    const size_t size = i < 9 ? sizes[i] : 20 + (i * 37) % 300;
    expected.push_back(MakeLine(i, size));
    list.Add(expected.back());
  }
  ExpectLines(expected, list);
}

TEST(ResultsList, LinesLongerThanAChunkKeepTheirOwnChunk) {
  ResultsList list;
  const std::vector<std::string> expected = {
      MakeLine(0, 10), MakeLine(1, ResultsList::kChunkBytes + 1),
      MakeLine(2, 10), MakeLine(3, 3 * ResultsList::kChunkBytes),
      MakeLine(4, ResultsList::kChunkBytes), MakeLine(5, 1)};
  for (const std::string& line : expected) list.Add(line);
  ExpectLines(expected, list);
}

TEST(ResultsList, ClearEmptiesAndCopiesStandAlone) {
  ResultsList list;
  for (int i = 0; i < 5000; ++i) list.Add(MakeLine(i, 40));
  ResultsList copy = list;
  list.Clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(0u, list.text_bytes());
  list.Add("after");
  ExpectLines({"after"}, list);
  ASSERT_EQ(5000u, copy.size());
  EXPECT_EQ(MakeLine(4999, 40), copy[4999]);
  copy.Add("more");  // a copy grows on its own
  EXPECT_EQ("more", copy[5000]);
  EXPECT_EQ(MakeLine(4998, 40), copy[4998]);
}

}  // namespace
