// Where the new release keeps its configuration.
#pragma once

// Below HKEY_LOCAL_MACHINE; every value the import writes lands below it.
constexpr const char* kProductKeyPath = "SOFTWARE\\Tandrel\\LUM";
