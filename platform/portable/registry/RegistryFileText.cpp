#include "platform/portable/registry/RegistryFileText.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <system_error>

#include "platform/portable/text/Text.h"

using registry_text::Parser;
using registry_text::TreeSink;

namespace {

// The upper-case form of a name in the text's units, as UTF-16: the key by
// which the registry compares and sorts names (UnicodeNameKey).
template <typename CharT>
void NameKeyOf(std::basic_string_view<CharT> name, TextEncoding encoding, std::u16string* key) {
  key->clear();
  AppendSourceText(name, encoding, key);
  for (char16_t& unit : *key) unit = UnicodeUpperCase(unit);
}

// The hash of a name below a parent. It starts from a seed of its own for
// each reading, and every bit of the state reaches the bits that pick a
// slot, so that no file can be made whose names all fall on one slot.
uint32_t HashOf(uint64_t seed, uint32_t parent, std::u16string_view key) {
  uint64_t hash = seed ^ (parent * 0x9E3779B97F4A7C15u);
  for (char16_t unit : key) hash = (hash ^ unit) * 0x100000001B3u;
  hash ^= hash >> 30;
  hash *= 0xBF58476D1CE4E5B9u;
  hash ^= hash >> 27;
  hash *= 0x94D049BB133111EBu;
  hash ^= hash >> 31;
  return static_cast<uint32_t>(hash);
}

}  // namespace

// Builds the index while the parser checks the file: keys found or added
// by name below their parent through a hash table that lives only as long
// as the reading, and the stretches of value lines after each key line.
template <typename CharT>
class IndexSink {
 public:
  using View = std::basic_string_view<CharT>;
  using Key = RegistryFileText::Key;
  static constexpr bool kWantsValues = false;
  static constexpr uint32_t kNone = RegistryFileText::kNone;

  IndexSink(RegistryFileText* file, View text, TextEncoding encoding)
      : file_(file),
        text_(text),
        encoding_(encoding),
        seed_(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
              reinterpret_cast<std::uintptr_t>(this)) {
    hashes_.push_back(0);  // the root is never looked up
  }

  void KeyLineAt(size_t lineStart) {
    EndBlock(lineStart);
    if (!sawKey_) file_->preamble_.end = static_cast<uint32_t>(lineStart);
    sawKey_ = true;
  }

  void OpenKey(const std::vector<View>& names, size_t blockStart) {
    // Consecutive key lines mostly share their first names (an export lists
    // a key's subkeys after it): those are the keys of the line before.
    size_t same = 0;
    uint32_t key = 0;
    while (same < names.size() && same < path_.size() && names[same] == path_[same].first) {
      key = path_[same++].second;
    }
    path_.resize(same);
    for (size_t i = same; i < names.size(); ++i) {
      key = Find(key, names[i], true);
      path_.emplace_back(names[i], key);
    }
    auto& blocks = file_->blocks_;
    auto block = static_cast<uint32_t>(blocks.size());
    blocks.push_back(
        {{static_cast<uint32_t>(blockStart), static_cast<uint32_t>(blockStart)}, kNone});
    Key& k = file_->keys_[key];
    if (k.firstBlock == kNone) {
      k.firstBlock = block;
    } else {
      blocks[k.lastBlock].next = block;
    }
    k.lastBlock = block;
    open_ = block;
  }

  void DeleteKey(const std::vector<View>& names) {
    path_.clear();
    uint32_t key = 0;
    for (View name : names) {
      key = Find(key, name, false);
      if (key == kNone) return;
    }
    // Its subkeys go with it: they are reached through it alone.
    file_->keys_[key].live = false;
  }

  void SetValue(std::u16string, uint32_t, std::string, bool) {}
  void DeleteValue(const std::u16string&) {}

  void Finish() {
    EndBlock(text_.size());
    if (!sawKey_) file_->preamble_.end = static_cast<uint32_t>(text_.size());
  }

 private:
  void EndBlock(size_t end) {
    if (open_ != kNone) file_->blocks_[open_].text.end = static_cast<uint32_t>(end);
    open_ = kNone;
  }

  // The live subkey `name` of `parent`, added when missing and `add`.
  uint32_t Find(uint32_t parent, View name, bool add) {
    auto& keys = file_->keys_;
    NameKeyOf(name, encoding_, &key_);
    uint32_t hash = HashOf(seed_, parent, key_);
    if (2 * keys.size() + 2 > slots_.size()) Grow();
    size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    for (; slots_[i] != 0; i = (i + 1) & mask) {
      uint32_t id = slots_[i] - 1;
      const Key& k = keys[id];
      if (hashes_[id] != hash || k.parent != parent || !k.live) continue;
      NameKeyOf(text_.substr(k.nameAt, k.nameSize), encoding_, &other_);
      if (other_ == key_) return id;
    }
    if (!add) return kNone;
    auto id = static_cast<uint32_t>(keys.size());
    Key k;
    k.parent = parent;
    k.nameAt = static_cast<uint32_t>(name.data() - text_.data());
    k.nameSize = static_cast<uint16_t>(name.size());
    keys.push_back(k);
    hashes_.push_back(hash);
    slots_[i] = id + 1;
    return id;
  }

  void Grow() {
    slots_.assign(std::max<size_t>(1024, 2 * slots_.size()), 0);
    size_t mask = slots_.size() - 1;
    for (uint32_t id = 1; id < hashes_.size(); ++id) {
      size_t i = hashes_[id] & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = id + 1;
    }
  }

  RegistryFileText* file_;
  View text_;
  TextEncoding encoding_;
  uint64_t seed_;
  std::vector<uint32_t> slots_;                  // key + 1, or 0 for a free slot
  std::vector<uint32_t> hashes_;                 // per key
  std::vector<std::pair<View, uint32_t>> path_;  // the names of the last key line, and their keys
  std::u16string key_, other_;
  uint32_t open_ = kNone;  // the block being read
  bool sawKey_ = false;
};

bool RegistryFileText::Load(const std::filesystem::path& file, std::string* error) {
  std::error_code ec;
  std::uintmax_t length = std::filesystem::file_size(file, ec);
  if (ec || length > kMaxFileBytes) {
    *error = file.string() + ": " + (ec ? ec.message() : "the file is too large");
    return false;
  }
  // Read straight into the form the text is kept in, so that it is held
  // once: UTF-16 code units after a UTF-16LE byte order mark, else bytes.
  std::ifstream in(file, std::ios::binary);
  char head[2] = {};
  auto headSize = static_cast<std::streamsize>(std::min<std::uintmax_t>(2, length));
  bool read = static_cast<bool>(in.read(head, headSize));
  std::string reason;
  bool taken = false;
  if (headSize == 2 && head[0] == '\xFF' && head[1] == '\xFE') {
    std::u16string units(static_cast<size_t>((length - 2) / 2), u'\0');
    read = read && in.read(reinterpret_cast<char*>(units.data()),
                           static_cast<std::streamsize>(2 * units.size()));
    if constexpr (std::endian::native == std::endian::big) {
      for (char16_t& unit : units) unit = static_cast<char16_t>(unit << 8 | unit >> 8);
    }
    taken = read && source_.TakeUnits(std::move(units), (length - 2) % 2 != 0, &reason);
  } else {
    std::string bytes(static_cast<size_t>(length), '\0');
    std::copy(head, head + headSize, bytes.begin());
    read =
        read && in.read(bytes.data() + headSize, static_cast<std::streamsize>(length) - headSize);
    taken = read && source_.TakeBytes(std::move(bytes), &reason);
  }
  if (!read) {
    *error = file.string() + ": the file cannot be read";
    return false;
  }
  if (!taken || !Index(&reason)) {
    *error = file.string() + ", " + reason;
    return false;
  }
  return true;
}

bool RegistryFileText::Read(std::string bytes, std::string* error) {
  if (bytes.size() > kMaxFileBytes) {
    *error = "the file is too large";
    return false;
  }
  return source_.TakeBytes(std::move(bytes), error) && Index(error);
}

bool RegistryFileText::Index(std::string* error) {
  keys_.assign(1, Key{});  // HKEY_LOCAL_MACHINE
  blocks_.clear();
  subkeys_.clear();
  return source_.encoding == TextEncoding::kUtf16 ? IndexText(source_.Units(), error)
                                                  : IndexText(source_.Bytes(), error);
}

template <typename CharT>
bool RegistryFileText::IndexText(std::basic_string_view<CharT> text, std::string* error) {
  size_t afterHeader = text.find(CharT('\n'));
  preamble_.begin = static_cast<uint32_t>(afterHeader == text.npos ? text.size() : afterHeader + 1);
  preamble_.end = static_cast<uint32_t>(text.size());
  {
    IndexSink<CharT> sink(this, text, source_.encoding);
    if (!Parser<CharT, IndexSink<CharT>>(text, source_.encoding, &sink).Run(error)) return false;
    sink.Finish();
  }
  // A key is there when it and every key above it are; a parent comes
  // before its subkeys, so one pass settles it.
  for (size_t i = 1; i < keys_.size(); ++i) {
    keys_[i].live = keys_[i].live && keys_[keys_[i].parent].live;
    if (keys_[i].live) ++keys_[keys_[i].parent].subkeyCount;
  }
  uint32_t next = 0;
  for (Key& key : keys_) {
    key.firstSubkey = next;
    next += key.subkeyCount;
    key.subkeyCount = 0;
  }
  subkeys_.resize(next);
  for (uint32_t i = 1; i < keys_.size(); ++i) {
    if (!keys_[i].live) continue;
    Key& parent = keys_[keys_[i].parent];
    subkeys_[parent.firstSubkey + parent.subkeyCount++] = i;
  }
  SortSubkeys(text);
  keys_.shrink_to_fit();
  blocks_.shrink_to_fit();
  return true;
}

// Subkeys in the order of their upper-case names, as the registry lists
// them. An export lists them in that order already, which is checked first.
template <typename CharT>
void RegistryFileText::SortSubkeys(std::basic_string_view<CharT> text) {
  std::u16string names;
  std::vector<std::pair<uint32_t, uint32_t>> spans;  // into `names`
  std::vector<uint32_t> order, sorted;
  std::u16string key;
  for (const Key& parent : keys_) {
    if (parent.subkeyCount < 2) continue;
    uint32_t* first = subkeys_.data() + parent.firstSubkey;
    names.clear();
    spans.clear();
    for (uint32_t i = 0; i < parent.subkeyCount; ++i) {
      const Key& k = keys_[first[i]];
      NameKeyOf(text.substr(k.nameAt, k.nameSize), source_.encoding, &key);
      spans.emplace_back(static_cast<uint32_t>(names.size()), static_cast<uint32_t>(key.size()));
      names += key;
    }
    auto nameOf = [&](uint32_t i) {
      return std::u16string_view(names).substr(spans[i].first, spans[i].second);
    };
    order.resize(parent.subkeyCount);
    for (uint32_t i = 0; i < parent.subkeyCount; ++i) order[i] = i;
    auto less = [&](uint32_t a, uint32_t b) { return nameOf(a) < nameOf(b); };
    if (std::is_sorted(order.begin(), order.end(), less)) continue;
    std::sort(order.begin(), order.end(), less);
    sorted.resize(parent.subkeyCount);
    for (uint32_t i = 0; i < parent.subkeyCount; ++i) sorted[i] = first[order[i]];
    std::copy(sorted.begin(), sorted.end(), first);
  }
}

std::shared_ptr<RegistryKeyNode> RegistryFileText::Root() const {
  auto root = std::make_shared<RegistryKeyNode>();
  root->fileKey = 0;
  root->subkeysPending = !keys_.empty() && keys_[0].subkeyCount > 0;
  root->valuesPending = !keys_.empty() && keys_[0].firstBlock != kNone;
  return root;
}

void RegistryFileText::AppendName(uint32_t key, std::u16string* out) const {
  const Key& k = keys_[key];
  if (source_.encoding == TextEncoding::kUtf16) {
    AppendSourceText(source_.Units().substr(k.nameAt, k.nameSize), source_.encoding, out);
  } else {
    AppendSourceText(source_.Bytes().substr(k.nameAt, k.nameSize), source_.encoding, out);
  }
}

void RegistryFileText::FillSubkeys(RegistryKeyNode* key) const {
  if (!key->subkeysPending || key->fileKey == kNoFileKey) return;
  for (uint32_t id : Subkeys(key->fileKey)) {
    auto subkey = std::make_shared<RegistryKeyNode>();
    AppendName(id, &subkey->name);
    subkey->depth = key->depth + 1;
    subkey->parent = key;
    subkey->fileKey = id;
    subkey->subkeysPending = keys_[id].subkeyCount > 0;
    subkey->valuesPending = keys_[id].firstBlock != kNone;
    // They come sorted, so each goes at the end.
    std::u16string name = UnicodeNameKey(subkey->name);
    key->subkeys.emplace_hint(key->subkeys.end(), std::move(name),
                              RegistrySubkey{std::move(subkey)});
  }
  key->subkeysPending = false;
}

template <typename CharT>
void RegistryFileText::ReadBlock(std::basic_string_view<CharT> text, Range block,
                                 RegistryKeyNode* key) const {
  TreeSink<CharT> sink(key, source_.encoding);
  std::string unused;  // the whole file was checked when it was read
  Parser<CharT, TreeSink<CharT>>(text.substr(block.begin, block.end - block.begin),
                                 source_.encoding, &sink)
      .RunBlock(&unused);
}

void RegistryFileText::FillValues(RegistryKeyNode* key) const {
  if (!key->valuesPending || key->fileKey == kNoFileKey) return;
  ForEachBlock(key->fileKey, [&](Range block) {
    if (source_.encoding == TextEncoding::kUtf16) {
      ReadBlock(source_.Units(), block, key);
    } else {
      ReadBlock(source_.Bytes(), block, key);
    }
  });
  key->valuesPending = false;
}
