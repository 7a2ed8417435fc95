// One script of file operations that runs against any Env over the same
// tree, so that the two backends can be compared step by step. Each step
// leaves its outcome as text: "ok", "error 80", or for a search the names
// found ('/' after a directory) and the error that ended it.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/Env.h"

using FileOpsOutcomes = std::vector<std::pair<std::string, std::string>>;

// Makes the tree the script works on, in the empty host folder `host`.
void BuildFileOpsTree(const std::filesystem::path& host);
// Runs the script on the tree that the Windows path `root` names for `env`
// and that lies at `host`.
FileOpsOutcomes RunFileOps(Env& env, const std::string& root, const std::filesystem::path& host);

// The script over EnvPortable, on a fresh image whose folder C:\T holds the tree.
FileOpsOutcomes RunFileOpsOnImage();
