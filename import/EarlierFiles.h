// EarlierFiles: the files a run writes anew (restore.bat, restore.reg,
// CheckLUM.log) as an earlier run left them.
//
// An earlier run's restore.bat and restore.reg are that run's only way back,
// so a new run never writes over them: it renames each to NAME.N first, N
// one more than the highest kept so far, so that the newest kept file always
// has the highest number. The rename is made durable before the new file is
// created, so a power cut at any instant leaves the earlier file under one
// of its two names.
#pragma once

#include <string>
#include <vector>

#include "platform/Env.h"

// The numbers N for which `path`.N exists, in no particular order.
std::vector<int> KeptNumbers(Env& env, const std::string& path);

// Renames a file an earlier run left at `path` to `path`.N; true when it is
// kept, or when there was none (a folder of that name is no earlier file,
// and stays). False, the user told why, when it cannot be kept: then
// nothing may take its place.
bool KeepEarlierFile(Env& env, const std::string& path);
