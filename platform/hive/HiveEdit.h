// HiveEdit: the changes to a hive's keys, made in a hive file just
// committed, cell by cell: new keys added in hive bins of their own after
// the last one, keys deleted with everything below them, and each parent's
// subkey list laid once, when all its changes are known. libhivex writes a
// parent's whole list anew for every subkey it adds and never reuses the
// old cell, so a key that gets thousands of subkeys would grow the hive
// with their square; it cannot read, and so cannot delete, a key of more
// than 70,000 subkeys. Here the hive grows with what is added, and any key
// this program can write, it can delete.
//
// Lists are written as Windows looks subkeys up: sorted by the names'
// upper-case UTF-16 form, in leaves of at most kLeafEntries (lh, with the
// hash Windows computes: hash * 37 + each upper-cased unit; lf in a hive
// older than version 1.5, which holds no lh, with the first four characters
// as its hint, one byte each, so such a hive takes names of characters up
// to U+00FF only), below an index root (ri) when there are more. A parent
// that was in the hive gets a new list holding the old entries it keeps;
// its old list cells are freed. Each new key shares the security record of
// the key it was made below, whose count of users grows by one for it; a
// deleted key's record loses one, and goes when none is left. Names whose
// characters are all up to U+00FF are stored one byte per character, as
// Windows stores them.
//
// The space a hive file may hold after its last bin (Windows grows the file
// in large steps, and leaves zeros or bins of an earlier, larger hive
// there) is where the new bins go; what is left of it after them is zeroed.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive/Hive.h"
#include "platform/hive/HiveCells.h"

class HiveEdit {
 public:
  static constexpr size_t kLeafEntries = 500;

  // `cells` is a hive whose base block is `block`, checked as `header`.
  HiveEdit(HiveCells& cells, std::string block, const HiveHeader& header);

  // Adds the key `name` with `values` below `parent`, a key of the hive or
  // one added here, which holds no subkey of that name in any letter case
  // (Finish refuses the hive otherwise). False with the reason in
  // LastRefusal(); nothing is then to be committed.
  bool AddKey(Hive::Node parent, std::u16string_view name, const std::vector<HiveValue>& values,
              Hive::Node* key);
  // Deletes `key`, a subkey of `parent` that was in the hive, with all below
  // it: every cell of theirs is freed.
  bool DeleteKey(Hive::Node parent, Hive::Node key);
  // Stamps the time of the commit on `key`, a key of the hive whose values
  // changed.
  bool Touch(Hive::Node key);
  // Lays the lists, updates the parents, the security records and the base
  // block, and flushes the file. False when the hive is not as expected.
  bool Finish();
  Hive::Refusal LastRefusal() const { return refusal_; }

  // Whether a hive of `minorVersion` can list a key named `name`.
  static bool CanHoldName(uint32_t minorVersion, std::u16string_view name);

 private:
  struct Parent {
    uint32_t security = 0;
    std::vector<HiveSubkeyEntry> added;
    std::set<uint32_t> deleted;  // cells of subkeys that go
  };

  bool Refuse(Hive::Refusal refusal);
  // The pending changes of the key in `cell`, which must be a key record.
  Parent* ParentAt(uint32_t cell);
  // A cell holding `payload` in the bin being filled; 0, with the reason
  // refused, when the hive is full or a bin cannot be written.
  uint32_t Put(std::string_view payload);
  bool CloseBin();
  // Reads or changes a cell's payload, wherever it lies.
  bool Fetch(uint32_t cell, size_t least, std::string* payload);
  bool Patch(uint32_t cell, size_t at, std::string_view bytes);
  bool PutValues(const std::vector<HiveValue>& values, uint32_t* list);
  // The cells of the key in `cell` (but its subkeys'), to be freed.
  bool CollectKeyCells(uint32_t cell, const std::string& nk, std::vector<uint32_t>* cells);
  bool LayList(uint32_t parent, Parent& pending);
  bool FreeCell(uint32_t cell);
  bool UpdateSecurity(uint32_t cell, int64_t users);

  HiveCells& cells_;
  std::string block_;
  bool hashedLeaves_;  // lh leaves; lf in hives before version 1.5
  uint32_t minorVersion_;
  uint32_t firstNew_;  // offset of the first bin added: cells below it were there
  uint64_t fileEnd_;   // the file's size before any bin was added
  uint32_t binAt_;     // offset of the bin being filled
  std::string bin_;    // its bytes so far, its header first
  uint32_t binSize_ = 0;
  uint64_t written_;  // FILETIME stamped on the keys changed
  std::map<uint32_t, Parent> parents_;
  std::map<uint32_t, int64_t> securityUsers_;  // records whose count of users changes, and by what
  std::set<uint32_t> goingKeys_;               // the deleted keys' records
  std::vector<uint32_t> toFree_;               // all cells of the deleted keys
  Hive::Refusal refusal_ = Hive::Refusal::kNone;
};
