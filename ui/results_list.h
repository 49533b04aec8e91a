// The results list `List1`: lines kept in the order they were added.
//
// A sweep may list millions of files, so the lines are packed into fixed
// chunks of text rather than held as one heap string each, and neither the
// text nor the index is ever moved to grow: a single growing buffer would
// briefly need twice its size while it is copied, and that doubling would
// dominate the program's peak memory. The cost is the text itself plus
// 8 bytes of index per line and a chunk's unused tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ResultsList {
 public:
  // Text chunk size. A line never spans two chunks; a longer line gets a
  // chunk of its own size.
  static constexpr size_t kChunkBytes = 64 * 1024;
  // Index entries per index block.
  static constexpr size_t kLinesPerBlock = 8192;

  // Appends one line; its text is copied.
  void Add(std::string_view line) {
    const size_t size = line.size();
    if (chunks_.empty() || size > chunk_limit_ - chunks_.back().size()) {
      chunk_limit_ = size > kChunkBytes ? size : kChunkBytes;
      chunks_.emplace_back();
      chunks_.back().reserve(chunk_limit_);
    }
    std::string& chunk = chunks_.back();
    chunk.append(line);
    if (count_ % kLinesPerBlock == 0) {
      index_.emplace_back();
      index_.back().reserve(kLinesPerBlock);
    }
    // The chunk's number and where the line ends in it. A line begins where
    // the one before it ends when both are in the same chunk, else at 0.
    index_.back().push_back((static_cast<uint64_t>(chunks_.size() - 1) << 32) |
                            chunk.size());
    ++count_;
    text_bytes_ += size;
  }

  void Clear() {
    chunks_.clear();
    index_.clear();
    count_ = 0;
    text_bytes_ = 0;
    chunk_limit_ = 0;
  }

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  std::string_view operator[](size_t i) const {
    const uint64_t end = Entry(i);
    const uint64_t chunk = end >> 32;
    uint64_t begin = 0;
    if (i > 0) {
      const uint64_t before = Entry(i - 1);
      if (before >> 32 == chunk) begin = before & 0xFFFFFFFFu;
    }
    return std::string_view(chunks_[chunk])
        .substr(begin, (end & 0xFFFFFFFFu) - begin);
  }

  // Bytes held by the lines themselves.
  size_t text_bytes() const { return text_bytes_; }

  bool visible = true;

 private:
  uint64_t Entry(size_t i) const {
    return index_[i / kLinesPerBlock][i % kLinesPerBlock];
  }

  std::vector<std::string> chunks_;
  std::vector<std::vector<uint64_t>> index_;
  size_t chunk_limit_ = 0;  // capacity of the last chunk
  size_t count_ = 0;
  size_t text_bytes_ = 0;
};
