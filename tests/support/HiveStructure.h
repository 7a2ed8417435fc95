// An independent reader of a hive's structure, for the tests: the bins
// and cells tile the file as the base block says, and every key reached
// from the root has its subkeys, values, data and security record in cells
// that are in use, with counts that match. Windows checks much of this
// when it loads a hive, and drops or repairs what fails.
#pragma once

#include <string>

// "" when `bytes` is a sound hive, else the first fault found.
std::string CheckHiveStructure(const std::string& bytes);

// Where the hive `after` differs from `before` within the bins `before`
// had, outside what adding keys may change: a parent's subkey count, list,
// longest name and time; a list cell freed; a security record's count of
// users. With `valuesChanged`, also what changing a key's values may: its
// value count, list and longest name and data, and any cell freed. "" when
// nothing else changed.
std::string UnexpectedlyChangedCells(const std::string& before, const std::string& after,
                                     bool valuesChanged = false);
