// RestoreLines: the lines of restore.bat, as they are written and read back.
//
// Each line copies one file back: "copy/y FROM TO" ended by CR LF. A field
// is quoted where cmd would otherwise split or interpret it, and every % is
// doubled, since a batch file reads %% as one %.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Env.h"

// The restore line for copying `from` to `to`, CR LF included.
std::string CopyLine(const std::string& from, const std::string& to, bool alwaysQuote);

// The two fields of one line (without its line end) as cmd reads them:
// quotes removed, %% read as %. False when the line is no copy line of the
// kind CopyLine writes.
bool ParseCopyLine(std::string_view line, std::string* from, std::string* to);

// True when the first field of a line names a file of the backup directory
// (a bare name, relative to it, as a move's line has it), not a path.
bool IsBackupName(const std::string& field);

// True when `name` can only name one file directly inside one directory:
// no separators, wildcards or other characters Windows forbids, no trailing
// dot or blank (Windows would drop them) and no device name.
bool IsPlainFileName(const std::string& name);

// Calls `line` with each line of the file `path`, without its line end, in
// order. A last line without its line end is passed over: its writing never
// completed, so the move it stands for never happened. False (the reason in
// LastError) when the file cannot be read.
bool ForEachCompleteLine(Env& env, const std::string& path,
                         const std::function<void(std::string_view)>& line);
