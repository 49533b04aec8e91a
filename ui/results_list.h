// The results list `List1`: lines kept in the order they were added, in one
// arena so that a sweep of many files costs one growing buffer, not one heap
// string per line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class ResultsList {
 public:
  void Add(std::string_view line) {
    text_.append(line);
    ends_.push_back(text_.size());
  }
  void Clear() {
    text_.clear();
    ends_.clear();
  }
  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](size_t i) const {
    const size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }
  // Bytes held by the lines themselves.
  size_t text_bytes() const { return text_.size(); }

  bool visible = true;

 private:
  std::string text_;
  std::vector<size_t> ends_;
};
