// The file-operation script against the portable backend, with the answers
// Windows gives on a volume without 8.3 names (under Wine the same script is
// compared with the real API).
#include <gtest/gtest.h>

#include "platform/FileOpsScript.h"
#include "platform/portable/EnvPortable.h"
#include "support/TempDir.h"

namespace {

const FileOpsOutcomes kExpected = {
    {"find.plain", "[cf1.ini] 18"},
    {"find.otherCase", "[cf1.ini] 18"},
    {"find.directory", "[fdir/] 18"},
    {"find.directoryDot", "[fdir/] 18"},
    {"find.directoryBackslash", "error 2"},
    {"find.fileBackslash", "error 2"},
    {"find.belowFile", "error 123"},
    {"find.missing", "error 2"},
    {"find.noMatch", "error 2"},
    {"find.missingDirectory", "error 3"},
    {"find.missingDirectoryPattern", "error 3"},
    {"find.cfIni", "[cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cfsub.ini/] 18"},
    {"find.cfIniUpper", "[cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cfsub.ini/] 18"},
    {"find.starIni",
     "[cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cfsub.ini/, xcf.ini] 18"},
    {"find.starIn", "[cf9.in] 18"},
    {"find.question", "[cf1.ini, CF2.INI, Cf3.Ini] 18"},
    {"find.cfStar",
     "[cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cf9.in, cfnoext, cfsub.ini/, cfx.ini2, "
     "cfy.ini.bak] 18"},
    {"find.cfStarDot",
     "[cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cf9.in, cfnoext, cfsub.ini/, cfx.ini2, "
     "cfy.ini.bak] 18"},
    {"find.iniAnywhere",
     "[cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cfsub.ini/, cfx.ini2, cfy.ini.bak, "
     "xcf.ini] 18"},
    {"find.all",
     "[./, ../, cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cf9.in, cfnoext, cfsub.ini/, "
     "cfx.ini2, cfy.ini.bak, other.txt, Sub Dir/, xcf.ini] 18"},
    {"find.allDotAll",
     "[./, ../, cf long name.ini, cf.ini, cf1.ini, CF2.INI, Cf3.Ini, cf9.in, cfnoext, cfsub.ini/, "
     "cfx.ini2, cfy.ini.bak, other.txt, Sub Dir/, xcf.ini] 18"},
    {"find.forwardSlash", "[cf1.ini] 18"},
    {"find.doubledBackslash", "[cf1.ini] 18"},
    {"find.blank", "[Sub Dir/] 18"},
    {"find.dotDot", "[cf1.ini] 18"},
    {"names.directory", "ok"},
    {"names.create \xFFy", "ok"},
    {"names.create \x9Ay", "ok"},
    {"names.create \xB5y", "ok"},
    {"names.create \x83y", "ok"},
    {"names.create \x80y", "ok"},
    {"names.create \xE0y", "ok"},
    {"names.create \xDFy", "ok"},
    {"names.create Zy", "ok"},
    {"names.create _y", "ok"},
    {"names.create \x9Cy", "ok"},
    {"names.create \xE6y", "ok"},
    // Wine's answer: the micro sign has no capital, the other letters sort
    // by their Unicode capitals.
    {"names.order",
     "[./, ../, Zy, _y, \xB5y, \xE0y, \xE6y, \xDFy, \x9Cy, \x9Ay, \xFFy, \x83y, \x80y] 18"},
    {"names.yDiaeresis", "[\xFFy] 18"},
    {"names.sCaron", "[\x9Ay] 18"},
    {"names.oe", "[\x9Cy] 18"},
    {"names.aGrave", "[\xE0y] 18"},
    {"names.ae", "[\xE6y] 18"},
    {"names.patternUpper", "[\xFFy] 18"},
    {"names.recreateUpper", "ok"},
    {"names.recreateKeepsName", "[\x9Ay] 18"},
    {"names.compareCase", "same"},
    {"names.compareYDiaeresis", "same"},
    {"names.compareMicro", "greater"},
    {"names.compareOrder", "less"},
    {"names.compareLength", "less"},
    {"full.dots", "<root>\\x\\z"},
    {"full.slashes", "<root>\\x\\y\\z"},
    {"full.trailingSeparator", "<root>\\x\\y\\"},
    {"full.trailingDotsAndBlanks", "<root>\\x\\y"},
    {"full.aboveRoot", "C:\\q"},
    {"dir.new", "ok"},
    {"dir.existing", "error 183"},
    {"dir.otherCase", "error 183"},
    {"dir.overFile", "error 183"},
    {"dir.missingParent", "error 3"},
    {"dir.belowFile", "error 3"},
    {"dir.trailingBackslash", "ok"},
    {"dir.existingTrailingBackslash", "error 183"},
    {"dir.invalidName", "error 123"},
    {"dir.found", "[new/, new2/] 18"},
    {"copy.new", "ok"},
    {"copy.newContent", "source"},
    {"copy.failIfExists", "error 80"},
    {"copy.overwrite", "ok"},
    {"copy.overwriteContent", "other"},
    {"copy.otherCase", "ok"},
    {"copy.otherCaseKeepsName", "[copy1.txt] 18"},
    {"copy.otherCaseContent", "source"},
    {"copy.readOnlyTarget", "error 5"},
    {"copy.readOnlyTargetContent", "read-only"},
    {"copy.missingSource", "error 2"},
    {"copy.missingSourceDirectory", "error 3"},
    {"copy.missingTargetDirectory", "error 3"},
    {"copy.belowFile", "error 3"},
    {"copy.ontoItself", "error 32"},
    {"copy.ontoItselfFailIfExists", "error 80"},
    {"copy.sourceDirectory", "error 5"},
    {"copy.targetDirectory", "error 5"},
    {"copy.invalidTarget", "error 123"},
    {"copy.old", "ok"},
    {"copy.keepsTime", "same time"},
    {"copy.readOnlySource", "ok"},
    {"copy.keepsReadOnly", "read-only"},
    {"delete.file", "ok"},
    {"delete.missing", "error 2"},
    {"delete.missingDirectory", "error 3"},
    {"delete.readOnly", "error 5"},
    {"delete.directory", "error 5"},
    {"delete.otherCase", "ok"},
    {"delete.fileBackslash", "error 123"},
    {"delete.invalidName", "error 123"},
    {"delete.left", "error 2"},
    {"write.create", "ok"},
    {"write.appendSyncClose", "ok ok ok ok"},
    {"write.closeAgain", "error 6"},
    {"write.appendAfterClose", "error 6"},
    {"write.content", "abcdef"},
    {"write.truncate", "ok"},
    {"write.truncatedContent", ""},
    {"write.truncateKeepsName", "[out.txt] 18"},
    {"write.directory", "error 5"},
    {"write.missingDirectory", "error 3"},
    {"write.readOnly", "error 5"},
    {"write.trailingBackslash", "error 123"},
    {"write.invalidName", "error 123"},
    {"write.trailingDot", "ok"},
    {"write.trailingDotDropped", "[dot] 18"},
    {"short.existing", "ok"},
    {"short.missing", "error 2"},
    {"short.missingDirectory", "error 2"},
};

}  // namespace

TEST(FileOps, PortableBackendAnswersAsWindows) {
  FileOpsOutcomes actual = RunFileOpsOnImage();
  ASSERT_EQ(actual.size(), kExpected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i], kExpected[i]);
  }
}
