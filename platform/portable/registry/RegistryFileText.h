// A registry file kept as the text it was read as, with an index of its
// keys, so that a registry of many megabytes costs little more than its
// text: PortableRegistry makes a node for a key only once a call reaches it,
// reads a key's values only once a call needs them, and on saving writes
// every key whose values no call changed as its lines stand in the file.
//
// Reading checks every line of the file as ParseRegistryFile does, with the
// same reasons, but keeps only this for each key: its name's place in the
// text, its parent, its subkeys in the order of their upper-case names, and
// the stretches of text that hold its value lines (the lines after each
// "[key]" line). What the file deletes is applied while reading: a
// "[-key]" line drops the key and everything below it, stretches before
// included, and the lines after it belong to no key; a key that appears
// twice has both stretches, read in order, so that a later line overrides
// or deletes ("name"=-) what an earlier one set.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryParser.h"
#include "platform/portable/registry/RegistryTree.h"

class RegistryFileText {
 public:
  // A stretch of the text, in its units.
  struct Range {
    uint32_t begin = 0;
    uint32_t end = 0;
  };

  // Registry files larger than this are not read (a registry of this
  // program's size is a few kilobytes, a whole machine's some hundred MB).
  static constexpr std::uintmax_t kMaxFileBytes = 256u << 20;

  // Reads a registry file: false, with the file's name and the reason (the
  // line of a malformed file), when it cannot be read.
  bool Load(const std::filesystem::path& file, std::string* error);
  // The same for a file's bytes; the reason is that of ParseRegistryFile.
  bool Read(std::string bytes, std::string* error);

  // The form to write the file back in (see ParseRegistryFile).
  RegistryFileFormat Format() const {
    return source_.Unicode() ? RegistryFileFormat::kUtf16 : RegistryFileFormat::kAnsi;
  }
  const RegistrySource& Source() const { return source_; }

  // HKEY_LOCAL_MACHINE, its subkeys and values still in the text.
  std::shared_ptr<RegistryKeyNode> Root() const;
  // Gives a node whose subkeys are pending its subkeys, each with its own
  // subkeys and values pending.
  void FillSubkeys(RegistryKeyNode* key) const;
  // Gives a node whose values are pending its values.
  void FillValues(RegistryKeyNode* key) const;

  // For the writer: a key's subkeys, sorted; its name; its stretches of
  // value lines in the order of the file; what lies between the header
  // line and the first key line (blank lines and comments).
  std::span<const uint32_t> Subkeys(uint32_t key) const {
    return {subkeys_.data() + keys_[key].firstSubkey, keys_[key].subkeyCount};
  }
  void AppendName(uint32_t key, std::u16string* out) const;
  bool HasBlocks(uint32_t key) const { return keys_[key].firstBlock != kNone; }
  template <typename F>
  void ForEachBlock(uint32_t key, F f) const {
    for (uint32_t b = keys_[key].firstBlock; b != kNone; b = blocks_[b].next) f(blocks_[b].text);
  }
  Range Preamble() const { return preamble_; }

 private:
  template <typename CharT>
  friend class IndexSink;
  static constexpr uint32_t kNone = 0xFFFFFFFF;

  struct Key {
    uint32_t parent = kNone;
    uint32_t nameAt = 0;  // where its name (as first written) starts in the text
    uint32_t firstBlock = kNone;
    uint32_t lastBlock = kNone;
    uint32_t firstSubkey = 0;  // into subkeys_
    uint32_t subkeyCount = 0;
    uint16_t nameSize = 0;  // in units of the text
    bool live = true;       // false once deleted, or below a deleted key
  };
  struct Block {
    Range text;
    uint32_t next = kNone;
  };

  bool Index(std::string* error);
  template <typename CharT>
  bool IndexText(std::basic_string_view<CharT> text, std::string* error);
  template <typename CharT>
  void SortSubkeys(std::basic_string_view<CharT> text);
  template <typename CharT>
  void ReadBlock(std::basic_string_view<CharT> text, Range block, RegistryKeyNode* key) const;

  RegistrySource source_;
  std::vector<Key> keys_;  // the root first; a parent always before its subkeys
  std::vector<Block> blocks_;
  std::vector<uint32_t> subkeys_;
  Range preamble_;
};
