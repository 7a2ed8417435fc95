// HiveAppend: adds new keys to a hive file just committed, in hive bins of
// its own at the file's end, and lays each parent's subkey list once, when
// all its new subkeys are known. libhivex writes a parent's whole list
// anew for every subkey it adds and never reuses the old cell, so a key
// that gets thousands of subkeys would grow the hive with their square;
// here it grows with what is added.
//
// Lists are written as Windows looks subkeys up: sorted by the names'
// upper-case UTF-16 form, in leaves of at most kLeafEntries (lh, with the
// hash Windows computes: hash * 37 + each upper-cased unit; lf in a hive
// older than version 1.5, which holds no lh, with the first four characters
// as its hint, so such a hive takes ASCII names only), below an index root
// (ri) when there are more. A parent that was in the hive gets a new list holding
// its old entries too; its old list cells are freed. Each new key shares
// the security record of the key it was made below, whose count of users
// grows by one for it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive/Hive.h"
#include "platform/hive/HiveCells.h"

class HiveAppend {
 public:
  static constexpr size_t kLeafEntries = 500;

  // `cells` is a hive whose base block is `block`, checked as `header`.
  HiveAppend(HiveCells& cells, std::string block, const HiveHeader& header);

  // Adds the key `name` with `values` below `parent`, a key of the hive or
  // one added here, which holds no subkey of that name in any letter case
  // (Finish refuses the hive otherwise). False with the reason in
  // LastRefusal(); nothing is then to be committed.
  bool AddKey(Hive::Node parent, std::u16string_view name, const std::vector<HiveValue>& values,
              Hive::Node* key);
  // Lays the lists, updates the parents, the security records and the base
  // block, and flushes the file. False when the hive is not as expected.
  bool Finish();
  Hive::Refusal LastRefusal() const { return refusal_; }

 private:
  struct Parent {
    uint32_t security = 0;
    std::vector<HiveSubkeyEntry> added;
  };

  bool Refuse(Hive::Refusal refusal);
  // A cell holding `payload` in the bin being filled; 0, with the reason
  // refused, when the hive is full or a bin cannot be written.
  uint32_t Put(std::string_view payload);
  bool CloseBin();
  // Reads or changes a cell's payload, wherever it lies.
  bool Fetch(uint32_t cell, size_t least, std::string* payload);
  bool Patch(uint32_t cell, size_t at, std::string_view bytes);
  bool PutValues(const std::vector<HiveValue>& values, uint32_t* list);
  bool LayList(uint32_t parent, Parent& pending);
  bool FreeCell(uint32_t cell);

  HiveCells& cells_;
  std::string block_;
  bool hashedLeaves_;  // lh leaves; lf in hives before version 1.5
  uint32_t firstNew_;  // offset of the first bin added: cells below it were there
  uint32_t binAt_;     // offset of the bin being filled
  std::string bin_;    // its bytes so far, its header first
  uint32_t binSize_ = 0;
  uint64_t written_;  // FILETIME stamped on the keys changed
  std::map<uint32_t, Parent> parents_;
  std::map<uint32_t, uint32_t> securityUsers_;  // records shared by new keys, and how many
  Hive::Refusal refusal_ = Hive::Refusal::kNone;
};
