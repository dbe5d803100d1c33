// The POSIX entry.
#include "app/run.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  return runPosixProgram(argc, argv, kScanChoosesListers);
}
