// FileNameSet: a set of file names, two names being one when the file
// system takes them for one (Env::CompareFileNames), in little more memory
// than the names' own bytes: a run of a hundred thousand jobs remembers
// several hundred thousand names.
//
// The names lie one after another in one buffer; an open-addressing table
// of their offsets finds them by a hash that folds the letters A to Z and
// counts every other byte above 0x7F as one, so names that differ only in
// the case of any letter meet in one place, whatever the file system's
// rule for other letters is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Env.h"

class FileNameSet {
 public:
  explicit FileNameSet(Env& env) : env_(env) {}

  bool Contains(std::string_view name) const;
  // False when the set held the name already.
  bool Insert(std::string_view name);
  size_t size() const { return count_; }
  void Clear();

 private:
  std::string_view At(size_t slot) const;
  // The slot holding `name`, or the empty one where it would go.
  size_t Find(std::string_view name, uint64_t hash) const;
  void Grow();

  Env& env_;
  std::string names_;          // each name as a 4-byte length, then its bytes
  std::vector<size_t> slots_;  // offset + 1 into names_; 0 for an empty slot
  size_t count_ = 0;
};
