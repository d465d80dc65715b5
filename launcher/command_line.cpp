#include "launcher/command_line.h"

std::string argumentText(const std::string& commandLine) {
  size_t at = 0;
  bool quoted = false;
  while (at < commandLine.size()) {
    const unsigned char c = static_cast<unsigned char>(commandLine[at]);
    if (c == '"') {
      quoted = !quoted;
    } else if (c <= ' ' && !quoted) {
      break;
    }
    ++at;
  }
  while (at < commandLine.size()) {
    const unsigned char c = static_cast<unsigned char>(commandLine[at]);
    if (c < 1 || c > ' ') break;
    ++at;
  }
  return commandLine.substr(at);
}

LaunchMode selectMode(const std::string& argumentText) {
  if (argumentText == "-extract" || argumentText == "--extract" || argumentText == "-x") {
    return LaunchMode::kExtractOnly;
  }
  return LaunchMode::kInstall;
}

bool wantsTextNotice(const std::string& argumentText) { return argumentText == "-text" || argumentText == "text"; }

const char kTextNotice[] =
    "-text is depricated, please use -extract and then run \"java -jar brackenhue.jar text\"\n";
