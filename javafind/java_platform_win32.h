#pragma once
// The real system behind Java discovery: environment, files, registry,
// command interpreter and standard streams.

#include "javafind/java_platform.h"

// A java that has not answered "-version" within this time is ended and
// counts as unusable, so a hung runtime cannot stall the installation.
constexpr unsigned long kProbeTimeoutMs = 60000;

class Win32JavaPlatform : public JavaSearchPlatform {
 public:
  explicit Win32JavaPlatform(unsigned long probeTimeoutMs = kProbeTimeoutMs) : probeTimeoutMs_(probeTimeoutMs) {}

  bool pathExists(const std::string& path) override;
  std::string absolutePath(const std::string& path) override;
  int runProbe(const std::string& command, std::string& output) override;
  bool getEnv(const std::string& name, std::string& value) override;
  bool registrySubkeys(const std::string& keyPath, std::vector<std::string>& names) override;
  bool registryJavaHome(const std::string& keyPath, std::string& data) override;
  std::string expandVariables(const std::string& text) override;
  LocateRun runLocate(const std::string& command, std::string& output) override;
  void writeOut(std::string_view text) override;
  void writeErr(std::string_view text) override;

 private:
  unsigned long probeTimeoutMs_;
};
