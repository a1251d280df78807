// The process entry of sondrel-scan: the raw command line in, the status out.
#include "inspector/scan.h"
#include "inspector/toolmain.h"
#include "platform/scan.h"

int main(int argc, char** argv) {
    g_scanPlatform.keepArguments(argc, argv);
    const WChar* commandLine = g_platform.commandLine(argc, argv);
    g_platform.exitProcess(ScanMain(SkipProgramName(commandLine)));
}
