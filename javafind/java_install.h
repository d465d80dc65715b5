#pragma once
// One candidate Java installation: its folder, its version and what the last
// examination of that folder found. Pure: the folder is examined through a
// JavaProbePlatform.

#include <cstdint>
#include <string>

#include "javafind/java_platform.h"

// The four numbers of a version in the old "1.major.minor_update" form.
struct VersionNumbers {
  int32_t prefix = 1;
  int32_t major = 0;
  int32_t minor = 0;
  int32_t update = 0;
};

// Reads a version text as whole runs of digits. The number part is the
// leading run of digits followed by further runs, each after one "." or "_";
// it ends at the first other character ("22-ea" reads as 22, "17.0.1+12" as
// 17, 0, 1). Then:
//  - a first number of 1 is the old form 1.major.minor_update: "1.8.0_281"
//    gives 1, 8, 0, 281; "1.8.0_05" gives update 5; "1.8" gives 1, 8, 0, 0;
//  - any other first number is the new form major.minor.security, mapped
//    onto the old one so that the two compare: "11.0.2" gives 1, 11, 0, 2;
//    "9.0.4" gives 1, 9, 0, 4; "21" gives 1, 21, 0, 0.
// Numbers that are not there read as 0; numbers past the fourth (old form)
// or third (new form) are ignored; a run too large for 32 bits saturates at
// INT32_MAX.
// Returns false, leaving `version` untouched, when the text does not begin
// with a digit.
bool readVersionNumbers(const std::string& text, VersionNumbers& version);

class JavaInstall {
 public:
  const std::string& getHome() const { return home_; }
  int32_t getPrefix() const { return version_.prefix; }
  int32_t getMajor() const { return version_.major; }
  int32_t getMinor() const { return version_.minor; }
  int32_t getUpdate() const { return version_.update; }
  const VersionNumbers& version() const { return version_; }
  bool isUsable() const { return usable_; }
  bool isJdk() const { return hasCompiler_; }
  bool isJre() const { return !hasCompiler_; }

  // Sets the four numbers from `text` by readVersionNumbers. Returns false,
  // numbers untouched, when the text holds no version. Home and flags are
  // never touched.
  bool setVersion(std::string text);

  // Numeric comparison of prefix, major, minor and update in that order:
  // 1 when this record's version is newer, -1 when older, 0 when equal.
  // Home and flags play no part.
  int32_t compareTo(JavaInstall other) const;

  // "prefix.major.minor_update" in plain decimal: a new record gives
  // "1.0.0_0".
  std::string versionText() const;

  // `home` followed directly by "\bin\java.exe" (javaPath),
  // "\bin\javaw.exe" (javawPath) or "\bin\javac.exe" (javacPath). No
  // separator is added or removed: "C:\jdk\" gives "C:\jdk\\bin\java.exe",
  // and "jre" the relative "jre\bin\java.exe".
  std::string javaPath() const;
  std::string javawPath() const;
  std::string javacPath() const;

  // Sets hasCompiler to whether javacPath() names an existing entry. Home,
  // version and usable are untouched.
  void detectCompiler(JavaProbePlatform& platform);

  // Examines `folder`: sets usable, stores the folder unchanged as home, runs
  // probeVersion, then detectCompiler (also for a folder that is not usable).
  void setHome(std::string folder, JavaProbePlatform& platform);

  // Runs the folder's java with "-version" (see probeCommand, with home made
  // absolute by the platform) and reads its answer (see readProbeAnswer). On success usable is left as it is and the
  // version is set; otherwise usable becomes false and the version keeps the
  // numbers it held.
  void probeVersion(JavaProbePlatform& platform);

 private:
  // Field order as the record is described; copied member by member.
  VersionNumbers version_;
  std::string home_;
  bool hasCompiler_ = false;
  bool usable_ = false;
};
