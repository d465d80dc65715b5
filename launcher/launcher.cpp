#include "launcher/launcher.h"

#include "common/console.h"
#include "launcher/command_line.h"
#include "launcher/exit_code.h"
#include "launcher/installing_plan.h"
#include "payloads/extract_payload.h"
#include "splash/status_model.h"

namespace {

const char kRule[] = "----------------------------\n";

}  // namespace

int runExtractionMode(StatusModel& status) {
  writeOut(std::string(kRule) + "Extracting java installer...\n" + kRule);
  ExtractionFailure failure;
  if (extractPayload("JAR", "JAR", "brackenhue.jar", status, &failure) != 0) {
    writeErr("error: " + extractionErrorLine(failure.error == ExtractionError::kNoPayload, failure.line) + "\n");
    return kExitExtractionFailed;
  }
  writeOut(
      "\nExtraction complete\n"
      "You can now type java -jar brackenhue.jar to run the installer from the command line\n");
  return kExitSuccess;
}

int runLauncher(const std::string& argumentText, void* instance, int showCommand, StatusModel& status) {
  if (selectMode(argumentText) == LaunchMode::kExtractOnly) return runExtractionMode(status);
  if (wantsTextNotice(argumentText)) writeErr(kTextNotice);
  return runInstallingMode(instance, showCommand, status);
}
