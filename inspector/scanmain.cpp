// The process entry of sondrel-scan: the raw command line in, the status out.
#include "inspector/commandline.h"
#include "inspector/scan.h"
#include "platform/platform.h"
#include "platform/scan.h"

int main(int argc, char** argv) {
    g_scanPlatform.keepArguments(argc, argv);
    g_platform.exitProcess(ScanMain(SkipProgramName(ReadCommandLine(argc, argv))));
}
