// Text of the emulated machine, in one place for the profile service, the
// registry and the file system: code page 1252 (the ANSI code page the A
// functions speak), UTF-8 and UTF-16, the one rule by which Windows compares
// names without regard to letter case, and drive letters; and the OEM code
// page, in which the command prompt reads batch files: 437, or UTF-8 on a
// machine set to "Use Unicode UTF-8 for worldwide language support".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// --- Code page 1252. ---

// The Unicode character a code page 1252 byte stands for. The five bytes the
// code page leaves undefined (81, 8D, 8F, 90, 9D) stand for the C1 control
// characters of the same number, as Windows maps them.
char16_t Cp1252ToUnicode(unsigned char byte);
// True when code page 1252 holds `ch`.
bool Cp1252Holds(char32_t ch);
// The code page 1252 byte for `ch`, or '?' when the code page has none (the
// default character WideCharToMultiByte puts in its place).
char Cp1252FromUnicode(char32_t ch);

// --- The OEM code page, as GetOEMCP gives it. ---

constexpr uint32_t kCodePage437 = 437;     // OEM United States, the default
constexpr uint32_t kCodePageUtf8 = 65001;  // UTF-8

// True for the OEM code pages the emulated machine can have: 437 and 65001.
bool IsOemCodePage(uint32_t codePage);

// The code page 1252 text `ansi` in the OEM code page `codePage`, as
// WideCharToMultiByte without best fit gives it; false when that code page
// lacks one of its characters (then `oem` is incomplete). Code page 437
// lacks many; UTF-8 lacks none, and the five bytes code page 1252 leaves
// undefined become their C1 control characters, as in Cp1252ToUtf8. Any
// other code page is refused.
bool Cp1252ToOem(std::string_view ansi, std::string* oem, uint32_t codePage);
// The OEM text `oem` of `codePage` in code page 1252; a character code page
// 1252 lacks becomes '?', and so does a malformed UTF-8 sequence, and, in a
// code page other than those IsOemCodePage names, every byte beyond ASCII.
std::string OemToCp1252(std::string_view oem, uint32_t codePage);

// --- UTF-8 and UTF-16. ---

// U+FFFD, which stands for a malformed sequence.
constexpr char32_t kReplacementCharacter = 0xFFFD;

void AppendUtf8(char32_t ch, std::string* out);
// The character at `*pos`, which moves past it. A malformed sequence (an
// overlong form, a surrogate, a cut sequence) gives U+FFFD and moves one
// byte; `malformed`, when given, is then set.
char32_t NextUtf8(std::string_view text, size_t* pos, bool* malformed = nullptr);
// The offset of the first malformed sequence, or npos when `text` is UTF-8.
size_t FirstMalformedUtf8(std::string_view text);

void AppendUtf16(char32_t ch, bool bigEndian, std::string* out);
// The character at byte offset `*pos` of UTF-16 `bytes`, which moves past
// it: a surrogate pair is one character, a lone surrogate gives U+FFFD. A
// last odd byte is not read (`*pos` stops before it).
char32_t NextUtf16(std::string_view bytes, size_t* pos, bool bigEndian);

// Whole texts between the encodings. '?' stands for a character that code
// page 1252 cannot hold.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);
std::string Cp1252ToUtf8(std::string_view ansi);
std::string Utf8ToCp1252(std::string_view utf8);

// --- Unicode text as UTF-16 code units. ---

// Each code page 1252 byte as its Unicode character.
std::u16string Cp1252ToUtf16(std::string_view ansi);
// One code page 1252 byte for each UTF-16 code unit, '?' for a unit the code
// page cannot hold (each half of a surrogate pair too): one byte per unit, as
// the ANSI registry functions give Unicode names and strings back.
std::string Utf16ToCp1252(std::u16string_view text);
// True when code page 1252 holds every code unit of `text`, so that
// Cp1252ToUtf16(Utf16ToCp1252(text)) gives `text` back.
bool Cp1252HoldsAll(std::u16string_view text);
// UTF-8 as UTF-16 code units, a surrogate pair beyond U+FFFF; a malformed
// sequence gives U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 code units as UTF-8; a lone surrogate gives U+FFFD.
std::string Utf16UnitsToUtf8(std::u16string_view text);

// --- Names. ---

// The upper-case form of `ch` by which Windows compares names without regard
// to letter case: file names, registry key and value names alike. The
// letters of code page 1252 map to their Unicode capitals, also where the
// capital lies outside the code page (f with hook); the micro sign has none,
// as in the system's own table: a search lists it between "_" and the
// capital A with grave, not after the capital Y with diaeresis where capital
// mu would sort. (The file-operation differential test shows both.)
char16_t UpperCase(char16_t ch);
// The key by which a code page 1252 name compares and sorts: each character
// in its upper-case form, as Unicode. Names with equal keys are the same
// name, and Windows lists entries in the order of their keys.
std::u16string NameKey(std::string_view ansiName);
bool SameName(std::string_view a, std::string_view b);

// The upper-case form of a UTF-16 code unit by which the registry compares
// Unicode names: the simple Unicode capital of a small letter of the Latin
// (with IPA and the extended blocks), Greek, Cyrillic and Armenian scripts
// and of the full-width Latin letters, where that capital's own small letter
// is `ch` again. So the micro sign, dotless i, long s, final sigma and the
// title-case digraphs keep their form, as in the system's table; and every
// letter of code page 1252 maps as UpperCase maps it.
char16_t UnicodeUpperCase(char16_t ch);
// The key by which a Unicode name compares and sorts: each code unit in its
// UnicodeUpperCase form.
std::u16string UnicodeNameKey(std::u16string_view name);
bool SameUnicodeName(std::u16string_view a, std::u16string_view b);

// --- Paths. ---

// A drive letter, A to Z in either case.
bool IsDriveLetter(char c);
// True for "X:\" or "X:/" at the start of `path`: a path from a drive's root.
bool IsAbsolutePath(std::string_view path);
